# zemivtc edit: the keep file, the composer against the render, the session's
# edits, the server's refusals; and the page in headless Chromium, driven by
# puppeteer-core (tests/editor_browser: its packages come from `npm ci`).
zemivtc_test(editor_test ${CMAKE_CURRENT_SOURCE_DIR}/editor_test.cpp)
target_link_libraries(editor_test PRIVATE zemivtc_footage zemivtc_editor)
target_compile_definitions(editor_test PRIVATE ZEMIVTC_CLI_PATH="$<TARGET_FILE:zemivtc_cli>")
add_dependencies(editor_test zemivtc_cli)

add_test(NAME editor_browser
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/editor_browser/run.sh $<TARGET_FILE:zemivtc_cli>
                 ${CMAKE_BINARY_DIR}/editor_browser)
set_tests_properties(editor_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
