# Stress: many filter lifetimes at several worker counts, and long runs of
# random frame requests checked against the single-worker run.
zemivtc_test(stress_test
  ${CMAKE_CURRENT_SOURCE_DIR}/stress_lifecycle_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/stress_requests_test.cpp)
target_link_libraries(stress_test PRIVATE zemivtc_host)

# Malformed input to the module and the command: the refusals of
# docs/errors.md that no other test pins down.
zemivtc_test(bad_input_test ${CMAKE_CURRENT_SOURCE_DIR}/stress_bad_input_test.cpp)
target_link_libraries(bad_input_test PRIVATE zemivtc_host)
target_compile_definitions(bad_input_test PRIVATE ZEMIVTC_CLI_PATH="$<TARGET_FILE:zemivtc_cli>")
add_dependencies(bad_input_test zemivtc_cli)
