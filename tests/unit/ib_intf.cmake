# The client library binding: against the machine's real client library (no server needed) and
# against stand-in libraries built here from one source, each leaving out chosen entry points.
set(_ib_dir ${CMAKE_CURRENT_LIST_DIR})

function(_ravelin_ib_testlib name)
  add_library(${name} SHARED ${_ib_dir}/ib_testlib/testlib.cpp)
  target_compile_definitions(${name} PRIVATE ${ARGN})
  target_compile_options(${name} PRIVATE -fexceptions)
  target_include_directories(${name} PRIVATE ${FIREBIRD_INCLUDE_DIR})
  # The binding compares the name it was given, so keep the file name fixed and plain.
  set_target_properties(${name} PROPERTIES PREFIX "lib" SUFFIX ".so")
endfunction()

_ravelin_ib_testlib(ibtest_v5 NO_isc_rollback_retaining NO_isc_get_client_version)
_ravelin_ib_testlib(ibtest_v6 NO_isc_get_client_version)
_ravelin_ib_testlib(ibtest_v6_noservice NO_isc_get_client_version NO_isc_service_start)
_ravelin_ib_testlib(ibtest_v42 CLIENT_MAJOR=4 CLIENT_MINOR=2)
_ravelin_ib_testlib(ibtest_noprepare NO_isc_dsql_prepare)
_ravelin_ib_testlib(ibtest_nofbinterpret NO_fb_interpret NO_isc_get_client_version)

add_executable(ravelin_ib_intf_tests ${_ib_dir}/test_IB_Intf.cpp)
target_include_directories(ravelin_ib_intf_tests PRIVATE ${_ib_dir}/ib_testlib)
target_link_libraries(ravelin_ib_intf_tests PRIVATE db GTest::gtest_main)
target_compile_definitions(ravelin_ib_intf_tests PRIVATE
  TESTLIB_V5="$<TARGET_FILE:ibtest_v5>"
  TESTLIB_V6="$<TARGET_FILE:ibtest_v6>"
  TESTLIB_V6_NOSERVICE="$<TARGET_FILE:ibtest_v6_noservice>"
  TESTLIB_V42="$<TARGET_FILE:ibtest_v42>"
  TESTLIB_NOPREPARE="$<TARGET_FILE:ibtest_noprepare>"
  TESTLIB_NOFBINTERPRET="$<TARGET_FILE:ibtest_nofbinterpret>")
# Loaded at run time, never linked: the executable only needs them built first.
add_dependencies(ravelin_ib_intf_tests ibtest_v5 ibtest_v6 ibtest_v6_noservice ibtest_v42
                 ibtest_noprepare ibtest_nofbinterpret)
ravelin_add_unit_tests(ravelin_ib_intf_tests)
