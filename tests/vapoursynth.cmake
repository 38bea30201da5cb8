# The VapourSynth plugin in a core loaded by path, as a host loads it: the
# stand-in core built here, and a real libvapoursynth.so.4 where one is
# installed or named by ZEMIVTC_VAPOURSYNTH (skipped otherwise).
add_library(vapoursynth_standin_core SHARED ${CMAKE_CURRENT_SOURCE_DIR}/vapoursynth/standin_core.cpp)
target_link_libraries(vapoursynth_standin_core PRIVATE ${CMAKE_DL_LIBS} Threads::Threads)
set_target_properties(vapoursynth_standin_core PROPERTIES CXX_VISIBILITY_PRESET hidden)
add_library(vapoursynth_fixture_plugin MODULE ${CMAKE_CURRENT_SOURCE_DIR}/vapoursynth/fixture_plugin.cpp)
add_executable(vapoursynth_client ${CMAKE_CURRENT_SOURCE_DIR}/vapoursynth/client_test.cpp)
target_link_libraries(vapoursynth_client PRIVATE GTest::gtest Threads::Threads ${CMAKE_DL_LIBS})
target_compile_definitions(vapoursynth_client PRIVATE ZEMIVTC_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                      ZEMIVTC_VS_PLUGIN="$<TARGET_FILE:zemivtc_vapoursynth>"
                                                      ZEMIVTC_VS_FIXTURE="$<TARGET_FILE:vapoursynth_fixture_plugin>"
                                                      ZEMIVTC_CLI_PATH="$<TARGET_FILE:zemivtc_cli>")
add_dependencies(vapoursynth_client zemivtc_cli zemivtc_module zemivtc_vapoursynth vapoursynth_standin_core
                 vapoursynth_fixture_plugin)
add_test(NAME vapoursynth_standin_core COMMAND vapoursynth_client $<TARGET_FILE:vapoursynth_standin_core>)
add_test(NAME vapoursynth_real_core COMMAND vapoursynth_client --real)
set_tests_properties(vapoursynth_standin_core vapoursynth_real_core PROPERTIES TIMEOUT 600)
set_tests_properties(vapoursynth_real_core PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME vapoursynth_plugin_exports_only_its_entry
  COMMAND sh -c "test \"$(nm -D --defined-only '$<TARGET_FILE:zemivtc_vapoursynth>' | awk '{print $3}')\" = VapourSynthPluginInit2")
