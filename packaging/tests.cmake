# Tests of the library as hosts use it: its unloading, the examples, the
# Python package against the build tree, and the installed and packaged
# files. Under the sanitizers only what runs on the instrumented build itself.
string(FIND "${CMAKE_CXX_FLAGS}" "-fsanitize" ru3_sanitized)

add_executable(ru3_dlclose_host ${CMAKE_CURRENT_LIST_DIR}/tests/dlclose_host.c)
target_link_libraries(ru3_dlclose_host PRIVATE ${CMAKE_DL_LIBS})
add_test(NAME library_unloads COMMAND ru3_dlclose_host $<TARGET_FILE:ru3>)

add_executable(ru3_example_block ${PROJECT_SOURCE_DIR}/examples/block_capture.c)
target_link_libraries(ru3_example_block PRIVATE ru3 m)
add_test(NAME example_block_capture COMMAND ru3_example_block)
add_test(NAME example_block_capture_forced COMMAND ru3_example_block 0.6)
# The sine read within two codes of its peaks: a record the trigger cut short
# (a machine under load) may miss the sample at the very peak.
set_tests_properties(example_block_capture PROPERTIES ENVIRONMENT "RU3_SIMULATOR=ch1=sine,1.5,1000"
  PASS_REGULAR_EXPRESSION "trigger came\nchannel 1 \\(range 2 V\\): min -1\\.(5000|49[89][0-9]) V, max 1\\.(5000|49[89][0-9]) V")
set_tests_properties(example_block_capture_forced PROPERTIES ENVIRONMENT "RU3_SIMULATOR=ch1=dc,0.3"
  PASS_REGULAR_EXPRESSION "trigger forced after the time-out\nchannel 1 \\(range 2 V\\): min 0.2998 V, max 0.2998 V")

if(ru3_sanitized EQUAL -1)
  # Debian's Python, whatever python3 comes first on PATH: its numpy and
  # pytest are the ones installed.
  find_program(RU3_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(RU3_PYTHON)
    add_test(NAME python_package COMMAND ${RU3_PYTHON} -m pytest -q -p no:cacheprovider ${PROJECT_SOURCE_DIR}/python/tests)
    set_tests_properties(python_package PROPERTIES TIMEOUT 120
      ENVIRONMENT "RU3_LIBRARY=$<TARGET_FILE:ru3>;PYTHONPATH=${PROJECT_SOURCE_DIR}/python;PYTHONDONTWRITEBYTECODE=1")
  endif()
  if(TARGET ru3_cli)
    add_test(NAME installed_files
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/tests/installed.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
    set_tests_properties(installed_files PROPERTIES TIMEOUT 300)
  endif()
endif()
