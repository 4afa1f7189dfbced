#!/usr/bin/env bash
# Long fuzz run of the SAM/BAM/BAI readers under AddressSanitizer and UBSan:
# the same loop CI runs briefly (BamFuzz in tests/bass/util/bam), with many
# more rounds.
#   scripts/fuzz_bam.sh [rounds] [first seed]      (default: 20000 rounds from seed 1)
# A failure prints the seed that reproduces it:
#   VEMLA_BAM_FUZZ_SEED=<seed> VEMLA_BAM_FUZZ_ITERATIONS=1 build/sanitize/tests/tests_bass --gtest_filter='BamFuzz.*'
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-20000}
seed=${2:-1}

build_dir=$(VEMLA_BUILD_JOBS=${VEMLA_BUILD_JOBS:-3} bash "$root/scripts/build.sh" sanitize | tail -n 1)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export VEMLA_BAM_FUZZ_ITERATIONS=$rounds VEMLA_BAM_FUZZ_SEED=$seed
echo "fuzz_bam: $rounds rounds from seed $seed"
"$build_dir/tests/tests_bass" --gtest_filter='BamFuzz.*'
