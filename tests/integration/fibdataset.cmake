# Datasets against the tests' private server: fetching on demand, the record window and its
# views, fields on real columns, transaction ends and failures.
add_executable(ravelin_fibdataset_db_tests ${CMAKE_CURRENT_LIST_DIR}/test_fibdataset_db.cpp)
target_link_libraries(ravelin_fibdataset_db_tests PRIVATE db rtl programme compte_integre Qt6::Core GTest::gtest)
ravelin_add_db_tests(ravelin_fibdataset_db_tests)
