# One GoogleTest binary per deliverable, discovered by ctest, each test with a scratch folder
# below the binary's build folder (QS71_TEST_TMPDIR).
#
#   qs71_add_unit_tests(<target> SOURCES <files...> LIBRARIES <libs...>
#                       [DEFINITIONS <defs...>] [INCLUDES <dirs...>] [DEPENDS <targets...>]
#                       [NO_PRETTY_VALUES] [PROPERTIES <name> <value>...])
#
# DEPENDS: the programs and libraries that the tests run or load without linking them, so that
# building the tests builds what they start.
# NO_PRETTY_VALUES: for suites whose parameterised cases all have names of their own; ctest
# would otherwise put the printed parameter in the name, a byte dump for a struct.
# PROPERTIES: set on every discovered test (an environment, a time-out).
#
# An empty source list or an unknown argument is an error: a suite must never vanish from CI
# without a failure.
function(qs71_add_unit_tests name)
  cmake_parse_arguments(ARG "NO_PRETTY_VALUES" ""
    "SOURCES;LIBRARIES;DEFINITIONS;INCLUDES;DEPENDS;PROPERTIES" ${ARGN})
  if(NOT QS71_TESTS OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${name}: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "${name}: no test sources found")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  # The tests' own code is not optimised, in every build: the checks are the same, the code
  # under test keeps its own flags, and optimising the expanded assertions was most of each
  # build's time (about 3 times -O0's: 178 s against 61 s for the largest suite's file).
  target_compile_options(${name} PRIVATE -O0)
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QS71_TEST_TMPDIR="${CMAKE_CURRENT_BINARY_DIR}/test_tmp" ${ARG_DEFINITIONS})
  if(ARG_INCLUDES)
    target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  set(discovery)
  if(ARG_NO_PRETTY_VALUES)
    list(APPEND discovery NO_PRETTY_VALUES)
  endif()
  if(ARG_PROPERTIES)
    list(APPEND discovery PROPERTIES ${ARG_PROPERTIES})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    ${discovery})
endfunction()
