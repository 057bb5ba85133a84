# Exceptions, numbered messages and parameter blocks of the database layer. The RaiseInterBaseError
# cases load the machine's client library (no server).
add_executable(ravelin_fib_tests ${CMAKE_CURRENT_LIST_DIR}/test_fib.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/test_pfibprops.cpp)
target_link_libraries(ravelin_fib_tests PRIVATE db rtl GTest::gtest_main)
ravelin_add_unit_tests(ravelin_fib_tests)
