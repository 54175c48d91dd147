# tabrend_add_qtest(name SOURCES ... LIBS ...): one Qt Test executable, registered with CTest.
# The test runs on the offscreen platform, with the folder for its pictures passed in.
include_guard(GLOBAL)

function(tabrend_add_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
  target_compile_options(${name} PRIVATE ${TABREND_TEST_COMPILE_OPTIONS})
  target_compile_definitions(${name} PRIVATE TABREND_TEST_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
