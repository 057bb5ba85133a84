# Connections, transactions and links without a server.
add_executable(ravelin_fibdatabase_unit_tests ${CMAKE_CURRENT_LIST_DIR}/test_fibdatabase.cpp)
target_link_libraries(ravelin_fibdatabase_unit_tests PRIVATE db rtl GTest::gtest_main)
ravelin_add_unit_tests(ravelin_fibdatabase_unit_tests)

# A stand-in client library whose detach always fails: the shared stand-in source with its
# attach and detach renamed away, and the two replaced by fibdatabase_testlib.cpp.
add_library(ibtest_detachfails SHARED ${CMAKE_CURRENT_LIST_DIR}/ib_testlib/testlib.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/fibdatabase_testlib.cpp)
target_compile_definitions(ibtest_detachfails PRIVATE isc_attach_database=testlib_attach_unused
                                                      isc_detach_database=testlib_detach_unused)
target_compile_options(ibtest_detachfails PRIVATE -fexceptions)
target_include_directories(ibtest_detachfails PRIVATE ${FIREBIRD_INCLUDE_DIR})
set_target_properties(ibtest_detachfails PROPERTIES PREFIX "lib" SUFFIX ".so")
target_compile_definitions(ravelin_fibdatabase_unit_tests PRIVATE
  TESTLIB_DETACHFAILS="$<TARGET_FILE:ibtest_detachfails>")
add_dependencies(ravelin_fibdatabase_unit_tests ibtest_detachfails)
