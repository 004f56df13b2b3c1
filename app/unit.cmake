# The proxy program: everything but the entry point goes into an object library, so that the tests
# of tests/app link the very same windows, icons and start-up code as the program.
#
# The icons are compiled in by rcc, whose output would register them from a static initializer:
# toolkit code running before main(), where the program still holds its capability. That
# initializer is cut out; TMainForm registers the icons when it is made (qInitResources_merlig).
file(GLOB merlig_icons CONFIGURE_DEPENDS app/icons/*/*.xpm)
set(merlig_resources ${CMAKE_CURRENT_BINARY_DIR}/app/qrc_merlig.cpp)
add_custom_command(OUTPUT ${merlig_resources}
  COMMAND Qt6::rcc --name merlig -o ${merlig_resources}.rcc
    ${CMAKE_CURRENT_SOURCE_DIR}/app/merlig.qrc
  COMMAND ${CMAKE_COMMAND} -DIN=${merlig_resources}.rcc -DOUT=${merlig_resources}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/app/ResourcesWithoutInitializer.cmake
  DEPENDS app/merlig.qrc ${merlig_icons} app/ResourcesWithoutInitializer.cmake
  COMMENT "Compiling the icons of merlig"
  VERBATIM)
add_library(merlig_app OBJECT
  app/Logf.cpp app/Logf.h app/Mainf.cpp app/Mainf.h app/MainfSession.cpp app/Program.cpp
  app/Program.h ${merlig_resources})
target_link_libraries(merlig_app PUBLIC ovelta Qt6::Core Qt6::Gui Qt6::Widgets)
set_target_properties(merlig_app PROPERTIES AUTOMOC ON)
merlig_warnings(merlig_app)

add_executable(merlig app/main.cpp)
target_link_libraries(merlig PRIVATE merlig_app)
target_compile_definitions(merlig PRIVATE MERLIG_VERSION="${PROJECT_VERSION}")
merlig_warnings(merlig)

# The desktop entry (installed by the top level) names the icon "merlig".
include(GNUInstallDirs)
install(FILES app/icons/MAINICON/32.xpm DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps RENAME merlig.xpm
  COMPONENT merlig)

# The screenshot harness: the program on ports of one's choosing (built only when asked for).
add_executable(merlig_screenshot EXCLUDE_FROM_ALL
  tests/app/screenshot_harness.cpp)
target_link_libraries(merlig_screenshot PRIVATE merlig_app)
merlig_warnings(merlig_screenshot)
