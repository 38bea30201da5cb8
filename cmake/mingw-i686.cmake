# Cross build for 32-bit Windows with Debian's MinGW-w64 toolchain.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The posix thread flavour of the compiler is used: its C++ library has
# std::mutex and std::thread, which the win32 flavour of this GCC lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZEMIVTC_MINGW_TRIPLE i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${ZEMIVTC_MINGW_TRIPLE}-gcc-posix ${ZEMIVTC_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZEMIVTC_MINGW_TRIPLE}-g++-posix ${ZEMIVTC_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZEMIVTC_MINGW_TRIPLE}-windres)
find_program(ZEMIVTC_MINGW_OBJDUMP NAMES ${ZEMIVTC_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEMIVTC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A 32-bit Windows caller guarantees only 4-byte stack alignment; the SSE2 and
# AVX2 kernels spill 16- and 32-byte vectors to the stack, so every function
# realigns its frame when the host calls in with a misaligned stack.
set(CMAKE_C_FLAGS_INIT "-mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-mstackrealign")

# Programs built here run under Wine (see tests/windows/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh)
