# The proxy program: everything but the entry point goes into an object library, so that the tests
# of tests/app link the very same windows, icons and start-up code as the program.
add_library(merlig_app OBJECT
  app/Logf.cpp app/Logf.h app/Mainf.cpp app/Mainf.h app/MainfSession.cpp app/Program.cpp
  app/Program.h app/merlig.qrc)
target_link_libraries(merlig_app PUBLIC ovelta Qt6::Core Qt6::Gui Qt6::Widgets)
set_target_properties(merlig_app PROPERTIES AUTOMOC ON AUTORCC ON)
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
