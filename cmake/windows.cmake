# The Windows build: zemivtc.dll for 32-bit hosts of the version-2 interface,
# zemivtc_c.dll for hosts of the C interface, and the hosts that check them.
# Nothing else of the project runs on Windows: Windows users load the module
# into their host.

# Import libraries for the two system DLLs, from the lists of what is called.
# -k: the DLLs export their functions without the @N of stdcall names.
set(ZEMIVTC_IMPORT_LIBS)
function(zemivtc_import_library name def)
  set(lib ${CMAKE_BINARY_DIR}/${name}.lib)
  add_custom_command(OUTPUT ${lib} COMMAND ${ZEMIVTC_DLLTOOL} -m i386 -k -d ${def} -l ${lib} DEPENDS ${def}
                     COMMENT "Import library ${name}.lib")
  add_custom_target(${name}_import DEPENDS ${lib})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${lib})
  add_dependencies(${name} ${name}_import)
endfunction()
zemivtc_import_library(zemivtc_msvcrt ${CMAKE_SOURCE_DIR}/platform/msvcrt.def)
zemivtc_import_library(zemivtc_kernel32 ${CMAKE_SOURCE_DIR}/platform/kernel32.def)

# Nothing from elsewhere: only the import libraries named on the command line.
# /safeseh: every object lists the exception handlers it registers, and lld
# gathers them into the table that the module's load configuration points to
# (platform/win32_load_config.cpp). Without that record lld marks the DLL
# IMAGE_DLLCHARACTERISTICS_NO_SEH, and Windows then calls none of its handlers.
add_link_options(LINKER:/nodefaultlib LINKER:/safeseh)

enable_testing()
add_subdirectory(platform)
add_subdirectory(vfilter)
add_subdirectory(plugin)
add_subdirectory(tests/abi)
# The module on the C interface, the core libraries it adds, and its checks.
add_subdirectory(plan)
add_subdirectory(convert)
add_subdirectory(avisynth_c)
add_subdirectory(tests/avisynth_c)
