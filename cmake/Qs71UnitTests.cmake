# One GoogleTest binary per deliverable, discovered by ctest, each test with a scratch folder
# below the binary's build folder (QS71_TEST_TMPDIR).
#
#   qs71_add_unit_tests(<target> SOURCES <files...> LIBRARIES <libs...> [DEFINITIONS <defs...>])
#
# An empty source list is an error: a suite must never vanish from CI without a failure.
function(qs71_add_unit_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;DEFINITIONS" ${ARGN})
  if(NOT QS71_TESTS OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "${name}: no test sources found")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QS71_TEST_TMPDIR="${CMAKE_CURRENT_BINARY_DIR}/test_tmp" ${ARG_DEFINITIONS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
