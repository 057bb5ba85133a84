include(${CMAKE_CURRENT_LIST_DIR}/ib_intf.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/fib.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/fibdatabase.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/fibquery.cmake)
