# Installs the library, its headers (by unit folder) and a CMake package, so that another project can
#   find_package(Ovelta CONFIG REQUIRED)  target_link_libraries(x Ovelta::ovelta)  #include <pack/Ovpack.h>
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS ovelta EXPORT OveltaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(dir IN LISTS OVELTA_UNIT_DIRS)
  install(DIRECTORY ${dir}/ DESTINATION include/ovelta/${dir}
    FILES_MATCHING PATTERN "*.h" PATTERN "*_p.h" EXCLUDE)
endforeach()
install(EXPORT OveltaTargets NAMESPACE Ovelta:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ovelta)
configure_package_config_file(cmake/OveltaConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/OveltaConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ovelta)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OveltaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OveltaConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/OveltaConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ovelta)
install(TARGETS merlig RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/app/merlig.desktop)
  install(FILES app/merlig.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
