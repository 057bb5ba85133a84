# The record window and the data-link protocol over rows held in memory: no server.
add_executable(ravelin_recordwindow_tests ${CMAKE_CURRENT_LIST_DIR}/test_recordwindow.cpp)
target_link_libraries(ravelin_recordwindow_tests PRIVATE db rtl GTest::gtest_main)
ravelin_add_unit_tests(ravelin_recordwindow_tests)
