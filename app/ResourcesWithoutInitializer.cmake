# Cuts the static initializer out of rcc's output, so that the resources are registered only when
# the program calls qInitResources_<name>() (run by app/unit.cmake).
#   cmake -DIN=<rcc output> -DOUT=<file.cpp> -P ResourcesWithoutInitializer.cmake
file(READ ${IN} code)
string(FIND "${code}" "namespace {\n   struct initializer {" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${IN}: rcc wrote no static initializer where one was expected")
endif()
string(SUBSTRING "${code}" 0 ${start} code)
string(APPEND code "// The static initializer rcc writes here is left out: see app/unit.cmake.\n")
file(WRITE ${OUT}.tmp "${code}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
