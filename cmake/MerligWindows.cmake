# What a Windows build adds: GoogleTest built from Debian's sources with the same compiler, and,
# when cross-compiling, Wine to run the tests (and the import check of every .exe and .dll).
if(CMAKE_CROSSCOMPILING)
  # Every program the build runs goes through tools/windows/wine-run.sh: a private Wine prefix
  # under the build directory, made once (wineboot -i) and reused, with Wine's own noise and
  # the Mono/Gecko installers turned off.
  set(MERLIG_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH "The tests' Wine prefix")
  set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_SOURCE_DIR}/tools/windows/wine-run.sh ${MERLIG_WINE_PREFIX})
endif()

# On Windows the programs find their DLLs beside them: everything goes into one directory.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(MERLIG_BUILD_TESTS)
  set(MERLIG_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${MERLIG_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(GTest_FOUND TRUE)  # its CMake file defines GTest::gtest and GTest::gtest_main
endif()
