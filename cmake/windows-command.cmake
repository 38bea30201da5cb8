# The zemivtc command for 64-bit Windows (build-win64-cli/, with
# cmake/x86_64-w64-mingw32.cmake): the core, the analysis, the streams, the
# review and the plan editor (cpp-httplib from Debian's source package, which
# scripts/windows.sh fetches into the build tree), the FFMS2 source reader
# and the command over platform/system_win32.cpp, and its checks
# (tests/windows_command/: the file's imports, then the command under Wine
# against the native command's bytes).
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(FATAL_ERROR "the Windows command is built for 64-bit Windows only")
endif()

# Static archives only (zlib from libz-mingw-w64-dev among them), so that the
# exe imports system DLLs alone.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

add_subdirectory(platform)
add_subdirectory(vfilter)
add_subdirectory(convert)
add_subdirectory(plan)
add_subdirectory(workers)
add_subdirectory(compose)
add_subdirectory(analysis)
add_subdirectory(stream)
add_subdirectory(review)
add_subdirectory(source)
add_subdirectory(cli)

enable_testing()
add_subdirectory(tests/windows_command)
