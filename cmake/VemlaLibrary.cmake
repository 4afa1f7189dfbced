# libvemla_client: every subsystem folder's sources, picked up by glob so that
# a new file needs no edit here.
file(GLOB_RECURSE VEMLA_CLIENT_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/common/*.cpp
  ${PROJECT_SOURCE_DIR}/bass/*.cpp
  ${PROJECT_SOURCE_DIR}/interfaces/*.cpp
  ${PROJECT_SOURCE_DIR}/ipc_tools/*.cpp
  ${PROJECT_SOURCE_DIR}/basecall_service/*.cpp
  ${PROJECT_SOURCE_DIR}/vemla/*.cpp)

add_library(vemla_client SHARED ${VEMLA_CLIENT_SOURCES})
target_include_directories(vemla_client PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vemla_client PUBLIC vemla_deps vemla_ipc_schema)
vemla_add_warnings(vemla_client)
set_target_properties(vemla_client PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
