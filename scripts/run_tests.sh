#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in the normal
# build (-Wall -Wextra) and in the AddressSanitizer + UBSan build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install_deps.sh
jobs=$(nproc)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Leak reports from interpreter-hosted code (pytest) are not ours to judge.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}

for flavour in release sanitize; do
  echo "=== $flavour build ==="
  build_dir=$(bash scripts/build.sh "$flavour" | tail -n 1)
  echo "=== $flavour tests ==="
  ctest --test-dir "$build_dir" --output-on-failure --parallel "$jobs" --timeout 600
done

for smoke in bench_smoke bench_engine_smoke bench_facade_smoke; do
  if [[ -x "$root/build/release/bench/$smoke" ]]; then
    echo "=== benchmark smoke run: $smoke ==="
    "$root/build/release/bench/$smoke"
  fi
done

if [[ -x "$root/build/release/bench/bench_client_reads" ]]; then
  echo "=== vemlapy benchmark smoke run ==="
  /usr/bin/python3 bench/vemlapy_bench.py --reads 200 --samples 4000 --rounds 1
fi
