// AviSynth 2.6.0 under Wine: the host guards each Invoke with a __try whose
// filter uses ESI and EDI, and Wine's _except_handler3 calls such filters
// without saving those registers, so every error the host reports would
// crash it. A client points avisynth.dll's import of _except_handler3 at
// Eh3Handler, which saves them, before it runs anything:
//   PatchImport(dll, "msvcrt.dll", "_except_handler3", Eh3Handler)
// For the 32-bit Windows test programs (avs_client, the C-interface client).
#ifndef ZEMIVTC_TESTS_ABI_EH3_FIX_H
#define ZEMIVTC_TESTS_ABI_EH3_FIX_H

#include "tests/abi/win_runtime.h"

extern "C" {
__declspec(dllimport) int __stdcall VirtualProtect(void* address, size_t size, unsigned long protect,
                                                   unsigned long* old);
__declspec(dllimport) void __stdcall RtlUnwind(void* targetFrame, void* targetIp, void* record, void* returnValue);
}

namespace {

// ---------------------------------------------------------------------------
// _except_handler3, as Microsoft's C runtime defines it for 32-bit code: the
// frame's registration record (Next, Handler, ScopeTable, TryLevel) lies 16
// bytes below the function's frame pointer, the exception pointers 4 bytes
// below the record. Filters and __finally blocks run with the frame's EBP and
// may use EBX, ESI and EDI freely; this version saves them around each call.
struct ScopeEntry {
  int32_t enclosingLevel;
  void* filter;   // null for a __finally block
  void* handler;  // the __except block, or the __finally block
};
struct Eh3Record {
  Eh3Record* next;
  void* handler;
  ScopeEntry* scopeTable;
  int32_t tryLevel;
};
struct ExceptionRecord {
  uint32_t code;
  uint32_t flags;
};
struct ExceptionPointers {
  ExceptionRecord* record;
  void* context;
};
constexpr uint32_t kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr int kContinueExecution = 0, kContinueSearch = 1;

// Calls a filter or a __finally block with EBP = frame; returns its EAX.
extern "C" int __cdecl AvsCallWithFrame(void* code, uint32_t frame);
// Enters an __except block with EBP = frame; the block restores ESP itself.
extern "C" [[noreturn]] void __cdecl AvsJumpWithFrame(void* code, uint32_t frame);
asm(R"(
  .text
  .globl _AvsCallWithFrame
_AvsCallWithFrame:
  pushl %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 20(%esp), %eax
  movl 24(%esp), %ebp
  calll *%eax
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  retl
  .globl _AvsJumpWithFrame
_AvsJumpWithFrame:
  movl 4(%esp), %eax
  movl 8(%esp), %ebp
  jmpl *%eax
)");

uint32_t FrameOf(Eh3Record* record) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)) + 16; }

// Runs the __finally blocks from the current level down to `stop`.
void LocalUnwind(Eh3Record* record, int32_t stop) {
  while (record->tryLevel != -1 && record->tryLevel != stop) {
    const ScopeEntry& entry = record->scopeTable[record->tryLevel];
    record->tryLevel = entry.enclosingLevel;
    if (entry.filter == nullptr) AvsCallWithFrame(entry.handler, FrameOf(record));
  }
}

extern "C" int __cdecl Eh3Handler(ExceptionRecord* exception, Eh3Record* record, void* context, void*) {
  if (exception->flags & kUnwinding) {
    LocalUnwind(record, -1);
    return kContinueSearch;
  }
  ExceptionPointers pointers{exception, context};
  reinterpret_cast<ExceptionPointers**>(record)[-1] = &pointers;
  for (int32_t level = record->tryLevel; level != -1; level = record->scopeTable[level].enclosingLevel) {
    const ScopeEntry& entry = record->scopeTable[level];
    if (entry.filter == nullptr) continue;
    const int verdict = AvsCallWithFrame(entry.filter, FrameOf(record));
    if (verdict < 0) return kContinueExecution;
    if (verdict > 0) {
      RtlUnwind(record, nullptr, exception, nullptr);  // the frames above this one
      LocalUnwind(record, level);
      record->tryLevel = entry.enclosingLevel;
      AvsJumpWithFrame(entry.handler, FrameOf(record));
    }
  }
  return kContinueSearch;
}

// Points the module's import of `function` from `dll` at `replacement`.
bool PatchImport(void* module, const char* dll, const char* function, void* replacement) {
  uint8_t* base = static_cast<uint8_t*>(module);
  auto word = [base](uint32_t at) { return *reinterpret_cast<uint32_t*>(base + at); };
  const uint32_t nt = word(0x3C);
  const uint32_t imports = word(nt + 24 + 104);  // optional header, data directory 1
  for (uint32_t d = imports; word(d + 12) != 0; d += 20) {
    const char* name = reinterpret_cast<const char*>(base + word(d + 12));
    bool same = strlen(name) == strlen(dll);
    for (size_t i = 0; same && name[i]; ++i) same = (name[i] | 0x20) == (dll[i] | 0x20);
    if (!same) continue;
    uint32_t* names = reinterpret_cast<uint32_t*>(base + word(d));
    uint32_t* slots = reinterpret_cast<uint32_t*>(base + word(d + 16));
    for (int i = 0; names[i] != 0; ++i) {
      if (names[i] & 0x80000000u) continue;  // by ordinal
      if (!winrt::SameText(reinterpret_cast<const char*>(base + names[i] + 2), function)) continue;
      unsigned long old = 0;
      if (!VirtualProtect(&slots[i], 4, 0x04 /* PAGE_READWRITE */, &old)) return false;
      slots[i] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(replacement));
      VirtualProtect(&slots[i], 4, old, &old);
      return true;
    }
  }
  return false;
}

}  // namespace

#endif
