# Cross build of the zemivtc command for 64-bit Windows with Debian's
# MinGW-w64 (g++-mingw-w64-x86-64-posix: its C++ library has std::thread,
# over winpthreads). Linked statically, C++ library, libgcc and winpthreads
# included, so that zemivtc.exe imports system DLLs alone
# (tests/windows_command/ checks the list on every build).
#   cmake -S . -B build-win64-cli -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
find_program(CMAKE_CXX_COMPILER NAMES x86_64-w64-mingw32-g++-posix REQUIRED)
# C for GoogleTest's own build (tests/windows_command/).
find_program(CMAKE_C_COMPILER NAMES x86_64-w64-mingw32-gcc-posix REQUIRED)
find_program(CMAKE_AR NAMES x86_64-w64-mingw32-gcc-ar-posix x86_64-w64-mingw32-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES x86_64-w64-mingw32-gcc-ranlib-posix x86_64-w64-mingw32-ranlib REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES x86_64-w64-mingw32-windres)
# objdump reads the PE file for the import check.
find_program(ZEMIVTC_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# -muse-unaligned-vector-move: GCC keeps 32-byte AVX values in stack slots
#   that Windows aligns to 16 bytes only; the assembler then writes the moves
#   that do not fault on such a slot.
# _WIN32_WINNT 0x0601: the Windows 7 API, the oldest system the command runs on.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move -D_WIN32_WINNT=0x0601")
# Windows 7 (6.1) as the oldest system, in the file's header: older systems
# refuse to start it instead of failing on a missing function.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--major-os-version,6,--minor-os-version,1,--major-subsystem-version,6,--minor-subsystem-version,1")

# Programs built here run under Wine's 64-bit half.
set(CMAKE_CROSSCOMPILING_EMULATOR env ZEMIVTC_WINEARCH=win64 ${CMAKE_CURRENT_LIST_DIR}/../tests/abi/wine-run.sh)
