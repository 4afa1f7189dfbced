# libvemla_client: every subsystem folder's sources, picked up by glob so that
# a new file needs no edit here.
#
# The sources compile once, with hidden visibility, into an object library.
# From those objects come two libraries:
#   vemla_core   - static; what tests, the test server's clients, benchmarks
#                  and tools link when they use internal classes;
#   vemla_client - the shared library; it exports only what is marked
#                  VEMLA_EXPORT or VEMLA_DATA_EXPORT (the vemla API and the
#                  data model), and its version script keeps the template
#                  instances of other libraries out of its symbol table.
file(GLOB_RECURSE VEMLA_CLIENT_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/common/*.cpp
  ${PROJECT_SOURCE_DIR}/bass/*.cpp
  ${PROJECT_SOURCE_DIR}/interfaces/*.cpp
  ${PROJECT_SOURCE_DIR}/ipc_tools/*.cpp
  ${PROJECT_SOURCE_DIR}/basecall_service/*.cpp
  ${PROJECT_SOURCE_DIR}/vemla/*.cpp)

# The build identifier the software version carries, refreshed on every build.
set(VEMLA_BUILD_ID_SOURCE ${PROJECT_BINARY_DIR}/generated/vemla_build_id.cpp)
add_custom_target(vemla_build_id
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT=${VEMLA_BUILD_ID_SOURCE}
          -P ${PROJECT_SOURCE_DIR}/cmake/VemlaBuildId.cmake
  BYPRODUCTS ${VEMLA_BUILD_ID_SOURCE}
  COMMENT "Checking the build identifier"
  VERBATIM)

add_library(vemla_objects OBJECT ${VEMLA_CLIENT_SOURCES} ${VEMLA_BUILD_ID_SOURCE})
add_dependencies(vemla_objects vemla_build_id)
target_include_directories(vemla_objects PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vemla_objects PUBLIC vemla_deps vemla_ipc_schema)
set_target_properties(vemla_objects PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
vemla_add_warnings(vemla_objects NARROWING)

add_library(vemla_core STATIC $<TARGET_OBJECTS:vemla_objects>)
target_include_directories(vemla_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vemla_core PUBLIC vemla_deps vemla_ipc_schema)

# Its interface is the public headers (laid out as in the source tree) and
# Boost's headers, which the data model's headers use; every other
# dependency stays inside the library.
add_library(vemla_client SHARED $<TARGET_OBJECTS:vemla_objects>)
target_include_directories(vemla_client PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/vemla>)
target_link_libraries(vemla_client PUBLIC Boost::headers PRIVATE vemla_deps vemla_ipc_schema)
# The headers need C++14 at least; consumers get the project's level.
target_compile_features(vemla_client INTERFACE cxx_std_17)
set_target_properties(vemla_client PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
set(VEMLA_CLIENT_VERSION_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/vemla_client.map)
target_link_options(vemla_client PRIVATE -Wl,--version-script=${VEMLA_CLIENT_VERSION_SCRIPT})
set_property(TARGET vemla_client APPEND PROPERTY LINK_DEPENDS ${VEMLA_CLIENT_VERSION_SCRIPT})
if(NOT VEMLA_SANITIZE)
  # Every symbol the library needs must resolve when it is linked, not later
  # in a consumer's link.
  target_link_options(vemla_client PRIVATE -Wl,--no-undefined)
endif()
