# The Windows builds. 32-bit (build-win32/): zemivtc.dll for the version-2
# hosts, the interface host that checks it, and zemivtc_c.dll for the hosts of
# the C interface. 64-bit (build-win64/): zemivtc_c.dll for 64-bit AviSynth+.
# Nothing else of the project runs on Windows: Windows users load a module
# into their host.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZEMIVTC_WIN64 ON)
  set(ZEMIVTC_DLLTOOL_MACHINE i386:x86-64)
else()
  set(ZEMIVTC_WIN64 OFF)
  set(ZEMIVTC_DLLTOOL_MACHINE i386)
endif()

# Import libraries for the system DLLs, from the lists of what is called.
# -k: the 32-bit DLLs export their functions without the @N of stdcall
# names. 64-bit names carry no @N at all: it is cut from the lists.
function(zemivtc_import_library name def)
  set(lib ${CMAKE_BINARY_DIR}/${name}.lib)
  if(ZEMIVTC_WIN64)
    set(plain ${CMAKE_BINARY_DIR}/${name}.def)
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    file(WRITE ${plain} "${text}")
    set(def ${plain})
  endif()
  add_custom_command(OUTPUT ${lib} COMMAND ${ZEMIVTC_DLLTOOL} -m ${ZEMIVTC_DLLTOOL_MACHINE} -k -d ${def} -l ${lib}
                     DEPENDS ${def} COMMENT "Import library ${name}.lib")
  add_custom_target(${name}_import DEPENDS ${lib})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${lib})
  add_dependencies(${name} ${name}_import)
endfunction()
zemivtc_import_library(zemivtc_msvcrt ${CMAKE_SOURCE_DIR}/platform/msvcrt.def)
zemivtc_import_library(zemivtc_kernel32 ${CMAKE_SOURCE_DIR}/platform/kernel32.def)

# Nothing from elsewhere: only the import libraries named on the command line.
add_link_options(LINKER:/nodefaultlib)
if(NOT ZEMIVTC_WIN64)
  # /safeseh: every object lists the exception handlers it registers, and lld
  # gathers them into the table that the module's load configuration points
  # to (platform/win32_load_config.cpp). Without that record lld marks the
  # DLL IMAGE_DLLCHARACTERISTICS_NO_SEH, and Windows then calls none of its
  # handlers. (64-bit code unwinds by tables lld always writes.)
  add_link_options(LINKER:/safeseh)
endif()

enable_testing()
add_subdirectory(platform)
add_subdirectory(vfilter)
add_subdirectory(convert)
add_subdirectory(plan)
add_subdirectory(workers)
add_subdirectory(compose)
if(NOT ZEMIVTC_WIN64)
  add_subdirectory(plugin)
  add_subdirectory(tests/abi)
else()
  # The VapourSynth plugin (zemivtc_vs.dll) and its checks.
  add_subdirectory(vapoursynth)
  add_subdirectory(tests/vapoursynth)
endif()
# The module on the host family's C interface, and its checks.
add_subdirectory(avisynth_c)
add_subdirectory(tests/avisynth_c)
