// The C runtime functions the filter module calls, and the atomic operations
// its threads meet through.
//
// The Windows module is built without any C or C++ library headers: it links
// against the exports of MSVCRT.dll alone, so it declares what it calls here,
// with the runtime's own signatures. Other builds take the system's headers.
#ifndef ZEMIVTC_PLATFORM_CRT_H
#define ZEMIVTC_PLATFORM_CRT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
extern "C" {
void* __cdecl malloc(size_t size);
void* __cdecl realloc(void* block, size_t size);
void __cdecl free(void* block);
void* __cdecl memcpy(void* dst, const void* src, size_t count);
void* __cdecl memset(void* dst, int value, size_t count);
char* __cdecl getenv(const char* name);
}
#else
#include <stdlib.h>
#include <string.h>
#endif

namespace platform {

// 32-bit words shared between threads: loads acquire, stores release.
inline int32_t LoadAcquire(const int32_t* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }
inline void StoreRelease(int32_t* word, int32_t value) { __atomic_store_n(word, value, __ATOMIC_RELEASE); }

}  // namespace platform

#endif
