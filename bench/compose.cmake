# GetFrame through the host and the module, beside memcpy of one frame.
add_executable(bench_getframe ${CMAKE_CURRENT_SOURCE_DIR}/getframe_bench.cpp)
target_link_libraries(bench_getframe PRIVATE benchmark::benchmark zemivtc_host)
target_compile_definitions(bench_getframe PRIVATE ZEMIVTC_MODULE_PATH="$<TARGET_FILE:zemivtc_module>")
add_dependencies(bench_getframe zemivtc_module)
