# The FFMS2 source reader: indexing, reading against Y4M, memory on a long
# source (bench/source_bench.sh drives it).
add_executable(source_bench_driver ${CMAKE_CURRENT_LIST_DIR}/source_driver.cpp)
target_link_libraries(source_bench_driver PRIVATE zemivtc_source)
