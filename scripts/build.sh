#!/usr/bin/env bash
# Configures and builds one flavour of the project, and prints its build
# folder on the last line of standard output.
#   scripts/build.sh [release|sanitize|tsan] [target...]
#     release   optimised, with debug information (the default)
#     sanitize  AddressSanitizer and UndefinedBehaviorSanitizer, every test
#     tsan      ThreadSanitizer: the library, the test server and the
#               concurrency tests only
#   Targets given build only those and what they need; none builds them all.
# Build trees live in build/<flavour> below the project root (ignored by git);
# VEMLA_BUILD_ROOT moves them elsewhere; VEMLA_BUILD_JOBS caps parallel jobs.
# Warnings are errors, as in CI; VEMLA_WERROR=OFF makes them warnings again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
targets=("${@:2}")
build_root=${VEMLA_BUILD_ROOT:-$root/build}
build_dir=$build_root/$flavour
jobs=${VEMLA_BUILD_JOBS:-$(nproc)}
# Paths relative to the checkout let ccache share results between checkouts.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}

cmake_args=(-G Ninja -DPython_EXECUTABLE=/usr/bin/python3 -DVEMLA_WERROR=${VEMLA_WERROR:-ON})
case "$flavour" in
  release)  cmake_args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  sanitize) cmake_args+=(-DCMAKE_BUILD_TYPE=Debug -DVEMLA_SANITIZE=ON -DVEMLA_BUILD_BENCHMARKS=OFF) ;;
  tsan)     cmake_args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMLA_TSAN=ON -DVEMLA_BUILD_BENCHMARKS=OFF -DVEMLA_BUILD_PYTHON=OFF) ;;
  *) echo "build.sh: unknown flavour '$flavour' (release, sanitize or tsan)" >&2; exit 2 ;;
esac

build_args=(--parallel "$jobs")
[[ ${#targets[@]} -eq 0 ]] || build_args+=(--target "${targets[@]}")

cmake -S "$root" -B "$build_dir" "${cmake_args[@]}" >&2
cmake --build "$build_dir" "${build_args[@]}" >&2
echo "$build_dir"
