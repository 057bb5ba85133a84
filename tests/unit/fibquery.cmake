# Statements without a server: text rewriting, parameter lists and the statement's messages.
add_executable(ravelin_fibquery_unit_tests ${CMAKE_CURRENT_LIST_DIR}/test_fibquery.cpp)
target_link_libraries(ravelin_fibquery_unit_tests PRIVATE db rtl GTest::gtest_main)
ravelin_add_unit_tests(ravelin_fibquery_unit_tests)
