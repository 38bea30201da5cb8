# The C-interface module in the stand-in host (tests/avisynth_c), without and
# with Prefetch-style instances.
if(TARGET avs_c_standin_plus)
  find_package(Threads REQUIRED)
  add_executable(bench_avisynth_c ${CMAKE_CURRENT_SOURCE_DIR}/avisynth_c_bench.cpp)
  target_link_libraries(bench_avisynth_c PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
  target_compile_definitions(bench_avisynth_c PRIVATE ZEMIVTC_STANDIN_PATH="$<TARGET_FILE:avs_c_standin_plus>"
                             ZEMIVTC_C_MODULE_PATH="$<TARGET_FILE:zemivtc_c>" ZEMIVTC_BENCH_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(bench_avisynth_c zemivtc_c avs_c_standin_plus)
endif()
