# Everything that makes the library usable outside its build tree, one file
# per concern: the export map, install rules, Debian packages, the API
# reference, and the tests of all of them (with the Python package's).
include(${CMAKE_CURRENT_LIST_DIR}/exports.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/install.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/cpack.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/docs.cmake)
if(RU3_BUILD_TESTS)
  include(${CMAKE_CURRENT_LIST_DIR}/tests.cmake)
endif()
