# Installs the library, its headers (by unit folder) and a CMake package, so that another project can
#   find_package(Ovelta CONFIG REQUIRED)  target_link_libraries(x Ovelta::core)  #include <pack/Ovpack.h>
# (Ovelta::core: no toolkit; Ovelta::ovelta, which links it, adds the surface, tray icon and sockets)
# and the programs with their desktop entry, icon, man pages and system service. Every rule belongs
# to one of three components, the Debian packages of cmake/MerligPackage.cmake: merlig (the proxy),
# libovelta0 (the shared libraries) and libovelta-dev (headers, CMake package, ovpack).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS ovelta_core ovelta EXPORT OveltaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libovelta0 NAMELINK_COMPONENT libovelta-dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libovelta-dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libovelta0)
foreach(dir IN ITEMS platform digest trayicon util pack graphics)
  install(DIRECTORY ${dir}/ DESTINATION include/ovelta/${dir} COMPONENT libovelta-dev
    FILES_MATCHING PATTERN "*.h" PATTERN "*_p.h" EXCLUDE)
endforeach()
install(EXPORT OveltaTargets NAMESPACE Ovelta:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ovelta
  COMPONENT libovelta-dev)
configure_package_config_file(cmake/OveltaConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/OveltaConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ovelta)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OveltaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OveltaConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/OveltaConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ovelta COMPONENT libovelta-dev)
install(TARGETS merlig RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT merlig)
install(FILES app/merlig.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT merlig)

# Run paths. The installed programs find libovelta.so.0 through an absolute run path naming the lib
# directory of the prefix they are installed to: a relative ($ORIGIN) one would be ignored once
# the program is granted a file capability (secure mode), as merlig is for port 110. The prefix is
# only known at install time (cmake --install --prefix, or a package's /usr), so the path is set
# then; a prefix whose lib directory the loader searches anyway gets no run path at all. CMake
# can only rewrite a run path within the room the linker left, so the build tree's run path is
# padded (with "/." steps, which name the same directory) to leave room for a long prefix.
set(merlig_rpath_room 256)
set(merlig_rpath_padding "${CMAKE_BINARY_DIR}")
string(LENGTH "${merlig_rpath_padding}" merlig_rpath_length)
while(merlig_rpath_length LESS merlig_rpath_room)
  string(APPEND merlig_rpath_padding "/.")
  math(EXPR merlig_rpath_length "${merlig_rpath_length} + 2")
endwhile()
foreach(program merlig ovpack)
  if(NOT TARGET ${program})
    continue()
  endif()
  set_target_properties(${program} PROPERTIES
    BUILD_RPATH "${merlig_rpath_padding}"
    INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  if(program STREQUAL "merlig")
    set(program_component merlig)
  else()
    set(program_component libovelta-dev)
  endif()
  install(CODE "
    set(libdir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
    set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\")
    if(libdir MATCHES \"^/(usr/)?lib(/${CMAKE_LIBRARY_ARCHITECTURE})?/?\$\")
      file(RPATH_REMOVE FILE \"\${file}\")
    else()
      file(RPATH_SET FILE \"\${file}\" NEW_RPATH \"\${libdir}\")
    endif()" COMPONENT ${program_component})
endforeach()

# Man pages, compressed as Debian installs them.
set(VERSION ${PROJECT_VERSION})
foreach(page merlig.1 ovpack.1)
  configure_file(doc/man/${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${page} @ONLY)
endforeach()
add_custom_command(OUTPUT man/merlig.1.gz man/ovpack.1.gz
  COMMAND gzip -9nfk man/merlig.1 man/ovpack.1
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/merlig.1 ${CMAKE_CURRENT_BINARY_DIR}/man/ovpack.1
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_custom_target(man_pages ALL DEPENDS man/merlig.1.gz man/ovpack.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/merlig.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT merlig)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/ovpack.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT libovelta-dev)

# The system service, installed but not enabled; it names the program where it is installed.
install(CODE "
  set(MERLIG_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/merlig\")
  configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/app/merlig.service.in\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/merlig.service\" @ONLY)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/merlig.service\")"
  COMPONENT merlig)

# Each package carries the copyright file, which states the licence (MIT, the text of LICENSE), in
# its documentation directory.
foreach(component merlig libovelta0 libovelta-dev)
  install(FILES doc/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${component}
    COMPONENT ${component})
endforeach()
