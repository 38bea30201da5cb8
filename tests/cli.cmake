# The zemivtc command: its Y4M reader, writer and source frames, the built
# command run end to end (with ffmpeg as the independent peer where present),
# and its frames against the version-2 module's in the stand-in host.
zemivtc_test(cli_test
  ${CMAKE_CURRENT_SOURCE_DIR}/cli_stream_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/cli_command_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/cli_fastpath_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/cli_module_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/cli_source_test.cpp)
target_link_libraries(cli_test PRIVATE zemivtc_cli_lib zemivtc_host zemivtc_footage)
target_compile_definitions(cli_test PRIVATE ZEMIVTC_CLI_PATH="$<TARGET_FILE:zemivtc_cli>")
add_dependencies(cli_test zemivtc_cli)
