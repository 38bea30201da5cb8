# Host runtime tests. They load small fixture modules of their own, not the
# filter, so they build and run without it.
function(zemivtc_fixture_module target source)
  add_library(${target} MODULE ${source})
  set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden)
endfunction()
zemivtc_fixture_module(fixture_echo ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/echo_module.cpp)
zemivtc_fixture_module(fixture_throwing ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/throwing_module.cpp)
zemivtc_fixture_module(fixture_no_entry ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/no_entry_module.cpp)

add_executable(host_test
  ${CMAKE_CURRENT_SOURCE_DIR}/host_invoke_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/host_values_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/host_frames_test.cpp)
target_link_libraries(host_test PRIVATE zemivtc_host GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(host_test PRIVATE
  FIXTURE_ECHO_PATH="$<TARGET_FILE:fixture_echo>"
  FIXTURE_THROWING_PATH="$<TARGET_FILE:fixture_throwing>"
  FIXTURE_NO_ENTRY_PATH="$<TARGET_FILE:fixture_no_entry>")
add_dependencies(host_test fixture_echo fixture_throwing fixture_no_entry)
gtest_discover_tests(host_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
