# Rebuilds the example LOC file and compares it with the bundled one.
execute_process(COMMAND ${EMULATOR} ${MAKER} ${ACTUAL} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_example failed: ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${EXPECTED} ${ACTUAL} RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "examples/languages.loc differs from what make_example writes; "
                      "run make_example examples/languages.loc")
endif()
