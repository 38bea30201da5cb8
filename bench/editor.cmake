# zemivtc edit: the pictures of one position as the page asks for them
# while a key is held (720x480 and 1920x1080).
add_executable(bench_editor ${CMAKE_CURRENT_SOURCE_DIR}/editor_bench.cpp)
target_link_libraries(bench_editor PRIVATE benchmark::benchmark zemivtc_editor)
