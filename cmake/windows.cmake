# Windows build of the module: the export name the host looks for, and a C++
# runtime shared by the host and the module so that exceptions cross between
# them.
#
# AviSynth 2.5 hosts look the entry up as "_AvisynthPluginInit2@4" (how MSVC
# names a stdcall function of one pointer argument). MinGW's linker drops the
# leading underscore from the names it exports, so the .def file adds the name
# as the host spells it beside the plain one.
# 64-bit off_t, lseek and stat in the MinGW C library: input streams of the
# command pass 2 GiB after a couple of minutes of video.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# Included before the targets exist: the module part runs once the top-level
# list is done.
function(zemivtc_windows_module_exports)
  foreach(module zemivtc_module zemivtc_module_testhooks)
    target_sources(${module} PRIVATE ${CMAKE_SOURCE_DIR}/plugin/zemivtc.def)
  endforeach()
endfunction()
cmake_language(DEFER CALL zemivtc_windows_module_exports)

# With MinGW's DWARF unwinding, every copy of libgcc keeps its own list of the
# unwind tables it knows. A statically linked copy in the host would not know
# the module's frames, so an AvisynthError thrown by ThrowError (host code)
# through CreateFilter (module code) would end the process. Linking libgcc and
# libstdc++ shared gives the whole process one unwinder and one C++ runtime;
# their DLLs are copied beside the programs and the module.
option(ZEMIVTC_MINGW_SHARED_RUNTIME "Link libgcc and libstdc++ as DLLs" ON)
if(ZEMIVTC_MINGW_SHARED_RUNTIME)
  add_link_options(-shared-libgcc)
  set(ZEMIVTC_MINGW_RUNTIME_DLLS)
  foreach(dll libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE found
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
      # libwinpthread lives with the MinGW system libraries, not with GCC's.
      find_file(found_${dll} ${dll} PATHS /usr/${ZEMIVTC_MINGW_TRIPLE}/lib NO_DEFAULT_PATH)
      set(found ${found_${dll}})
    endif()
    if(NOT EXISTS "${found}")
      message(FATAL_ERROR "MinGW runtime ${dll} not found")
    endif()
    list(APPEND ZEMIVTC_MINGW_RUNTIME_DLLS ${found})
  endforeach()
  file(COPY ${ZEMIVTC_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_BINARY_DIR})
  install(FILES ${ZEMIVTC_MINGW_RUNTIME_DLLS} DESTINATION bin)
else()
  # Each module gets its own runtime copy: errors cannot cross (kept to show it).
  add_link_options(-static)
endif()
