# `cmake --install` puts libvemla_client, its public headers and a CMake
# package under the prefix, so that another project writes
#   find_package(vemla 0.1 REQUIRED)
#   target_link_libraries(app PRIVATE vemla::vemla_client)
# Headers go to <prefix>/include/vemla/ laid out as in the source tree
# ("vemla/vemla_client.h", "bass/data_wrappers/metadata.h", ...).
include(CMakePackageConfigHelpers)

# The exported API and the data model its headers hand out, with every
# header those include; the package test compiles each one on its own.
set(VEMLA_PUBLIC_HEADERS
  vemla/results.h
  vemla/read.h
  vemla/vemla_client.h
  vemla/kit_definitions.h
  vemla/server_query.h
  bass/data_wrappers/data_table.h
  bass/data_wrappers/data_types.h
  bass/data_wrappers/data_view.h
  bass/data_wrappers/metadata.h
  bass/data_wrappers/metadata_keys.h
  bass/data_wrappers/views.h
  interfaces/read_holder.h
  common/export.h
  common/timestamps.h)

set(VEMLA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vemla)
set(VEMLA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vemla)

foreach(header ${VEMLA_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header}
    DESTINATION ${VEMLA_INSTALL_INCLUDEDIR}/${folder} COMPONENT development)
endforeach()

install(TARGETS vemla_client EXPORT vemlaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(EXPORT vemlaTargets NAMESPACE vemla::
  DESTINATION ${VEMLA_INSTALL_CMAKEDIR} COMPONENT development)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vemlaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/vemlaConfig.cmake
  INSTALL_DESTINATION ${VEMLA_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/vemlaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/package/vemlaConfig.cmake
  ${PROJECT_BINARY_DIR}/package/vemlaConfigVersion.cmake
  DESTINATION ${VEMLA_INSTALL_CMAKEDIR} COMPONENT development)
