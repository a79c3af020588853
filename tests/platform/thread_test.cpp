// Threads and waitable timers as the streaming engine uses them.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

std::atomic<int> g_nRuns{0};

DWORD WINAPI CountAndReturn(LPVOID param) {
  g_nRuns.fetch_add(1);
  return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(param));
}

DWORD WINAPI WaitForEvent(LPVOID param) {
  WaitForSingleObject(static_cast<HANDLE>(param), INFINITE);
  return 7;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResumeAndReportsItsExitCode) {
  g_nRuns = 0;
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, CountAndReturn, reinterpret_cast<LPVOID>(42), CREATE_SUSPENDED, &id);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(id, 0u);
  Sleep(30);
  EXPECT_EQ(g_nRuns.load(), 0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(ResumeThread(h), 1u);
  EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(g_nRuns.load(), 1);
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 42u);
  // A finished thread stays signalled.
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  CloseHandle(h);
}

TEST(Threads, PriorityBoostAndAffinityAreKept) {
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE h = CreateThread(nullptr, 0, WaitForEvent, stop, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(SetThreadPriority(h, THREAD_PRIORITY_TIME_CRITICAL));
  EXPECT_EQ(GetThreadPriority(h), THREAD_PRIORITY_TIME_CRITICAL);
  EXPECT_TRUE(SetThreadPriorityBoost(h, TRUE));
  BOOL disabled = FALSE;
  EXPECT_TRUE(GetThreadPriorityBoost(h, &disabled));
  // Wine accepts the switch but always reports boosting as enabled.
  if (!RunningUnderWine()) {
    EXPECT_TRUE(disabled);
  }

  DWORD_PTR process = 0, system = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  EXPECT_NE(process, 0u);
  EXPECT_EQ(process & ~system, 0u);
  DWORD_PTR lowest = process & (~process + 1);
  EXPECT_NE(SetThreadAffinityMask(h, lowest), 0u);
  EXPECT_EQ(SetThreadAffinityMask(h, process), lowest);
  // An empty mask is refused.
  EXPECT_EQ(SetThreadAffinityMask(h, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  SetEvent(stop);
  EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(h);
  CloseHandle(stop);
}

TEST(Threads, CurrentThreadPseudoHandleWorks) {
  EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_ABOVE_NORMAL);
  EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
}

TEST(WaitableTimers, SynchronizationTimerFiresOnceAfterRelativeDueTime) {
  HANDLE timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  ASSERT_NE(timer, nullptr);
  LARGE_INTEGER due;
  due.QuadPart = -30 * 10000LL;  // 30 ms, relative
  DWORD start = GetTickCount();
  ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WaitForSingleObject(timer, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(timer, 5000), WAIT_OBJECT_0);
  EXPECT_GE(GetTickCount() - start, 20u);
  // A synchronization timer resets when a wait is satisfied.
  EXPECT_EQ(WaitForSingleObject(timer, 50), WAIT_TIMEOUT);
  CloseHandle(timer);
}

DWORD WINAPI WaitForTimer(LPVOID param) { return WaitForSingleObject(static_cast<HANDLE>(param), 10000); }

// The watchdog is re-armed with every completion: a waiter must follow the deadline both
// when it moves later and when it moves earlier.
TEST(WaitableTimers, ReArmingMovesTheDeadlineBothWays) {
  HANDLE timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  LARGE_INTEGER due;
  const struct {
    LONGLONG firstMs, secondMs;
    DWORD atLeastMs, atMostMs;
  } cases[] = {{30, 200, 150, 5000}, {400, 30, 0, 300}};
  for (const auto& c : cases) {
    due.QuadPart = -c.firstMs * 10000;
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
    DWORD start = GetTickCount();
    HANDLE waiter = CreateThread(nullptr, 0, WaitForTimer, timer, 0, nullptr);
    Sleep(10);
    due.QuadPart = -c.secondMs * 10000;
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
    ASSERT_EQ(WaitForSingleObject(waiter, 10000), WAIT_OBJECT_0);
    DWORD elapsed = GetTickCount() - start;
    DWORD result = 0;
    GetExitCodeThread(waiter, &result);
    EXPECT_EQ(result, WAIT_OBJECT_0) << c.secondMs;
    EXPECT_GE(elapsed, c.atLeastMs) << c.secondMs;
    EXPECT_LE(elapsed, c.atMostMs) << c.secondMs;
    CloseHandle(waiter);
  }
  CloseHandle(timer);
}

TEST(WaitableTimers, CancelledTimerNeverFires) {
  HANDLE timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  LARGE_INTEGER due;
  due.QuadPart = -20 * 10000LL;
  ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_TRUE(CancelWaitableTimer(timer));
  EXPECT_EQ(WaitForSingleObject(timer, 80), WAIT_TIMEOUT);
  CloseHandle(timer);
}

TEST(WaitableTimers, TimerWakesAWaitAnyAmongEvents) {
  HANDLE objects[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr), CreateWaitableTimerA(nullptr, FALSE, nullptr)};
  LARGE_INTEGER due;
  due.QuadPart = -20 * 10000LL;
  ASSERT_TRUE(SetWaitableTimer(objects[1], &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 5000), WAIT_OBJECT_0 + 1);
  CloseHandle(objects[0]);
  CloseHandle(objects[1]);
}

TEST(Time, TimerPeriodsPairAndTimeAdvances) {
  EXPECT_EQ(timeBeginPeriod(1), static_cast<MMRESULT>(TIMERR_NOERROR));
  DWORD t0 = timeGetTime();
  SleepEx(20, FALSE);
  EXPECT_GE(timeGetTime() - t0, 15u);
  EXPECT_EQ(timeEndPeriod(1), static_cast<MMRESULT>(TIMERR_NOERROR));
  EXPECT_EQ(timeBeginPeriod(0), static_cast<MMRESULT>(TIMERR_NOCANDO));
}

}  // namespace
