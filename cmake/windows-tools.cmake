# The tools both Windows cross-builds use (cmake/i686-windows-msvc.cmake,
# cmake/x86_64-windows-msvc.cmake), found once here; the including file sets
# CMAKE_CXX_COMPILER_TARGET.
set(CMAKE_SYSTEM_NAME Windows)
find_program(CMAKE_CXX_COMPILER NAMES clang++-14 clang++ REQUIRED)
find_program(CMAKE_AR NAMES llvm-ar-14 llvm-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-14 llvm-ranlib REQUIRED)
# clang links through lld-link (from the lld package).
find_program(ZEMIVTC_LLD_LINK NAMES lld-link REQUIRED)
find_program(ZEMIVTC_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
# objdump (binutils) reads PE files too: the module file checks use it.
find_program(ZEMIVTC_OBJDUMP NAMES objdump REQUIRED)
# llvm-readobj and llvm-objdump: imports, exports, the load configuration, its
# handler table and the code's handler registrations (tests/abi/).
find_program(ZEMIVTC_READOBJ NAMES llvm-readobj-14 llvm-readobj REQUIRED)
find_program(ZEMIVTC_LLVM_OBJDUMP NAMES llvm-objdump-14 llvm-objdump REQUIRED)

# No C++ library exists for these targets here: nothing is linked by default,
# and compiler checks build static libraries instead of programs.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
