#!/usr/bin/env bash
# Soaks the engine and the client API against the bundled test server with
# random faults, many client lifetimes in a row; prints its figures every
# minute and exits non-zero on any violation. Not part of CI.
#   scripts/soak_engine.sh [minutes [seed [--verbose]]]   (default: 20 minutes, a random seed)
# Runs in the sanitize build (AddressSanitizer + UBSan); VEMLA_SOAK_FLAVOUR=release
# runs it in the release build instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-20}
seed=${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
shift $(( $# < 2 ? $# : 2 ))
flavour=${VEMLA_SOAK_FLAVOUR:-sanitize}

build_dir=$(bash "$root/scripts/build.sh" "$flavour" | tail -n 1)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build_dir/tests/soak/vemla_engine_soak" --minutes "$minutes" --seed "$seed" "$@"
