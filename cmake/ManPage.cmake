# SPDX-License-Identifier: GPL-3.0-or-later
# Manual pages written in Markdown beside the program they describe, turned into roff by
# go-md2man (Debian: go-md2man). AUTO builds them when the converter is there, so a developer
# without it still builds everything else; the package build asks for ON.
include(GNUInstallDirs)
set(TILEPARLOR_MAN_PAGES AUTO CACHE STRING "Build the manual pages: AUTO (when go-md2man is found), ON or OFF")
set_property(CACHE TILEPARLOR_MAN_PAGES PROPERTY STRINGS AUTO ON OFF)
if(NOT TILEPARLOR_MAN_PAGES STREQUAL "OFF")
  find_program(GO_MD2MAN go-md2man)
  if(NOT GO_MD2MAN AND TILEPARLOR_MAN_PAGES STREQUAL "ON")
    message(FATAL_ERROR "TILEPARLOR_MAN_PAGES=ON needs go-md2man (Debian: go-md2man)")
  elseif(NOT GO_MD2MAN)
    message(STATUS "go-md2man not found: no manual pages")
  endif()
endif()

# tileparlor_man_page(NAME.SECTION.md COMPONENT component): the page, built with the default
# target and installed to share/man/manSECTION. @PROJECT_VERSION@ in the source becomes the
# version.
function(tileparlor_man_page source)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "")
  if(NOT GO_MD2MAN OR TILEPARLOR_MAN_PAGES STREQUAL "OFF")
    return()
  endif()
  get_filename_component(page ${source} NAME_WLE)
  if(NOT page MATCHES "^(.+)\\.([1-9])$")
    message(FATAL_ERROR "${source}: a manual page is named NAME.SECTION.md")
  endif()
  set(section ${CMAKE_MATCH_2})
  configure_file(${source} ${CMAKE_CURRENT_BINARY_DIR}/${page}.md @ONLY)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${page}
    COMMAND ${GO_MD2MAN} -in ${CMAKE_CURRENT_BINARY_DIR}/${page}.md
            -out ${CMAKE_CURRENT_BINARY_DIR}/${page}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}.md
    COMMENT "Manual page ${page}")
  add_custom_target(man-${page} ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page})
  set(component)
  if(arg_COMPONENT)
    set(component COMPONENT ${arg_COMPONENT})
  endif()
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} ${component})
endfunction()
