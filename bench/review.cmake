# What --review and --timeline add to `zemivtc plan`, beside the analysis of
# one 1080p frame: one review place's thumbnails, and the cadence search
# (with its margins) and the timeline of a two-hour clip.
add_executable(bench_review ${CMAKE_CURRENT_SOURCE_DIR}/review_bench.cpp)
target_link_libraries(bench_review PRIVATE benchmark::benchmark zemivtc_cli_lib)
