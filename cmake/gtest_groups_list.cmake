# Run after each build of a GoogleTest program (cmake/gtest_groups.cmake): lists its cases and
# writes the CTest file that runs them in groups. -D EXE, OUT, PREFIX, GROUP_SIZE, TIMEOUT, XML_DIR,
# HEAVY (SUITE=SIZE,...).
# Listing looks for no leaks: under an emulator the LeakSanitizer waits for ever at exit.
set(ENV{ASAN_OPTIONS} "$ENV{ASAN_OPTIONS}:detect_leaks=0")
execute_process(COMMAND ${EXE} --gtest_list_tests OUTPUT_VARIABLE listing RESULT_VARIABLE rc
                ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${EXE} --gtest_list_tests failed (${rc}): ${errors}")
endif()

# "Suite." on a line of its own (perhaps "  # TypeParam = ..." after it), then "  Case" lines
# (perhaps "  # GetParam() = ..." after them).
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suites)
set(suite "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "  *#.*$" "" line "${line}")
  if(line MATCHES "^([^ ].*)\\.$")
    set(suite "${CMAKE_MATCH_1}")
    list(APPEND suites "${suite}")
    set(count_${suite} 0)
  elseif(line MATCHES "^  [^ ]" AND NOT suite STREQUAL "")
    math(EXPR count_${suite} "${count_${suite}} + 1")
  endif()
endforeach()

set(content "# Written by cmake/gtest_groups_list.cmake from ${EXE} --gtest_list_tests\n")
set(total 0)
file(MAKE_DIRECTORY ${XML_DIR})
foreach(suite IN LISTS suites)
  set(cases ${count_${suite}})
  if(cases EQUAL 0)
    continue()
  endif()
  math(EXPR total "${total} + ${cases}")
  set(size ${GROUP_SIZE})
  set(heavy_suite FALSE)
  string(REPLACE "," ";" heavy_list "${HEAVY}")
  foreach(entry IN LISTS heavy_list)
    if(entry MATCHES "^(.*)=([0-9]+)$" AND CMAKE_MATCH_1 STREQUAL suite)
      set(size ${CMAKE_MATCH_2})
      set(heavy_suite TRUE)
    endif()
  endforeach()
  math(EXPR groups "(${cases} + ${size} - 1) / ${size}")
  math(EXPR last "${groups} - 1")
  string(REGEX REPLACE "[^A-Za-z0-9_]" "_" file_id "${suite}")
  foreach(index RANGE ${last})
    # Cases in this group: shard i of n takes the cases whose position p has p % n == i.
    math(EXPR in_group "(${cases} - ${index} + ${groups} - 1) / ${groups}")
    # CTest starts the costliest first. A heavy suite's groups go before all others, the last
    # first: the sweeps list their large scenarios last.
    if(heavy_suite)
      math(EXPR cost "1000 + ${index}")
    else()
      set(cost ${in_group})
    endif()
    set(name "${PREFIX}${suite}")
    if(groups GREATER 1)
      math(EXPR shown "${index} + 1")
      set(name "${name}#${shown}of${groups}")
    endif()
    set(xml "${XML_DIR}/${file_id}.${index}.xml")
    string(APPEND content
      "add_test([=[${name}]=] [==[${EXE}]==] [=[--gtest_filter=${suite}.*]=]"
      " [=[--gtest_output=xml:${xml}]=])\n"
      "set_tests_properties([=[${name}]=] PROPERTIES TIMEOUT ${TIMEOUT} COST ${cost}"
      " ENVIRONMENT [=[GTEST_TOTAL_SHARDS=${groups};GTEST_SHARD_INDEX=${index}]=]"
      " LABELS [=[gtest-cases=${in_group}]=] REQUIRED_FILES [==[${EXE}]==])\n")
  endforeach()
endforeach()
string(APPEND content "# ${total} test cases\n")
file(WRITE ${OUT} "${content}")
