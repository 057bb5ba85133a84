# The libFuzzer targets, for both routes: a Clang build of the project includes this file in
# tree (RAVELIN_FUZZ_EXCLUDE set to EXCLUDE_FROM_ALL), the separate clang++ project of this
# folder includes it after building the runtime and the database layer instrumented.
#
# The sources a target exercises are compiled into it, so that libFuzzer sees their branches in
# a Clang build too, where the libraries are not instrumented; their copies in the archives are
# then never pulled. Undefined behaviour stops the run like a crash.
set(RAVELIN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
get_filename_component(RAVELIN_FUZZ_ROOT ${RAVELIN_FUZZ_DIR}/../.. ABSOLUTE)
set(RAVELIN_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

function(ravelin_fuzz_target name)
  list(TRANSFORM ARGN PREPEND ${RAVELIN_FUZZ_ROOT}/)
  add_executable(${name} ${RAVELIN_FUZZ_EXCLUDE} ${RAVELIN_FUZZ_DIR}/${name}.cpp ${ARGN})
  target_compile_options(${name} PRIVATE -g ${RAVELIN_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE ${RAVELIN_FUZZ_FLAGS})
  target_include_directories(${name} PRIVATE ${RAVELIN_FUZZ_DIR} ${RAVELIN_FUZZ_ROOT}/keys
                                             ${RAVELIN_FUZZ_ROOT}/app)
  target_link_libraries(${name} PRIVATE db rtl)
endfunction()

ravelin_fuzz_target(fuzz_parseparams db/SqlTxtRtns.cpp)
ravelin_fuzz_target(fuzz_dpb db/fib.cpp)
ravelin_fuzz_target(fuzz_tpb db/fib.cpp)
ravelin_fuzz_target(fuzz_cles keys/uFonctions_Verification.cpp app/Programme.cpp app/MotDePasse.cpp)
ravelin_fuzz_target(fuzz_macros db/FIBQuery.cpp db/pFIBQuery.cpp db/FIBXSQLDA.cpp
                    db/SqlTxtRtns.cpp)
