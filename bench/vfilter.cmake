# Vertical filter kernels on whole frames beside memcpy of the same bytes.
add_executable(bench_kernel ${CMAKE_CURRENT_LIST_DIR}/kernel_bench.cpp)
target_link_libraries(bench_kernel PRIVATE zemivtc_vfilter benchmark::benchmark)
