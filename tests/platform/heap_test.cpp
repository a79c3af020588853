// Private heaps: the driver allocates every object zero-filled from one of them.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32.h"
#ifndef _WIN32
#include "platform/posix/test_hooks.h"
#endif

namespace {

TEST(Heaps, ZeroFilledAllocationsAndDestroyReleasesTheRest) {
  HANDLE heap = HeapCreate(0, 0x10000, 0);
  ASSERT_NE(heap, nullptr);
  auto* a = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 1000));
  ASSERT_NE(a, nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(a[i], 0) << i;
  std::memset(a, 0xAB, 1000);
  EXPECT_GE(HeapSize(heap, 0, a), 1000u);
  EXPECT_TRUE(HeapFree(heap, 0, a));
  // Large blocks beyond the initial size grow the heap (no maximum).
  void* big = HeapAlloc(heap, HEAP_ZERO_MEMORY, 4 << 20);
  EXPECT_NE(big, nullptr);
  EXPECT_NE(HeapAlloc(heap, 0, 64), nullptr);
  EXPECT_TRUE(HeapDestroy(heap));
}

TEST(Heaps, FreeingNullSucceeds) {
  HANDLE heap = HeapCreate(0, 0, 0);
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));
  HeapDestroy(heap);
}

#ifndef _WIN32
TEST(Heaps, FailureSwitchFailsExactlyTheNextAllocations) {
  HANDLE heap = HeapCreate(0, 0, 0);
  t32posix::FailNextHeapAllocations(2);
  EXPECT_EQ(HeapAlloc(heap, 0, 16), nullptr);
  EXPECT_EQ(HeapAlloc(heap, HEAP_ZERO_MEMORY, 16), nullptr);
  void* p = HeapAlloc(heap, 0, 16);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(t32posix::HeapLiveBlocks(heap), 1u);
  HeapFree(heap, 0, p);
  EXPECT_EQ(t32posix::HeapLiveBlocks(heap), 0u);
  t32posix::FailNextHeapAllocations(1);
  EXPECT_EQ(HeapCreate(0, 0, 0), nullptr);
  HeapDestroy(heap);
}
#endif

}  // namespace
