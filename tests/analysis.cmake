# zemivtc plan: the analysis on generated footage (telecined film with cuts,
# video, progressive frames; the footage classes: grain, encodes, fades,
# held drawings, either field order) rendered through the built command and
# held against ffmpeg's chains, the field order, the timeline picture,
# timecodes and the refusals.
add_library(zemivtc_footage STATIC ${CMAKE_CURRENT_SOURCE_DIR}/footage.cpp ${CMAKE_CURRENT_SOURCE_DIR}/footage_classes.cpp)
zemivtc_test(analysis_test
  ${CMAKE_CURRENT_SOURCE_DIR}/analysis_plan_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/analysis_classes_test.cpp)
target_link_libraries(analysis_test PRIVATE zemivtc_footage zemivtc_cli_lib)
target_compile_definitions(analysis_test PRIVATE ZEMIVTC_CLI_PATH="$<TARGET_FILE:zemivtc_cli>")
add_dependencies(analysis_test zemivtc_cli)
# The same footage and scoring for bench/plan_bench.sh.
add_executable(plan_footage ${CMAKE_CURRENT_SOURCE_DIR}/plan_footage_tool.cpp)
target_link_libraries(plan_footage PRIVATE zemivtc_footage)
# The footage the plan tests score, made again with the processor's
# extensions cut down: the same bytes.
add_test(NAME footage_bytes_without_processor_extensions
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/footage_bytes.sh $<TARGET_FILE:plan_footage>
                 ${CMAKE_CURRENT_BINARY_DIR}/footage-bytes)
set_tests_properties(footage_bytes_without_processor_extensions PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
