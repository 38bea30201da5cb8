# Stress: many filter lifetimes at several worker counts, and long runs of
# random frame requests checked against the single-worker run.
zemivtc_test(stress_test
  ${CMAKE_CURRENT_SOURCE_DIR}/stress_lifecycle_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/stress_requests_test.cpp)
target_link_libraries(stress_test PRIVATE zemivtc_host)
