#!/usr/bin/env bash
# Installs the Debian packages a job needs:
#   scripts/install_deps.sh [build|all]   (default: all)
#     build  what configuring and building every target takes (the main job)
#     all    that, and what the tests and benchmarks run against
# Idempotent: packages already present are not touched, and apt is only
# consulted when something is missing.
set -euo pipefail

build_packages=(
  build-essential cmake ninja-build ccache pkg-config
  libboost-log-dev libboost-thread-dev libboost-filesystem-dev libboost-system-dev
  libboost-date-time-dev libboost-dev
  libzmq3-dev cppzmq-dev
  libflatbuffers-dev flatbuffers-compiler
  rapidjson-dev nlohmann-json3-dev zlib1g-dev
  pybind11-dev python3-dev python3-numpy
  libgtest-dev googletest
)
test_packages=(
  python3-pytest samtools python3-pysam python3-zmq python3-flatbuffers
  clang  # the package check lists the installed headers' declarations from its syntax tree
)

case "${1:-all}" in
  build) packages=("${build_packages[@]}") ;;
  all)   packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "install_deps: unknown set '$1' (build or all)" >&2; exit 2 ;;
esac

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
