# The stages on planes, banded over any number of workers.
zemivtc_test(compose_test ${CMAKE_CURRENT_SOURCE_DIR}/compose_planes_test.cpp)
target_link_libraries(compose_test PRIVATE zemivtc_compose)
