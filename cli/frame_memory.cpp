// The command's aligned operator new and delete, which the host uses for
// video frames: large blocks are kept when freed and handed out again for
// the next request of the same size and alignment.
//
// A 1080p run makes and drops several multi-megabyte frames per output
// frame. The C library cannot reuse a freed block of exactly a frame's size
// for an aligned request of that size (the alignment needs slack), so
// without this the heap keeps growing into fresh pages that the kernel must
// fault in and zero, and recycled frames are cold in the caches. At most
// MaxSpare blocks wait here, so memory stays bounded.
//
// Replacing these operators is a C++17 facility; only the POSIX build does
// it (the Windows build keeps its runtime's).
#ifndef _WIN32

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>

namespace {

constexpr std::size_t MinKept = std::size_t{256} << 10;  // smaller blocks go straight back
constexpr int MaxSpare = 16;

// Each block starts with `Offset(align)` bytes of which the last holds the
// size asked for, so that delete, which is told only the alignment, knows it.
struct Spare {
  void* block;
  std::size_t size;
  std::size_t align;
};

std::mutex spareLock;
Spare spares[MaxSpare];
int spareCount = 0;

std::size_t Offset(std::size_t align) { return align < 2 * sizeof(std::size_t) ? 2 * sizeof(std::size_t) : align; }

void* Allocate(std::size_t size, std::align_val_t alignment) noexcept {
  const std::size_t align = static_cast<std::size_t>(alignment);
  if (size >= MinKept) {
    std::lock_guard<std::mutex> hold(spareLock);
    for (int i = spareCount - 1; i >= 0; --i) {
      if (spares[i].size == size && spares[i].align == align) {
        void* block = spares[i].block;
        spares[i] = spares[--spareCount];
        return block;
      }
    }
  }
  const std::size_t offset = Offset(align);
  if (size > SIZE_MAX - offset) return nullptr;
  void* raw = nullptr;
  const std::size_t rawAlign = offset < sizeof(void*) ? sizeof(void*) : offset;
  if (posix_memalign(&raw, rawAlign, size + offset) != 0) return nullptr;
  unsigned char* block = static_cast<unsigned char*>(raw) + offset;
  reinterpret_cast<std::size_t*>(block)[-1] = size;
  return block;
}

void Release(void* block, std::align_val_t alignment) noexcept {
  if (block == nullptr) return;
  const std::size_t align = static_cast<std::size_t>(alignment);
  const std::size_t size = static_cast<std::size_t*>(block)[-1];
  if (size >= MinKept) {
    std::lock_guard<std::mutex> hold(spareLock);
    if (spareCount < MaxSpare) {
      spares[spareCount++] = Spare{block, size, align};
      return;
    }
  }
  free(static_cast<unsigned char*>(block) - Offset(align));
}

}  // namespace

void* operator new(std::size_t size, std::align_val_t align) {
  void* p = Allocate(size, align);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size, std::align_val_t align) {
  void* p = Allocate(size, align);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return Allocate(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return Allocate(size, align);
}
void operator delete(void* p, std::align_val_t align) noexcept { Release(p, align); }
void operator delete[](void* p, std::align_val_t align) noexcept { Release(p, align); }
void operator delete(void* p, std::size_t, std::align_val_t align) noexcept { Release(p, align); }
void operator delete[](void* p, std::size_t, std::align_val_t align) noexcept { Release(p, align); }
void operator delete(void* p, std::align_val_t align, const std::nothrow_t&) noexcept { Release(p, align); }
void operator delete[](void* p, std::align_val_t align, const std::nothrow_t&) noexcept { Release(p, align); }

#endif
