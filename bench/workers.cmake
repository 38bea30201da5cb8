# Dispatch cost of the worker pool: post empty jobs to every worker and wait.
add_executable(bench_dispatch ${CMAKE_CURRENT_SOURCE_DIR}/dispatch_bench.cpp ${CMAKE_SOURCE_DIR}/workers/worker_pool.cpp)
target_link_libraries(bench_dispatch PRIVATE benchmark::benchmark zemivtc_platform zemivtc_vfilter)
