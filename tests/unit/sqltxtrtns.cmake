# The statement text routines: kinds, parameter scan, server text, the program's own statements
# among them. Pure text work, no server.
add_executable(ravelin_sqltxtrtns_tests ${CMAKE_CURRENT_LIST_DIR}/test_sqltxtrtns.cpp)
target_link_libraries(ravelin_sqltxtrtns_tests PRIVATE db rtl programme GTest::gtest_main)
ravelin_add_unit_tests(ravelin_sqltxtrtns_tests)

# The scan's libFuzzer target, never run by ctest. A Clang build has it in tree; a g++ build
# gets it from a separate clang++ project when RAVELIN_FUZZ is on.
set(RAVELIN_FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../fuzz)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # The scan's own source is compiled into the target so that libFuzzer sees its branches; the
  # copy in the db library is then never pulled from the archive.
  add_executable(fuzz_parseparams EXCLUDE_FROM_ALL ${RAVELIN_FUZZ_SOURCE_DIR}/fuzz_parseparams.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/../../db/SqlTxtRtns.cpp)
  target_compile_options(fuzz_parseparams PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(fuzz_parseparams PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_parseparams PRIVATE db rtl)
else()
  option(RAVELIN_FUZZ "Build the libFuzzer targets with clang++ in a separate project" OFF)
  if(RAVELIN_FUZZ)
    find_program(RAVELIN_CLANGXX clang++ REQUIRED)
    include(ExternalProject)
    ExternalProject_Add(fuzz_parseparams_build
      SOURCE_DIR ${RAVELIN_FUZZ_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
      CMAKE_ARGS -DCMAKE_CXX_COMPILER=${RAVELIN_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      EXCLUDE_FROM_ALL ON)
  endif()
endif()
