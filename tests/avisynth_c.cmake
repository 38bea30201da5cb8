# The module on the C interface (avisynth_c/): its dynamic symbols, the
# client in the stand-in host of both kinds (the host's library opened
# locally and globally), and in a real AviSynth+ where one is found
# (libavisynth.so on the library path, or the file ZEMIVTC_AVISYNTH names).
set(AVS_C_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/avisynth_c)
foreach(kind 26 plus)
  add_library(avs_c_standin_${kind} SHARED ${AVS_C_TESTS}/standin_host.cpp)
  target_compile_definitions(avs_c_standin_${kind} PRIVATE STANDIN_PLUS=$<STREQUAL:${kind},plus>)
  target_link_libraries(avs_c_standin_${kind} PRIVATE ${CMAKE_DL_LIBS})
  set_target_properties(avs_c_standin_${kind} PROPERTIES CXX_VISIBILITY_PRESET hidden)
endforeach()
add_executable(avs_c_client ${AVS_C_TESTS}/client.cpp ${CMAKE_SOURCE_DIR}/compose/compose.cpp
               ${CMAKE_SOURCE_DIR}/workers/worker_pool.cpp)
target_link_libraries(avs_c_client PRIVATE zemivtc_plan zemivtc_convert zemivtc_vfilter zemivtc_platform
                      ${CMAKE_DL_LIBS})
add_dependencies(avs_c_client zemivtc_c avs_c_standin_26 avs_c_standin_plus)

set(AVS_C_RUN sh -c "mkdir -p \"$4\" && exec \"$@\"" run $<TARGET_FILE:avs_c_client>)
foreach(run 26:local plus:local plus:global)
  string(REPLACE ":" ";" run ${run})
  list(GET run 0 kind)
  list(GET run 1 mode)
  add_test(NAME avisynth_c_standin_${kind}_${mode}
           COMMAND ${AVS_C_RUN} $<TARGET_FILE:avs_c_standin_${kind}> $<TARGET_FILE:zemivtc_c>
                   ${CMAKE_BINARY_DIR}/avs-c-${kind}-${mode} ${mode})
endforeach()
add_test(NAME avisynth_c_real_host COMMAND sh -c "mkdir -p \"$2\" && exec \"$0\" \"\${ZEMIVTC_AVISYNTH:-libavisynth.so}\" \"$1\" \"$2\" local optional"
         $<TARGET_FILE:avs_c_client> $<TARGET_FILE:zemivtc_c> ${CMAKE_BINARY_DIR}/avs-c-real)
set_tests_properties(avisynth_c_real_host PROPERTIES SKIP_RETURN_CODE 77)
# Its entry point alone visible; no libavisynth recorded, no avs_* left to the loader.
add_test(NAME avisynth_c_module_symbols COMMAND sh -c
         "test \"$(nm -D --defined-only \"$0\" | awk '{print $3}')\" = avisynth_c_plugin_init && ! nm -D --undefined-only \"$0\" | grep -q avs_ && ! readelf -d \"$0\" | grep -q avisynth"
         $<TARGET_FILE:zemivtc_c>)
