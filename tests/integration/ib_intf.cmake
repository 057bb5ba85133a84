# The client library binding against the tests' private server.
add_executable(ravelin_ib_intf_db_tests ${CMAKE_CURRENT_LIST_DIR}/test_IB_Intf_db.cpp)
target_link_libraries(ravelin_ib_intf_db_tests PRIVATE db GTest::gtest_main)
ravelin_add_db_tests(ravelin_ib_intf_db_tests)
