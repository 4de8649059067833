// Replaces the global operator new and delete (every form) with ones that
// count, can fail on demand, and keep the size of each block in a header so
// that the bytes in use can be followed.
#include "failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace bspp::test {
namespace {

std::atomic<bool> armed{false};
std::atomic<long> made{0};
std::atomic<long> failing{0};
std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};

// The header before each block: its size, padded to keep the block aligned
// for any type (and for the over-aligned forms up to this alignment).
constexpr std::size_t kHeader = 64;

bool shouldFail() {
  if (!armed.load(std::memory_order_relaxed)) return false;
  const long n = made.fetch_add(1, std::memory_order_relaxed) + 1;
  return n == failing.load(std::memory_order_relaxed);
}

void* allocate(std::size_t size, std::size_t alignment) {
  if (shouldFail()) return nullptr;
  if (alignment > kHeader) return nullptr;  // no such type in this project
  void* raw = std::aligned_alloc(kHeader, ((size + kHeader + kHeader - 1) / kHeader) * kHeader);
  if (raw == nullptr) return nullptr;
  *static_cast<std::size_t*>(raw) = size;
  const std::size_t now = live.fetch_add(size, std::memory_order_relaxed) + size;
  std::size_t seen = peak.load(std::memory_order_relaxed);
  while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
  }
  return static_cast<char*>(raw) + kHeader;
}

void release(void* block) {
  if (block == nullptr) return;
  void* raw = static_cast<char*>(block) - kHeader;
  live.fetch_sub(*static_cast<std::size_t*>(raw), std::memory_order_relaxed);
  std::free(raw);
}

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
  void* p = allocate(size, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void armAllocator(long failAt) {
  made = 0;
  failing = failAt;
  armed = true;
}

long disarmAllocator() {
  armed = false;
  return made.load();
}

std::size_t liveBytes() { return live.load(); }
std::size_t peakBytes() { return peak.load(); }
void resetPeak() { peak = live.load(); }

}  // namespace bspp::test

using bspp::test::allocate;
using bspp::test::allocateOrThrow;
using bspp::test::release;

constexpr std::size_t kPlain = alignof(std::max_align_t);

void* operator new(std::size_t size) { return allocateOrThrow(size, kPlain); }
void* operator new[](std::size_t size) { return allocateOrThrow(size, kPlain); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, kPlain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, kPlain); }
void* operator new(std::size_t size, std::align_val_t a) {
  return allocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return allocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
