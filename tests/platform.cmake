# Platform layer tests, against the test-hooks build so that the processor
# count can be forced through the environment.
add_executable(platform_test
  ${CMAKE_CURRENT_SOURCE_DIR}/platform_event_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform_services_test.cpp)
target_link_libraries(platform_test PRIVATE zemivtc_platform_testhooks GTest::gtest GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
