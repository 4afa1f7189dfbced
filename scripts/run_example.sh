#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the example.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install_deps.sh
build_dir=$(bash scripts/build.sh release | tail -n 1)
exec "$build_dir/examples/vemla_example" "$@"
