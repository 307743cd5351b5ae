# Makes the Wine prefix PREFIX ready for the Windows tests: initialised once,
# and with an LPT1 device (on /dev/null) that the library's probing and port
# claim can open. A prefix must be initialised before devices are added.
if(NOT EXISTS ${PREFIX}/drive_c/windows)
  set(ENV{WINEPREFIX} ${PREFIX})
  set(ENV{WINEDEBUG} -all)
  execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "wineboot --init failed in ${PREFIX}")
  endif()
endif()
if(NOT IS_SYMLINK ${PREFIX}/dosdevices/lpt1)
  file(CREATE_LINK /dev/null ${PREFIX}/dosdevices/lpt1 SYMBOLIC)
endif()
message(STATUS "Wine prefix ${PREFIX} ready, LPT1 on /dev/null")
