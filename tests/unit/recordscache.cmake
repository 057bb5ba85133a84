# The datasets' row cache over hand-built descriptor areas: no server, no dataset.
add_executable(ravelin_recordscache_tests ${CMAKE_CURRENT_LIST_DIR}/test_recordscache.cpp)
target_link_libraries(ravelin_recordscache_tests PRIVATE db rtl GTest::gtest_main)
ravelin_add_unit_tests(ravelin_recordscache_tests)
