# The command's planar/packed conversions, each layout, on whole frames.
add_executable(bench_stream ${CMAKE_CURRENT_LIST_DIR}/stream_bench.cpp)
target_link_libraries(bench_stream PRIVATE zemivtc_stream benchmark::benchmark)
