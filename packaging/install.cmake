# Install rules: the library with its soname links, the header, pkg-config
# and CMake package files (both relocatable), the ru3 tool with its man page
# and bash completion, and the examples. Components: runtime (libru3.so.1),
# development (header, libru3.so link, ru3.pc, CMake package, examples) and
# tools (ru3); each becomes a Debian package (cpack.cmake).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RU3_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ru3)

install(TARGETS ru3 EXPORT ru3Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/ru3/ru3.h ${PROJECT_SOURCE_DIR}/include/ru3/ru3_extension.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ru3 COMPONENT development)
install(EXPORT ru3Targets NAMESPACE ru3:: DESTINATION ${RU3_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ru3Config.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/ru3Config.cmake INSTALL_DESTINATION ${RU3_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/ru3ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/ru3Config.cmake ${PROJECT_BINARY_DIR}/packaging/ru3ConfigVersion.cmake
  DESTINATION ${RU3_CMAKE_DIR} COMPONENT development)

# ru3.pc finds its prefix from where it lies: lib/pkgconfig -> ../..
file(RELATIVE_PATH RU3_PC_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" RU3_PC_PREFIX "${RU3_PC_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ru3.pc.in ${PROJECT_BINARY_DIR}/packaging/ru3.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/ru3.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

install(FILES ${PROJECT_SOURCE_DIR}/examples/init_host.c ${PROJECT_SOURCE_DIR}/examples/block_capture.c
              ${PROJECT_SOURCE_DIR}/examples/plot_capture.py
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT development)

if(TARGET ru3_cli)
  # The installed tool finds the library beside it in the prefix, never in
  # the build tree.
  set_target_properties(ru3_cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ru3_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/ru3.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/ru3.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ru3 COMPONENT tools)
endif()
