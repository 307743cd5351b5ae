# The dynamic symbol table of libru3.so: exactly the functions of the export
# tables in the public headers (the family's 115 and the extension's),
# nothing of the C++ runtime that the library's code instantiates
# (templates, type information, function-local statics).
# The linker's version script lists the functions and makes everything else
# local; a symbol that stayed global and unique ("u") would also keep the
# library mapped after dlclose. The script carries no version node, so no
# extra symbol appears.
file(READ ${PROJECT_SOURCE_DIR}/include/ru3/ru3.h ru3_header)
file(READ ${PROJECT_SOURCE_DIR}/include/ru3/ru3_extension.h ru3_extension_header)
string(APPEND ru3_header "${ru3_extension_header}")
string(REGEX MATCHALL "X\\([0-9]+, [A-Za-z0-9_]+\\)" ru3_entries "${ru3_header}")
set(ru3_map "/* Generated from the export tables of include/ru3/ru3.h and ru3_extension.h. */\n{\n  global:\n")
foreach(entry ${ru3_entries})
  string(REGEX REPLACE "X\\([0-9]+, ([A-Za-z0-9_]+)\\)" "\\1" name "${entry}")
  string(APPEND ru3_map "    ${name};\n")
endforeach()
string(APPEND ru3_map "  local:\n    *;\n};\n")
set(RU3_EXPORT_MAP ${PROJECT_BINARY_DIR}/ru3.map)
file(CONFIGURE OUTPUT ${RU3_EXPORT_MAP} CONTENT "${ru3_map}" @ONLY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/include/ru3/ru3.h ${PROJECT_SOURCE_DIR}/include/ru3/ru3_extension.h)
target_link_options(ru3 PRIVATE "LINKER:--version-script=${RU3_EXPORT_MAP}")
# Every reference resolved at link time (a missing library shows here, not in
# a host). Not under the sanitizers: with clang their runtime comes with the
# program, not the library.
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  target_link_options(ru3 PRIVATE "LINKER:--no-undefined")
endif()
set_property(TARGET ru3 APPEND PROPERTY LINK_DEPENDS ${RU3_EXPORT_MAP})
