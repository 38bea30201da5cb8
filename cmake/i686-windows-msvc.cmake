# Cross build of the Windows module for 32-bit x86 in Microsoft's C++ ABI, the
# ABI of the hosts that load it, with Debian's clang, lld and llvm alone: no
# Microsoft headers or libraries. The module and the programs that check it
# declare the few Win32 and C runtime functions they call, and link against
# import libraries for KERNEL32.dll and MSVCRT.dll made by llvm-dlltool.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-windows-msvc.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/windows-tools.cmake)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)

# -ffreestanding: there is no C library's header to include; the compiler's
#   own (stdint.h, the intrinsics) then do without one.
# -msse2 -mfpmath=sse: the tables' double arithmetic in SSE2, not in the x87
#   unit's extended precision, so they are the native build's bytes.
# -mstackrealign: a Windows caller guarantees 4-byte stack alignment only;
#   the SSE2 and AVX2 kernels keep 16- and 32-byte vectors on the stack.
# -fexceptions -fcxx-exceptions: Microsoft's exception model, so that an
#   error the host throws through the module's frames runs their clean-ups.
# -fno-threadsafe-statics: guards for function-local statics would need the
#   compiler's runtime; the module has no such statics.
set(CMAKE_CXX_FLAGS_INIT
    "-ffreestanding -msse2 -mfpmath=sse -mstackrealign -fexceptions -fcxx-exceptions -fno-threadsafe-statics")

# Programs built here run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/abi/wine-run.sh)
