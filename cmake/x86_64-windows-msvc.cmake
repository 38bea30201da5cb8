# Cross build of the 64-bit Windows modules (the hosts' C interfaces on x64)
# with Debian's clang, lld and llvm alone, as the 32-bit module is built
# (cmake/i686-windows-msvc.cmake): no Microsoft headers or libraries, import
# libraries for KERNEL32.dll and MSVCRT.dll made by llvm-dlltool.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-windows-msvc.cmake
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-tools.cmake)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)

# -ffreestanding: no C library's header; the compiler's own serve.
# -fno-exceptions -fno-rtti: the 64-bit modules sit behind C interfaces, so no
#   exception crosses them and no type is asked its name; nothing of a C++
#   runtime is needed.
# -mno-stack-arg-probe: no __chkstk to call; no function keeps a page of
#   locals.
# -fno-threadsafe-statics: as in the 32-bit build.
set(CMAKE_CXX_FLAGS_INIT "-ffreestanding -fno-exceptions -fno-rtti -mno-stack-arg-probe -fno-threadsafe-statics")

# Programs built here run under Wine's 64-bit half.
set(CMAKE_CROSSCOMPILING_EMULATOR env ZEMIVTC_WINEARCH=win64 ${CMAKE_CURRENT_LIST_DIR}/../tests/abi/wine-run.sh)
