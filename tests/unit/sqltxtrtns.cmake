# The statement text routines: kinds, parameter scan, server text, the program's own statements
# among them. Pure text work, no server.
add_executable(ravelin_sqltxtrtns_tests ${CMAKE_CURRENT_LIST_DIR}/test_sqltxtrtns.cpp)
target_link_libraries(ravelin_sqltxtrtns_tests PRIVATE db rtl programme compte_integre GTest::gtest_main)
ravelin_add_unit_tests(ravelin_sqltxtrtns_tests)

