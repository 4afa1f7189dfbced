#!/usr/bin/env bash
# The installed package as another project sees it:
#   1. installed into a scratch prefix (nothing is written into the build
#      tree, so runs on one tree may overlap);
#   2. the shared library carries its SONAME and exports no internal namespace;
#   3. every installed header compiles on its own in a fresh C++ file;
#   4. a private, hidden copy of the data model (what the Python module
#      compiles in) exports none of the library's data-model symbols;
#   5. a consumer project finds the package with find_package(vemla), links
#      vemla::vemla_client, and runs against the bundled test server.
#   check_package.sh BUILD_DIR TEST_SERVER_EXECUTABLE
set -euo pipefail
build_dir=$1
test_server=$2
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
server_pid=
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check_package: $*" >&2; exit 1; }

prefix=$work/prefix
bash "$here/install_into.sh" "$build_dir" "$prefix"
include_dir=$prefix/include/vemla
library=$(find "$prefix/lib" -name 'libvemla_client.so.*.*' | head -n 1)
[[ -f "$library" ]] || fail "no libvemla_client.so.X.Y installed"
find "$prefix" -name vemlaConfig.cmake | grep -q . || fail "no CMake package installed"

echo "--- library"
soname=$(readelf -d "$library" | sed -n 's/.*SONAME.*\[\(.*\)\].*/\1/p')
[[ "$soname" == "libvemla_client.so.0" ]] || fail "SONAME is '$soname'"
# Functions and objects only: type information of internal enumerations used
# in templates is emitted as weak default symbols, harmlessly.
exports=$(nm -DC --defined-only "$library" | cut -c20- | grep -Ev '^(vtable|typeinfo|typeinfo name|VTT|guard variable) for ')
leaked=$(grep -E '^(ipc_tools|basecall_service|vemla_ipc|flatbuffers|zmq|nlohmann|test_server)::|^common::(diagnostics::(state|tracing)|logging|contract)' <<<"$exports" || true)
[[ -z "$leaked" ]] || fail "internal symbols exported:"$'\n'"$(head -n 20 <<<"$leaked")"
grep -q '^vemla::VemlaClient::connect()' <<<"$exports" || fail "vemla::VemlaClient::connect is not exported"
grep -q '^bass::data_wrappers::MapWrapper::merge(' <<<"$exports" || fail "the data model is not exported"
echo "SONAME $soname; $(wc -l <<<"$exports") exported symbols, none internal"

echo "--- each installed header on its own"
cxx=${CXX:-c++}
(cd "$include_dir" && find . -name '*.h' | sed 's|^\./||' | sort) > "$work/headers"
[[ -s "$work/headers" ]] || fail "no headers installed"
while read -r header; do
  name=${header//\//_}
  printf '#include "%s"\n' "$header" > "$work/$name.cpp"
  echo "$work/$name.cpp"
done < "$work/headers" | xargs -P 4 -I{} "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$include_dir" {}
echo "$(wc -l < "$work/headers") headers compile alone"

echo "--- a private copy of the data model stays hidden"
"$cxx" -std=c++17 -shared -fPIC -fvisibility=hidden -fvisibility-inlines-hidden -DVEMLA_PRIVATE_DATA_MODEL \
  -I"$source_dir" -o "$work/private_copy.so" \
  "$source_dir"/bass/data_wrappers/{metadata,data_view,data_table,data_types}.cpp
copied=$(nm -DC --defined-only "$work/private_copy.so" | grep -E 'bass::data_wrappers|interfaces::' || true)
[[ -z "$copied" ]] || fail "the private copy exports data-model symbols:"$'\n'"$(head -n 5 <<<"$copied")"
echo "the private copy exports no data-model symbol"

echo "--- consumer project"
cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$work/consumer" >/dev/null
consumer=$work/consumer/vemla_consumer
ldd "$consumer" | grep -q "libvemla_client.so.0 => $prefix/" || fail "consumer does not load the installed library"

"$test_server" --endpoint 'tcp://127.0.0.1:*' > "$work/server.out" 2>&1 &
server_pid=$!
endpoint=
for _ in $(seq 100); do
  endpoint=$(sed -n 's/^endpoint: //p' "$work/server.out")
  [[ -n "$endpoint" ]] && break
  sleep 0.1
done
[[ -n "$endpoint" ]] || fail "the test server did not start: $(cat "$work/server.out")"
"$consumer" "$endpoint" > "$work/consumer.out" || { cat "$work/consumer.out"; fail "the consumer failed"; }
sam_lines=$(grep -c '^consumer_read_' "$work/consumer.out" || true)
[[ "$sam_lines" -ge 5 ]] || { cat "$work/consumer.out"; fail "expected SAM lines of 5 reads, got $sam_lines"; }
tail -n 1 "$work/consumer.out"
