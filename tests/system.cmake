# The command's system layer (platform/system.h). The Windows command build
# runs the same file under Wine (tests/windows_command/).
zemivtc_test(system_test ${CMAKE_CURRENT_SOURCE_DIR}/system_test.cpp)
target_link_libraries(system_test PRIVATE zemivtc_system zemivtc_stream)
