# Values held against the server's own answers: fields narrower than their columns, numbers
# at the edges of their types and texts on a Unicode connection.
add_executable(ravelin_valeurs_db_tests ${CMAKE_CURRENT_LIST_DIR}/test_valeurs_db.cpp)
target_link_libraries(ravelin_valeurs_db_tests PRIVATE db rtl programme compte_integre Qt6::Core GTest::gtest)
ravelin_add_db_tests(ravelin_valeurs_db_tests)
