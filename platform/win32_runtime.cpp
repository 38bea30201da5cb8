// The few pieces of a C++ runtime that the Windows module's compiler expects
// and that no Windows DLL exports under the names it uses. Everything else
// comes from MSVCRT.dll: the heap, memory copies, the exception machinery
// (__CxxFrameHandler3, which unwinds the module's frames when the host throws
// through them).
#include <stddef.h>

#include "platform/crt.h"

extern "C" {
// The run-time type records of the module's classes start with a pointer to
// the vtable of type_info. Nothing calls through it (the module never asks
// for a type's name and the host never destroys the module's type records),
// so an empty table serves; the link maps the compiler's name onto it.
extern const void* const ZemivtcTypeInfoTable[2] = {nullptr, nullptr};

// Marks a program that uses floating point, for Microsoft's C runtime start-up
// code; the module has none, but the compiler asks for the symbol.
int _fltused = 0x9875;

__declspec(dllimport) void __cdecl abort(void);

// Called when an exception would leave a function that must not throw.
void __cdecl __std_terminate(void) { abort(); }
}

// The filter object has its own allocation functions; these serve the base
// classes' deleting destructors and anything else.
void* operator new(size_t bytes) { return malloc(bytes ? bytes : 1); }
void* operator new[](size_t bytes) { return malloc(bytes ? bytes : 1); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
