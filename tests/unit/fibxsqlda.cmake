# Parameter and column values over hand-built descriptor areas: no server, no statement.
add_executable(ravelin_fibxsqlda_tests ${CMAKE_CURRENT_LIST_DIR}/test_fibxsqlda.cpp)
target_link_libraries(ravelin_fibxsqlda_tests PRIVATE db rtl GTest::gtest_main)
ravelin_add_unit_tests(ravelin_fibxsqlda_tests)
