// Events and waits. All signal states live under one dispatcher lock; a waiter registers
// a wait block with every object it waits on and sleeps on the block's condition variable
// until a signal change, its timeout, or an object's own deadline wakes it.
#include <algorithm>
#include <thread>

#include "kernel_object.h"

namespace t32posix {

using Clock = std::chrono::steady_clock;

struct CWaitBlock {
  std::condition_variable m_cv;
};

std::mutex& DispatcherLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

void CWaitableObject::NotifyWaitersLocked() {
  for (CWaitBlock* block : m_vWaiters) block->m_cv.notify_one();
}

void CEventObject::Set() {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  m_bSignaled = true;
  NotifyWaitersLocked();
}

void CEventObject::Reset() {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  m_bSignaled = false;
}

void SignalEventHandle(HANDLE hEvent) {
  if (auto event = ReferenceHandleAs<CEventObject>(hEvent)) event->Set();
}

namespace {

DWORD WaitInternal(DWORD nCount, const HANDLE* phHandles, bool bWaitAll, DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || phHandles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::shared_ptr<CWaitableObject> objects[MAXIMUM_WAIT_OBJECTS];
  if (ReferenceWaitables(nCount, phHandles, objects) != nCount) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (bWaitAll) {
    // Waiting for all of the same object twice is refused by Windows.
    for (DWORD i = 0; i < nCount; ++i)
      for (DWORD j = i + 1; j < nCount; ++j)
        if (objects[i] == objects[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
  }

  const bool bInfinite = dwMilliseconds == INFINITE;
  const Clock::time_point timeout = Clock::now() + std::chrono::milliseconds(bInfinite ? 0 : dwMilliseconds);
  CWaitBlock block;
  bool bRegistered = false;
  std::unique_lock<std::mutex> lock(DispatcherLock());
  DWORD dwResult = WAIT_TIMEOUT;
  for (;;) {
    if (bWaitAll) {
      bool bAll = true;
      for (DWORD i = 0; i < nCount && bAll; ++i) bAll = objects[i]->IsSignaledLocked();
      if (bAll) {
        for (DWORD i = 0; i < nCount; ++i) objects[i]->AcquireLocked();
        dwResult = WAIT_OBJECT_0;
        break;
      }
    } else {
      DWORD i = 0;
      while (i < nCount && !objects[i]->IsSignaledLocked()) ++i;
      if (i < nCount) {
        objects[i]->AcquireLocked();
        dwResult = WAIT_OBJECT_0 + i;
        break;
      }
    }
    if (!bInfinite && Clock::now() >= timeout) break;
    if (!bRegistered) {
      for (DWORD i = 0; i < nCount; ++i) objects[i]->m_vWaiters.push_back(&block);
      bRegistered = true;
    }
    Clock::time_point wake = bInfinite ? Clock::time_point::max() : timeout;
    for (DWORD i = 0; i < nCount; ++i) {
      Clock::time_point deadline;
      if (objects[i]->NextDeadlineLocked(&deadline)) wake = std::min(wake, deadline);
    }
    if (wake == Clock::time_point::max())
      block.m_cv.wait(lock);
    else
      block.m_cv.wait_until(lock, wake);
  }
  if (bRegistered) {
    for (DWORD i = 0; i < nCount; ++i) {
      auto& waiters = objects[i]->m_vWaiters;
      waiters.erase(std::find(waiters.begin(), waiters.end(), &block));
    }
  }
  return dwResult;
}

}  // namespace
}  // namespace t32posix

using namespace t32posix;

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  if (lpName != nullptr) {  // named events are not used by the system
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  HANDLE h = InsertHandle(std::make_shared<CEventObject>(bManualReset != FALSE, bInitialState != FALSE));
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL WINAPI SetEvent(HANDLE h) {
  auto event = ReferenceHandleAs<CEventObject>(h);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE h) {
  auto event = ReferenceHandleAs<CEventObject>(h);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Reset();
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD dwMilliseconds) {
  return WaitInternal(1, &h, false, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return WaitInternal(nCount, lpHandles, bWaitAll != FALSE, dwMilliseconds);
}

DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  // No APCs are queued in this subset, so an alertable sleep is a plain sleep.
  if (dwMilliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  if (dwMilliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
  return 0;
}

void WINAPI Sleep(DWORD dwMilliseconds) { SleepEx(dwMilliseconds, FALSE); }

}  // extern "C"
