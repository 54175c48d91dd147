# tabrend_add_gtest(name SOURCES ... LIBS ...): one GoogleTest executable, registered with CTest.
# Tests find the shared corpus, the tools and the python with openpyxl through compile definitions.
if(TABREND_GTESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

set(TABREND_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with openpyxl (Debian's, not a virtual environment)")
get_filename_component(TABREND_CORPUS_DIR ${PROJECT_SOURCE_DIR}/../shared/corpus ABSOLUTE)
# The tests' own code is compiled unoptimised with line tables only: it is most of the
# build's compile time, and what it tests, the libraries, keeps the build's own flags.
set(TABREND_TEST_COMPILE_OPTIONS -O0 -g1)

function(tabrend_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_options(${name} PRIVATE ${TABREND_TEST_COMPILE_OPTIONS})
  # Every test file starts with GoogleTest's header, a second or more of each one's compile.
  target_precompile_headers(${name} PRIVATE <gtest/gtest.h>)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    TABREND_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TABREND_BINARY_DIR="${CMAKE_BINARY_DIR}"
    TABREND_CORPUS_DIR="${TABREND_CORPUS_DIR}"
    TABREND_PYTHON="${TABREND_PYTHON}"
    TABREND_CLI="$<TARGET_FILE:tabrendcli>")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()
