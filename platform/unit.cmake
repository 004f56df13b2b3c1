# The platform layer's build helpers for programs that use the library.
#
# ovelta_add_resources(<target> <TYPE> <name> <file> [<TYPE> <name> <file>]...)
#   Compiles files into <target> as module resources that FindResourceData, LoadBmpResource and
#   TOvDib::DrawBmpResource find under the target's module handle. TYPE is BITMAP (a .bmp file; its
#   14-byte file header is left out, as the platform keeps bitmap resources) or RCDATA (bytes as
#   they are). A name "#123" is the integer identifier 123.
set(OVELTA_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake CACHE INTERNAL "")
function(ovelta_add_resources target)
  set(args ${ARGN})
  list(LENGTH args count)
  math(EXPR rest "${count} % 3")
  if(count EQUAL 0 OR NOT rest EQUAL 0)
    message(FATAL_ERROR "ovelta_add_resources(${target} TYPE NAME FILE ...): triples expected")
  endif()
  set(entries "")
  set(files "")
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 3)
    math(EXPR j "${i} + 1")
    math(EXPR k "${i} + 2")
    list(GET args ${i} type)
    list(GET args ${j} name)
    list(GET args ${k} file)
    if(NOT type MATCHES "^(BITMAP|RCDATA)$")
      message(FATAL_ERROR "ovelta_add_resources: unknown resource type ${type}")
    endif()
    get_filename_component(file ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND entries "${type}|${name}|${file}")
    list(APPEND files ${file})
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  string(REPLACE ";" "^" packed "${entries}")
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} "-DENTRIES=${packed}" -P ${OVELTA_EMBED_SCRIPT}
    DEPENDS ${files} ${OVELTA_EMBED_SCRIPT}
    COMMENT "Embedding the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()

# The platform layer's window-system extras: the X11 connection for the taskbar hint of the forms.
if(MERLIG_TOOLKIT)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MERLIG_XCB REQUIRED IMPORTED_TARGET xcb)
  target_link_libraries(ovelta PRIVATE PkgConfig::MERLIG_XCB)
endif()
