# The module on the C interface: tests/avisynth_c/.
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/avisynth_c ${CMAKE_BINARY_DIR}/tests-avisynth-c)
