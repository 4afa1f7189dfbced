#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the example and the
# benchmarks need. Idempotent: packages already present are not touched, and
# apt is only consulted when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  libboost-log-dev libboost-thread-dev libboost-filesystem-dev libboost-system-dev
  libboost-date-time-dev libboost-dev
  libzmq3-dev cppzmq-dev
  libflatbuffers-dev flatbuffers-compiler
  rapidjson-dev nlohmann-json3-dev zlib1g-dev
  pybind11-dev python3-dev python3-numpy python3-pytest
  libgtest-dev googletest
  samtools python3-pysam python3-zmq python3-flatbuffers
  clang  # the package check lists the installed headers' declarations from its syntax tree
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install_deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install_deps: installing ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
