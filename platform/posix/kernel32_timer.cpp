// Waitable timers, tick counts and the performance counter. A timer becomes signalled by
// itself when its due time passes: waiters learn the due time through NextDeadlineLocked
// and look again then, so no service thread is needed.
#include <time.h>

#include "kernel_object.h"

namespace t32posix {
namespace {

using Clock = std::chrono::steady_clock;

class CTimerObject : public CWaitableObject {
 public:
  explicit CTimerObject(bool bManualReset) : m_bManualReset(bManualReset) {}

  bool IsSignaledLocked() const override {
    const_cast<CTimerObject*>(this)->UpdateLocked(Clock::now());
    return m_bSignaled;
  }
  void AcquireLocked() override {
    if (!m_bManualReset) m_bSignaled = false;
  }
  bool NextDeadlineLocked(Clock::time_point* pDeadline) const override {
    if (!m_bArmed) return false;
    *pDeadline = m_due;
    return true;
  }

  void SetLocked(Clock::time_point due, LONG lPeriodMs) {
    // A waiter sleeps until the deadline it last saw; it must learn of an earlier one at
    // once, while a later one it finds by itself when it wakes and looks again. Re-arming
    // a watchdog ahead of time thus wakes nobody.
    const bool bEarlier = !m_bArmed || due < m_due;
    m_bSignaled = false;  // setting a timer resets its state, as on Windows
    m_bArmed = true;
    m_due = due;
    m_period = std::chrono::milliseconds(lPeriodMs);
    if (bEarlier) NotifyWaitersLocked();
  }
  void CancelLocked() { m_bArmed = false; }

 private:
  void UpdateLocked(Clock::time_point now) {
    if (!m_bArmed || now < m_due) return;
    m_bSignaled = true;
    if (m_period.count() > 0) {
      while (m_due <= now) m_due += m_period;
    } else {
      m_bArmed = false;
    }
  }

  bool m_bManualReset;
  bool m_bSignaled = false;
  bool m_bArmed = false;
  Clock::time_point m_due;
  std::chrono::milliseconds m_period{0};
};

}  // namespace
}  // namespace t32posix

using namespace t32posix;

extern "C" {

HANDLE WINAPI CreateWaitableTimerA(LPSECURITY_ATTRIBUTES sa, BOOL bManualReset, LPCSTR lpTimerName) {
  if (lpTimerName != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return InsertHandle(std::make_shared<CTimerObject>(bManualReset != FALSE));
}

BOOL WINAPI SetWaitableTimer(HANDLE hTimer, const LARGE_INTEGER* lpDueTime, LONG lPeriod, PTIMERAPCROUTINE pfn,
                             LPVOID lpArg, BOOL fResume) {
  auto timer = ReferenceHandleAs<CTimerObject>(hTimer);
  if (!timer) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!lpDueTime || lPeriod < 0 || pfn != nullptr) {  // completion routines are not supported
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Clock::time_point due = Clock::now();
  if (lpDueTime->QuadPart < 0) {
    due += std::chrono::nanoseconds(-lpDueTime->QuadPart * 100);
  } else {
    // Absolute due times are in 100-ns units since 1601 (UTC); convert through the wall clock.
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    const LONGLONG kEpochDelta = 116444736000000000LL;
    LONGLONG now100ns = kEpochDelta + static_cast<LONGLONG>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
    if (lpDueTime->QuadPart > now100ns) due += std::chrono::nanoseconds((lpDueTime->QuadPart - now100ns) * 100);
  }
  std::lock_guard<std::mutex> guard(DispatcherLock());
  timer->SetLocked(due, lPeriod);
  return TRUE;
}

BOOL WINAPI CancelWaitableTimer(HANDLE hTimer) {
  auto timer = ReferenceHandleAs<CTimerObject>(hTimer);
  if (!timer) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(DispatcherLock());
  timer->CancelLocked();
  return TRUE;
}

DWORD WINAPI GetTickCount(void) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<ULONGLONG>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
  if (!lpPerformanceCount) return FALSE;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  lpPerformanceCount->QuadPart = static_cast<LONGLONG>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
  if (!lpFrequency) return FALSE;
  lpFrequency->QuadPart = 1000000000LL;
  return TRUE;
}

}  // extern "C"
