# Worker pool: band rule, lifecycle, start-up failures and dispatches. The pool
# is compiled in with its fault switches so start-up cleanup can be exercised.
zemivtc_test(workers_test
  ${CMAKE_CURRENT_SOURCE_DIR}/workers_band_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/workers_pool_test.cpp
  ${CMAKE_SOURCE_DIR}/workers/worker_pool.cpp)
target_compile_definitions(workers_test PRIVATE ZEMIVTC_WORKERS_FAULTS=1)
target_link_libraries(workers_test PRIVATE zemivtc_platform zemivtc_vfilter)
