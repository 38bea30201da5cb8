# zemivtc plan --review and --keep, and the timeline: the review page on
# generated footage (opened in headless Chromium where one can run), the
# keep file and its refusals, the timeline's scale and size.
zemivtc_test(review_test ${CMAKE_CURRENT_SOURCE_DIR}/review_test.cpp)
target_link_libraries(review_test PRIVATE zemivtc_footage zemivtc_cli_lib)
target_compile_definitions(review_test PRIVATE ZEMIVTC_CLI_PATH="$<TARGET_FILE:zemivtc_cli>")
add_dependencies(review_test zemivtc_cli)
