# Debian packages, one per install component: libru3-1 (the runtime
# library), libru3-dev (header, pkg-config and CMake files, examples) and
# ru3-tools (the ru3 tool). `cpack -G DEB` in the build tree makes them; the
# dependencies on system libraries come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME ru3)
set(CPACK_PACKAGE_VENDOR "RU3 driver developers")
set(CPACK_PACKAGE_CONTACT "RU3 driver developers <ru3@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver of the RU3 two-channel 12-bit printer-port oscilloscope")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The tool's dependency on libru3.so.1 is found in the runtime package's tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libru3-1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "RU3 oscilloscope driver library\n The driver of the RU3, a two-channel 12-bit digitising oscilloscope on the\n PC printer port, with a simulator of the instrument for hosts without one.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libru3-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "RU3 oscilloscope driver library: development files\n The C header, pkg-config and CMake package files, and example hosts.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ru3-tools)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "RU3 oscilloscope command-line tool\n ru3: see, save and plot a measurement, drive the DAC and motor outputs,\n decode a port trace.")
include(CPack)
