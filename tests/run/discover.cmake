# Included by CTest when it starts (a TEST_INCLUDE_FILES entry that kestrune_add_test writes for
# each Windows test program): lists the program's tests, once per build of it, and adds one test
# that runs the program once for all of them (run_program.sh) and one test per case that reads
# its result (case_result.awk). Each program is then one Wine process (and one more when a test
# ends it), where it was one per test, and every test keeps its line.
#
# Set by the includer: KESTRUNE_PROGRAM (the program's file), KESTRUNE_PROGRAM_NAME,
# KESTRUNE_EMULATOR, KESTRUNE_RUN_DIR (the folder the tests run in), KESTRUNE_RUN_SCRIPTS
# (this folder) and KESTRUNE_PROGRAM_PARTS (how many runs share the program's tests).
# In a function of its own: what one program's include sets stays its own.
function(kestrune_discover_program)
  set(name ${KESTRUNE_PROGRAM_NAME})
  set(list_file ${KESTRUNE_RUN_DIR}/${name}.cases)

  if(NOT EXISTS ${list_file} OR ${KESTRUNE_PROGRAM} IS_NEWER_THAN ${list_file})
    execute_process(COMMAND ${KESTRUNE_EMULATOR} ${KESTRUNE_PROGRAM} --gtest_list_tests
      WORKING_DIRECTORY ${KESTRUNE_RUN_DIR} TIMEOUT 120
      OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      # A test of its own that fails and says why, rather than a suite that silently shrinks.
      add_test("${name} (its tests could not be listed)" bash -c
        "echo '${KESTRUNE_PROGRAM} --gtest_list_tests ended with ${status}'; exit 1")
      return()
    endif()
    # "Suite." lines, then "  Case" lines; parameters' comments ("# GetParam() = ...") dropped.
    string(REGEX REPLACE "#[^\n]*" "" listing "${listing}")
    string(REPLACE "\r" "" listing "${listing}")
    string(REPLACE ";" "" listing "${listing}")
    string(REPLACE "\n" ";" lines "${listing}")
    set(cases "")
    set(suite "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^([^ ]+)")
        set(suite ${CMAKE_MATCH_1})
      elseif(line MATCHES "^  +([^ ]+)")
        string(APPEND cases "${suite}${CMAKE_MATCH_1}\n")
      endif()
    endforeach()
    file(WRITE ${list_file} "${cases}")
  endif()

  file(STRINGS ${list_file} cases)
  # A program of many slow tests runs in parts, which CTest may run side by side: its cases are
  # dealt to the parts in turn, and the parts start first.
  if(NOT KESTRUNE_PROGRAM_PARTS GREATER 1)
    set(KESTRUNE_PROGRAM_PARTS 1)
  endif()
  math(EXPR last "${KESTRUNE_PROGRAM_PARTS} - 1")
  set(index 0)
  foreach(case IN LISTS cases)
    math(EXPR part "${index} % ${KESTRUNE_PROGRAM_PARTS}")
    list(APPEND part_${part} ${case})
    math(EXPR index "${index} + 1")
  endforeach()
  foreach(part RANGE ${last})
    if(KESTRUNE_PROGRAM_PARTS EQUAL 1)
      set(run "${name} (one run of all its tests)")
      set(filter "*")
      set(cost 0)
    else()
      math(EXPR number "${part} + 1")
      set(run "${name} (one run of part ${number} of ${KESTRUNE_PROGRAM_PARTS} of its tests)")
      list(JOIN part_${part} ":" filter)
      set(cost 1000)
    endif()
    set(results ${KESTRUNE_RUN_DIR}/${name}.${part}.results)
    set(log ${KESTRUNE_RUN_DIR}/${name}.${part}.log)
    add_test("${run}" bash ${KESTRUNE_RUN_SCRIPTS}/run_program.sh ${results} ${log} "${filter}"
      ${KESTRUNE_EMULATOR} ${KESTRUNE_PROGRAM})
    set_tests_properties("${run}" PROPERTIES FIXTURES_SETUP ${name} TIMEOUT 3600 COST ${cost}
      WORKING_DIRECTORY ${KESTRUNE_RUN_DIR} ENVIRONMENT KESTRUNE_CACHE=off)
    foreach(case IN LISTS part_${part})
      add_test("${case}" awk -v "name=${case}" -v "output=${log}"
        -f ${KESTRUNE_RUN_SCRIPTS}/case_result.awk ${results})
      set_tests_properties("${case}" PROPERTIES FIXTURES_REQUIRED ${name} TIMEOUT 60
        SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
    endforeach()
  endforeach()
endfunction()
kestrune_discover_program()
