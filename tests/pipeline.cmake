# DVD-shaped video end to end through the programs users run: MPEG-2 from
# ffmpeg, zemivtc plan and zemivtc, x264, mkvmerge with timecodes, ffprobe.
zemivtc_test(pipeline_test ${CMAKE_CURRENT_SOURCE_DIR}/pipeline_test.cpp)
target_compile_definitions(pipeline_test PRIVATE ZEMIVTC_CLI_PATH="$<TARGET_FILE:zemivtc_cli>")
add_dependencies(pipeline_test zemivtc_cli)
