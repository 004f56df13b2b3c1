# Checks of the Windows build that need no Wine.
#
# Every public header compiles after a plain <windows.h> (min/max macros and all): one translation
# unit per header, built with everything else, so that a header that breaks fails the build.
file(GLOB_RECURSE public_headers RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/platform/*.h ${CMAKE_SOURCE_DIR}/digest/*.h ${CMAKE_SOURCE_DIR}/util/*.h
  ${CMAKE_SOURCE_DIR}/pack/*.h ${CMAKE_SOURCE_DIR}/graphics/*.h ${CMAKE_SOURCE_DIR}/trayicon/*.h)
list(FILTER public_headers EXCLUDE REGEX "_p\\.h$")
set(header_units "")
foreach(header IN LISTS public_headers)
  string(MAKE_C_IDENTIFIER ${header} unit)
  set(unit_file ${CMAKE_CURRENT_BINARY_DIR}/windows_headers/${unit}.cpp)
  file(CONFIGURE OUTPUT ${unit_file}
    CONTENT "// Generated: ${header} after <windows.h>.\n#include <windows.h>\n#include \"${header}\"\n")
  list(APPEND header_units ${unit_file})
endforeach()
add_library(windows_header_check OBJECT ${header_units})
target_include_directories(windows_header_check PRIVATE ${CMAKE_SOURCE_DIR})
merlig_warnings(windows_header_check)

# Every program and DLL imports only Windows' own DLLs and the build's: the MinGW runtime is linked
# in, so the build directory runs as it is on a Windows machine.
if(CMAKE_CROSSCOMPILING)
  find_program(MERLIG_MINGW_OBJDUMP NAMES ${CMAKE_CXX_COMPILER_TARGET}-objdump
    x86_64-w64-mingw32-objdump objdump)
  add_test(NAME Windows.ImportsOnlySystemAndOwnDlls
    COMMAND ${CMAKE_SOURCE_DIR}/tools/windows/check-imports.sh ${CMAKE_BINARY_DIR}
      ${MERLIG_MINGW_OBJDUMP})
endif()
