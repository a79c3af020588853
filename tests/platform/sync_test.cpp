// Events and waits as the driver's stream thread and the KS layer rely on them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

struct Events {
  explicit Events(int n, BOOL manual = FALSE, BOOL initial = FALSE) {
    for (int i = 0; i < n; ++i) v.push_back(CreateEventA(nullptr, manual, initial, nullptr));
  }
  ~Events() {
    for (HANDLE h : v) CloseHandle(h);
  }
  std::vector<HANDLE> v;
};

TEST(Events, AutoResetReleasesOneWaitManualResetStaysSignalled) {
  HANDLE autoEvent = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  HANDLE manualEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(autoEvent, nullptr);
  ASSERT_NE(manualEvent, nullptr);
  EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(manualEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manualEvent, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(manualEvent));
  EXPECT_EQ(WaitForSingleObject(manualEvent, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(autoEvent));
  EXPECT_EQ(WaitForSingleObject(autoEvent, 10), WAIT_OBJECT_0);
  CloseHandle(autoEvent);
  CloseHandle(manualEvent);
}

TEST(Events, SetFromAnotherThreadWakesTheWaiter) {
  Events e(1);
  std::thread setter([&] {
    Sleep(20);
    SetEvent(e.v[0]);
  });
  EXPECT_EQ(WaitForSingleObject(e.v[0], 5000), WAIT_OBJECT_0);
  setter.join();
}

TEST(Waits, WaitAnyReportsLowestSignalledIndexAndConsumesOnlyIt) {
  Events e(52);
  SetEvent(e.v[40]);
  SetEvent(e.v[7]);
  EXPECT_EQ(WaitForMultipleObjects(52, e.v.data(), FALSE, 0), WAIT_OBJECT_0 + 7);
  EXPECT_EQ(WaitForMultipleObjects(52, e.v.data(), FALSE, 0), WAIT_OBJECT_0 + 40);
  EXPECT_EQ(WaitForMultipleObjects(52, e.v.data(), FALSE, 0), WAIT_TIMEOUT);
}

TEST(Waits, WaitAllNeedsEveryObjectAndConsumesNoneUntilThen) {
  Events e(3);
  SetEvent(e.v[0]);
  SetEvent(e.v[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, e.v.data(), TRUE, 10), WAIT_TIMEOUT);
  // Nothing was consumed by the failed wait-all.
  EXPECT_EQ(WaitForSingleObject(e.v[0], 0), WAIT_OBJECT_0);
  SetEvent(e.v[0]);
  std::thread setter([&] {
    Sleep(20);
    SetEvent(e.v[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, e.v.data(), TRUE, 5000), WAIT_OBJECT_0);
  setter.join();
  for (HANDLE h : e.v) EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
}

TEST(Waits, TimeoutIsHonoured) {
  Events e(2);
  DWORD start = GetTickCount();
  EXPECT_EQ(WaitForMultipleObjects(2, e.v.data(), FALSE, 50), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - start, 40u);
}

TEST(Waits, BadArgumentsFailWithTheWindowsErrors) {
  Events e(65);
  struct Case {
    const char* what;
    DWORD count;
    const HANDLE* handles;
    BOOL all;
    DWORD error;
    bool wineDiffers;
  };
  HANDLE twice[2] = {e.v[0], e.v[0]};
  const Case cases[] = {
      {"no handles", 0, e.v.data(), FALSE, ERROR_INVALID_PARAMETER, false},
      {"more than 64", 65, e.v.data(), FALSE, ERROR_INVALID_PARAMETER, false},
      // Windows refuses the mix; Wine instead waits and times out.
      {"same object twice in wait-all", 2, twice, TRUE, ERROR_INVALID_PARAMETER, true},
  };
  for (const Case& c : cases) {
    if (c.wineDiffers && RunningUnderWine()) continue;
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.all, 0), WAIT_FAILED) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  HANDLE closed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(closed);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Waits, SameObjectTwiceInWaitAnyIsAllowed) {
  Events e(1);
  HANDLE twice[2] = {e.v[0], e.v[0]};
  SetEvent(e.v[0]);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
}

TEST(Handles, ClosingTwiceFailsWithInvalidHandle) {
  HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_TRUE(CloseHandle(h));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Handles, LowTagBitsOfAHandleAreIgnored) {
  // The KS layer marks its request events this way to keep completions off a port.
  HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE tagged = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(h) | 1);
  EXPECT_TRUE(SetEvent(tagged));
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  CloseHandle(h);
}

TEST(Interlocked, CountsAreAtomicAcrossThreads) {
  volatile LONG count = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        InterlockedIncrement(&count);
        InterlockedDecrement(&count);
        InterlockedIncrement(&count);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(count, 40000);
  EXPECT_EQ(InterlockedExchange(&count, 5), 40000);
  EXPECT_EQ(InterlockedCompareExchange(&count, 9, 4), 5);
  EXPECT_EQ(InterlockedCompareExchange(&count, 9, 5), 5);
  EXPECT_EQ(count, 9);
}

}  // namespace
