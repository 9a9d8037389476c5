// Replacement global operators new and delete that count what armed threads allocate and free.
#include "ProcessAllocations.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> s_allocations{0};
std::atomic<uint64_t> s_frees{0};
thread_local bool s_armed = false;

void* allocate(std::size_t size, std::size_t alignment) {
  if (s_armed) s_allocations.fetch_add(1, std::memory_order_relaxed);
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size == 0 ? 1 : size);
  const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
  return std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
}

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
  if (void* p = allocate(size, alignment)) return p;
  throw std::bad_alloc();
}

void release(void* p) noexcept {
  if (p != nullptr && s_armed) s_frees.fetch_add(1, std::memory_order_relaxed);
  std::free(p);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

}  // namespace

namespace process_allocations {

void arm(bool on) {
  s_armed = on;
}

Counts counted() {
  return {s_allocations.load(), s_frees.load()};
}

}  // namespace process_allocations

void* operator new(std::size_t size) {
  return allocateOrThrow(size, kPlain);
}
void* operator new[](std::size_t size) {
  return allocateOrThrow(size, kPlain);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, kPlain);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, kPlain);
}
void* operator new(std::size_t size, std::align_val_t a) {
  return allocateOrThrow(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return allocateOrThrow(size, std::size_t(a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(size, std::size_t(a));
}

void operator delete(void* p) noexcept {
  release(p);
}
void operator delete[](void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  release(p);
}
