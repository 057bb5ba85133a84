# Statements against the tests' private server: the bank change run's statements, the prepares
# the server sees, NULL comparisons, transaction and connection ends, the error hook, blobs.
add_executable(ravelin_fibquery_db_tests ${CMAKE_CURRENT_LIST_DIR}/test_fibquery_db.cpp)
target_link_libraries(ravelin_fibquery_db_tests PRIVATE db rtl programme compte_integre Qt6::Core GTest::gtest)
ravelin_add_db_tests(ravelin_fibquery_db_tests)
