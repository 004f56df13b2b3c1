# The platform layer's window-system extras: the X11 connection for the taskbar hint of the forms.
find_package(PkgConfig REQUIRED)
pkg_check_modules(MERLIG_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(ovelta PRIVATE PkgConfig::MERLIG_XCB)
