# Vertical filter tables and kernels.
zemivtc_test(vfilter_test
  ${CMAKE_CURRENT_LIST_DIR}/vfilter_tables_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vfilter_kernel_test.cpp)
target_link_libraries(vfilter_test PRIVATE zemivtc_vfilter)
