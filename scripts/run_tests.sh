#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test in three flavours:
# the normal build (warnings as errors), the AddressSanitizer + UBSan build, and
# the ThreadSanitizer build of the concurrency tests; then the benchmarks'
# short settings in the normal build. VEMLA_BUILD_ROOT and VEMLA_BUILD_JOBS
# mean what they mean to build.sh (jobs also caps the tests run at once).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install_deps.sh
jobs=${VEMLA_BUILD_JOBS:-$(nproc)}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Leak reports from interpreter-hosted code (pytest) are not ours to judge.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}

release_dir=
for flavour in release sanitize tsan; do
  echo "=== $flavour build ==="
  build_dir=$(bash scripts/build.sh "$flavour" | tail -n 1)
  if [[ $flavour == release ]]; then
    release_dir=$build_dir
  fi
  echo "=== $flavour tests ==="
  ctest --test-dir "$build_dir" --output-on-failure --parallel "$jobs" --timeout 600
done

for smoke in bench_smoke bench_engine_smoke bench_facade_smoke; do
  if [[ -x "$release_dir/bench/$smoke" ]]; then
    echo "=== benchmark smoke run: $smoke ==="
    "$release_dir/bench/$smoke"
  fi
done

if [[ -x "$release_dir/bench/bench_client_reads" ]]; then
  echo "=== vemlapy benchmark smoke run ==="
  /usr/bin/python3 bench/vemlapy_bench.py --build "$release_dir" --reads 200 --samples 4000 --rounds 1
fi
