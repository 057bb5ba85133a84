# Server failures through RaiseInterBaseError, against the tests' private server.
add_executable(ravelin_fib_db_tests ${CMAKE_CURRENT_LIST_DIR}/test_interbase_errors.cpp)
target_link_libraries(ravelin_fib_db_tests PRIVATE db rtl motdepasse GTest::gtest_main)
ravelin_add_db_tests(ravelin_fib_db_tests)
