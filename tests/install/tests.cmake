# Script tests of the built programs and of what `cmake --install` and cpack make of this build
# tree. The install and package tests need the whole build (they install it); the first takes port
# 110, which nothing else in the suite uses.
include(GNUInstallDirs)
# A toolkit plugin that a local user might plant for the capable merlig to load (it must not).
add_library(planted_plugin MODULE ${CMAKE_CURRENT_LIST_DIR}/planted_plugin/PlantedPlugin.cpp)
target_link_libraries(planted_plugin PRIVATE Qt6::Gui)
set_target_properties(planted_plugin PROPERTIES AUTOMOC ON)
add_test(NAME Install.ProgramsRunFromATemporaryPrefix
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}
    ${CMAKE_CXX_COMPILER} "$<$<BOOL:${MERLIG_SANITIZE}>:-fsanitize=address,undefined>"
    $<TARGET_FILE:planted_plugin>)
set_tests_properties(Install.ProgramsRunFromATemporaryPrefix PROPERTIES
  SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK port110
  ENVIRONMENT_MODIFICATION "LSAN_OPTIONS=set:suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
# Packages are made of release builds only: the sanitizer build skips them.
if(NOT MERLIG_SANITIZE)
  add_test(NAME Install.DebianPackagesBuildAndInstallIntoAScratchRoot
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}
      ${CMAKE_INSTALL_LIBDIR})
  set_tests_properties(Install.DebianPackagesBuildAndInstallIntoAScratchRoot PROPERTIES TIMEOUT 600)
endif()

# ovpack and the tests of ovelta_core load no toolkit library: ldd names no Qt, X11 or xcb library.
set(core_programs ovpack ${core_test_targets})
list(TRANSFORM core_programs REPLACE "^(.+)$" "$<TARGET_FILE:\\1>")
add_test(NAME Build.CoreProgramsNeedNoToolkit
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/no_toolkit_test.sh ${core_programs})

# The sources include only what their layer may use, and Qt only where the toolkit belongs.
add_test(NAME Build.IncludesFollowTheLayers
  COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-layers.sh ${CMAKE_SOURCE_DIR})
