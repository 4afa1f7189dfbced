# Every third-party dependency is found here, once, and exposed as imported
# targets; project CMake files only link these.
set(Boost_NO_WARN_NEW_VERSIONS ON)
find_package(Boost 1.74 REQUIRED COMPONENTS log log_setup thread filesystem system date_time)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
# Header-only and in the compiler's default include path (the client API
# parses the server's state with it).
find_package(RapidJSON 1.1 REQUIRED CONFIG)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZMQ REQUIRED IMPORTED_TARGET libzmq)
find_package(FlatBuffers REQUIRED CONFIG)
find_program(FLATC_EXECUTABLE flatc REQUIRED)

# Debian's python3 (with its numpy) rather than whatever is first on PATH.
if(NOT Python_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python_EXECUTABLE /usr/bin/python3)
endif()
if(VEMLA_BUILD_PYTHON)
  # The module builds for this interpreter; pybind11 finds it through the
  # Python targets made here.
  find_package(Python 3 REQUIRED COMPONENTS Interpreter Development.Module)
  find_package(pybind11 2.6 CONFIG REQUIRED)
else()
  find_package(Python 3 REQUIRED COMPONENTS Interpreter)
endif()

if(VEMLA_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()

add_library(vemla_deps INTERFACE)
target_compile_definitions(vemla_deps INTERFACE BOOST_LOG_DYN_LINK BOOST_ALL_DYN_LINK)
target_link_libraries(vemla_deps INTERFACE
  Boost::log Boost::log_setup Boost::thread Boost::filesystem Boost::system Boost::date_time
  PkgConfig::ZMQ flatbuffers::flatbuffers_shared ZLIB::ZLIB nlohmann_json::nlohmann_json
  Threads::Threads)
