# The module through the host: creation, plan, clip properties, frames.
zemivtc_test(plugin_test
  ${CMAKE_CURRENT_SOURCE_DIR}/plugin_creation_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/plugin_frames_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/plan_test.cpp
  ${CMAKE_SOURCE_DIR}/plan/frame_plan.cpp)
target_link_libraries(plugin_test PRIVATE zemivtc_host zemivtc_vfilter)
