// The probe replaces the global allocation functions of the test binary: it
// records the largest request and forwards to malloc.
#include "tables3d_allocation_probe.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

namespace {
std::atomic<std::size_t> largest{0};

void* allocate(std::size_t n) {
  std::size_t seen = largest.load(std::memory_order_relaxed);
  while (n > seen && !largest.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace kestrel::testing {
void reset_largest_allocation() { largest.store(0); }
std::size_t largest_allocation() { return largest.load(); }
}  // namespace kestrel::testing

namespace {

TEST(AllocationProbe, SeesASingleLargeRequest) {
  kestrel::testing::reset_largest_allocation();
  auto block = std::make_unique<char[]>(std::size_t{3} << 20);
  EXPECT_GE(kestrel::testing::largest_allocation(), std::size_t{3} << 20);
}

}  // namespace
