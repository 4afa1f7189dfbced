#!/usr/bin/env bash
# The main job: installs what is missing, builds the example (and only what
# it needs) and runs it. The example streams reads through the client library
# to a basecall server (by default the bundled test server) and writes them
# to a sorted, indexed BAM file.
# Options go to the example (--help lists them), which runs in the caller's
# folder, so relative paths mean what they say; without --output the BAM
# file goes to the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install_deps.sh" build
build_dir=$(bash "$root/scripts/build.sh" release vemla_example | tail -n 1)
args=("$@")
if [[ " ${args[*]-} " != *" --output "* ]]; then
  args+=(--output "$build_dir/vemla_example.bam")
fi
exec "$build_dir/examples/vemla_example" "${args[@]}"
