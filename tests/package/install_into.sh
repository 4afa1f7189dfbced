#!/usr/bin/env bash
# Installs a build tree into PREFIX as `cmake --install` does, but writes
# nothing into the build tree, so that installs from one tree may run side by
# side. CMake's install script ends by writing its manifest of installed files
# into the build tree; a copy of the script with that one path moved into a
# scratch folder runs instead.
#   install_into.sh BUILD_DIR PREFIX [COMPONENT...]   (no component: all)
set -euo pipefail
build_dir=$(cd "$1" && pwd)
prefix=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

manifest_write="file(WRITE \"$build_dir/\${CMAKE_INSTALL_MANIFEST}\""
script=$(<"$build_dir/cmake_install.cmake")
[[ "$script" == *"$manifest_write"* ]] || {
  echo "install_into: $build_dir/cmake_install.cmake does not write its manifest as expected" >&2
  exit 1
}
printf '%s\n' "${script//"$manifest_write"/"file(WRITE \"$scratch/\${CMAKE_INSTALL_MANIFEST}\""}" \
  > "$scratch/cmake_install.cmake"

components=("$@")
[[ ${#components[@]} -gt 0 ]] || components=("")
for component in "${components[@]}"; do
  cmake -DCMAKE_INSTALL_PREFIX="$prefix" ${component:+-DCMAKE_INSTALL_COMPONENT="$component"} \
    -P "$scratch/cmake_install.cmake" >/dev/null
done
