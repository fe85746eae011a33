# The unit tests as CTest tests, a few processes per test suite instead of one per test case.
#
# Under qemu's user-mode emulator every process start of a 32-bit program costs seconds (more with
# the sanitizers), and a test case itself takes a fraction of that. So each suite runs in groups of
# at most VELKAR_TEST_GROUP_SIZE cases, one process a group (GoogleTest's sharding within the
# suite's filter), and every group writes its cases' results to an XML file that scripts/test
# counts. The list of cases is read from the test program after each build of it.
#
# Suites whose cases take long each (sweeps that run the command hundreds of times) are named with
# a group size of their own, SUITE=SIZE; their groups start first, so that the two cores end
# together.
#
#   velkar_add_gtest_groups(TARGET PREFIX GROUP_SIZE TIMEOUT [HEAVY SUITE=SIZE...])
function(velkar_add_gtest_groups target prefix group_size timeout)
  cmake_parse_arguments(PARSE_ARGV 4 arg "" "" "HEAVY")
  string(REPLACE ";" "," heavy "${arg_HEAVY}")
  set(ctest_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_groups.cmake)
  set(xml_dir ${CMAKE_CURRENT_BINARY_DIR}/test-results/${target})
  add_custom_command(
    OUTPUT ${ctest_file}
    COMMAND ${CMAKE_COMMAND} -D EXE=$<TARGET_FILE:${target}> -D OUT=${ctest_file}
            -D PREFIX=${prefix} -D GROUP_SIZE=${group_size} -D TIMEOUT=${timeout}
            -D XML_DIR=${xml_dir} "-D HEAVY=${heavy}" -P ${CMAKE_SOURCE_DIR}/cmake/gtest_groups_list.cmake
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/gtest_groups_list.cmake
    VERBATIM)
  add_custom_target(${target}_groups ALL DEPENDS ${ctest_file})
  # Before the first build there is no list yet: a test that says so stands in for the cases.
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_include.cmake)
  file(WRITE ${include_file}
       "if(EXISTS [==[${ctest_file}]==])\n"
       "  include([==[${ctest_file}]==])\n"
       "else()\n"
       "  add_test([=[${prefix}${target}_not_built]=] [=[${CMAKE_COMMAND}]=] -E false)\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
