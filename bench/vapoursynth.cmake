# The VapourSynth plugin run as a script host runs it, in the tests' stand-in
# core (bench/vapoursynth_bench.sh compares it with the command).
if(TARGET vapoursynth_standin_core)
  add_executable(vapoursynth_driver ${CMAKE_CURRENT_LIST_DIR}/vapoursynth_driver.cpp)
  target_link_libraries(vapoursynth_driver PRIVATE ${CMAKE_DL_LIBS} Threads::Threads)
  add_dependencies(vapoursynth_driver zemivtc_vapoursynth vapoursynth_standin_core)
endif()
