# The module through the host: creation, plan, clip properties, frames.
zemivtc_test(plugin_test
  ${CMAKE_CURRENT_SOURCE_DIR}/plugin_creation_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/plugin_frames_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/plan_test.cpp)
target_link_libraries(plugin_test PRIVATE zemivtc_host zemivtc_vfilter zemivtc_plan)

# The module's dynamic symbol table holds its entry and nothing else.
if(NOT WIN32)
  add_test(NAME module_exports_only_its_entry
    COMMAND sh -c "test \"$(nm -D --defined-only '$<TARGET_FILE:zemivtc_module>' | awk '{print $3}')\" = AvisynthPluginInit2")
endif()
