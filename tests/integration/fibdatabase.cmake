# Connections, transactions and links against the tests' private server. The test program
# brings its own main: the timeout needs an event loop, the alias store a temporary folder.
add_executable(ravelin_fibdatabase_db_tests ${CMAKE_CURRENT_LIST_DIR}/test_fibdatabase_db.cpp)
target_link_libraries(ravelin_fibdatabase_db_tests PRIVATE db rtl programme compte_integre Qt6::Core GTest::gtest)
ravelin_add_db_tests(ravelin_fibdatabase_db_tests)
