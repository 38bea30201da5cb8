# The zemivtc command for 64-bit Windows (build-win64-cli/, with
# cmake/x86_64-w64-mingw32.cmake): the core, the analysis, the streams and the
# command over platform/system_win32.cpp, and its checks
# (tests/windows_command/: the file's imports, then the command under Wine
# against the native command's bytes).
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(FATAL_ERROR "the Windows command is built for 64-bit Windows only")
endif()

add_subdirectory(platform)
add_subdirectory(vfilter)
add_subdirectory(convert)
add_subdirectory(plan)
add_subdirectory(workers)
add_subdirectory(compose)
add_subdirectory(analysis)
add_subdirectory(stream)
add_subdirectory(source)
add_subdirectory(cli)

enable_testing()
add_subdirectory(tests/windows_command)
