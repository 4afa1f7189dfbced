#!/usr/bin/env bash
# The installed package as another project sees it:
#   1. installed into a scratch prefix (nothing is written into the build
#      tree, so runs on one tree may overlap);
#   2. the shared library carries its SONAME and exports the vemla API and
#      the data model only: no other library's template instances, and no
#      name that mentions an internal namespace anywhere in it;
#   3. every function an installed header declares is exported, so whatever
#      compiles against the headers also links;
#   4. every installed header compiles on its own in a fresh C++ file under
#      strict flags, and none below vemla/ includes a vemla/ header;
#   5. a private, hidden copy of the data model (what the Python module
#      compiles in) exports none of the library's data-model symbols;
#   6. a consumer project finds the package with find_package(vemla), links
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
# The first lines of a list, demangled, for a failure message.
listing() { head -n 20 | c++filt; }

prefix=$work/prefix
bash "$here/install_into.sh" "$build_dir" "$prefix"
include_dir=$prefix/include/vemla
library=$(find "$prefix/lib" -name 'libvemla_client.so.*.*' | head -n 1)
[[ -f "$library" ]] || fail "no libvemla_client.so.X.Y installed"
[[ -n "$(find "$prefix" -name vemlaConfig.cmake)" ]] || fail "no CMake package installed"
(cd "$include_dir" && find . -name '*.h' | sed 's|^\./||' | sort) > "$work/headers"
[[ -s "$work/headers" ]] || fail "no headers installed"

echo "--- what the installed headers declare"
sed 's/.*/#include "&"/' "$work/headers" > "$work/all_headers.cpp"
clang++ -std=c++17 -fsyntax-only -Xclang -ast-dump=json -I"$include_dir" "$work/all_headers.cpp" \
  | /usr/bin/python3 "$here/declared_functions.py" "$include_dir" > "$work/declared" \
  || fail "could not list the declarations of the installed headers"
awk '{print $1}' "$work/declared" | sort -u > "$work/declared_names"
echo "$(wc -l < "$work/declared_names") functions and variables declared"

echo "--- library"
soname=$(readelf -d "$library" | sed -n 's/.*SONAME.*\[\(.*\)\].*/\1/p')
[[ "$soname" == "libvemla_client.so.0" ]] || fail "SONAME is '$soname'"
nm -D --defined-only "$library" | awk '{print $3}' | sort -u > "$work/exported"
c++filt < "$work/exported" > "$work/exported_demangled"
# By mangled name, whose leading scope is unambiguous: functions and data
# (_ZN, with qualifiers), vtables, VTTs and type information (_ZT?N) of the
# vemla API and of the data model its headers hand out.
api_scope='^_Z(T[VTIS])?N[rVKRO]*(5vemla|4bass13data_wrappers|10interfaces|6common11diagnostics7timings)'
outside=$(grep -Ev "$api_scope" "$work/exported" || true)
[[ -z "$outside" ]] || fail "exported beyond the API and the data model:"$'\n'"$(listing <<<"$outside")"
# Anywhere in a name, as a template argument or a parameter type too.
internal='(^|[^[:alnum:]_:])(common|ipc_tools|basecall_service|vemla_ipc|test_server|flatbuffers|zmq|nlohmann|rapidjson)::|bass::util::|boost::log::'
# A function the API declares with an engine type in its signature is the
# API's own (vemla::to_connection_status); anything else naming one is not.
mentions=$(comm -23 "$work/exported" "$work/declared_names" | c++filt \
  | sed 's/common::diagnostics::timings:://g' | grep -E "$internal" || true)
[[ -z "$mentions" ]] || fail "exported names mention internal namespaces:"$'\n'"$(head -n 20 <<<"$mentions")"
grep -q '^vemla::VemlaClient::connect()' "$work/exported_demangled" || fail "vemla::VemlaClient::connect is not exported"
grep -q '^bass::data_wrappers::MapWrapper::merge(' "$work/exported_demangled" || fail "the data model is not exported"
echo "SONAME $soname; $(wc -l < "$work/exported") exported symbols, all of the API and the data model"

echo "--- every declared function links"
unexported=$(comm -23 "$work/declared_names" "$work/exported")
[[ -z "$unexported" ]] || fail "declared in installed headers but not exported:"$'\n'"$(listing <<<"$unexported")"
echo "every declared function and variable is exported"

echo "--- each installed header on its own"
cxx=${CXX:-c++}
strict=(-std=c++17 -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wconversion -Werror)
while read -r header; do
  name=${header//\//_}
  printf '#include "%s"\n' "$header" > "$work/$name.cpp"
  echo "$work/$name.cpp"
done < "$work/headers" | xargs -P 4 -I{} "$cxx" "${strict[@]}" -fsyntax-only -I"$include_dir" {} \
  || fail "an installed header does not compile alone with ${strict[*]}"
upward=$(grep -v '^vemla/' "$work/headers" | (cd "$include_dir" && xargs grep -l '#include "vemla/') || true)
[[ -z "$upward" ]] || fail "headers below the API include vemla/ headers:"$'\n'"$upward"
echo "$(wc -l < "$work/headers") headers compile alone with ${strict[*]}"

echo "--- a private copy of the data model stays hidden"
"$cxx" -std=c++17 -shared -fPIC -fvisibility=hidden -fvisibility-inlines-hidden -DVEMLA_PRIVATE_DATA_MODEL \
  -I"$source_dir" -o "$work/private_copy.so" "$source_dir"/bass/data_wrappers/*.cpp
copied=$(nm -DC --defined-only "$work/private_copy.so" | grep -E 'bass::data_wrappers|interfaces::' || true)
[[ -z "$copied" ]] || fail "the private copy exports data-model symbols:"$'\n'"$(head -n 5 <<<"$copied")"
echo "the private copy exports no data-model symbol"

echo "--- consumer project"
cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$work/consumer" > "$work/consumer_build.log" 2>&1 \
  || { tail -n 30 "$work/consumer_build.log"; fail "the consumer project does not build"; }
consumer=$work/consumer/vemla_consumer
grep -q "libvemla_client.so.0 => $prefix/" <<<"$(ldd "$consumer")" || fail "consumer does not load the installed library"

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
