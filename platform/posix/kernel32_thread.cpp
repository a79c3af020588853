// Threads. A thread object is signalled once its routine has returned; its exit code is
// STILL_ACTIVE until then. Priorities, the priority-boost switch and affinity are kept
// per thread and reported back; the Linux scheduler gets a real-time class for
// THREAD_PRIORITY_TIME_CRITICAL only when T32_REALTIME=1 asks for it (a spinning real-time
// thread can starve a shared machine, so tests never get one by accident).
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "kernel_object.h"

namespace t32posix {
namespace {

class CThreadObject : public CWaitableObject {
 public:
  bool IsSignaledLocked() const override { return m_bDone; }

  LPTHREAD_START_ROUTINE m_pfnStart = nullptr;
  LPVOID m_pParam = nullptr;
  pthread_t m_thread{};
  DWORD m_dwThreadId = 0;
  bool m_bDone = false;  // dispatcher lock
  DWORD m_dwExitCode = STILL_ACTIVE;
  int m_nPriority = THREAD_PRIORITY_NORMAL;
  BOOL m_bBoostDisabled = FALSE;
  DWORD_PTR m_dwAffinity = 0;
  std::shared_ptr<CThreadObject> m_self;  // keeps the object alive while the thread runs

  // Suspension before the first run (CREATE_SUSPENDED).
  std::mutex m_gateLock;
  std::condition_variable m_gateCv;
  DWORD m_dwSuspendCount = 0;
};

thread_local std::shared_ptr<CThreadObject> t_current;

// Thread ids are handed out from one counter, so they are unique and known at creation.
DWORD NextThreadId() {
  static std::atomic<DWORD> next{0x100};
  return next.fetch_add(4);
}

bool RealtimeAllowed() {
  const char* env = std::getenv("T32_REALTIME");
  return env && env[0] == '1';
}

void ApplyPriority(CThreadObject& thread) {
  if (!RealtimeAllowed()) return;
  sched_param param{};
  if (thread.m_nPriority >= THREAD_PRIORITY_TIME_CRITICAL) {
    param.sched_priority = sched_get_priority_max(SCHED_FIFO) - 1;
    pthread_setschedparam(thread.m_thread, SCHED_FIFO, &param);
  } else {
    pthread_setschedparam(thread.m_thread, SCHED_OTHER, &param);
  }
}

DWORD_PTR ProcessAffinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  DWORD_PTR mask = 0;
  for (unsigned i = 0; i < sizeof(DWORD_PTR) * 8; ++i)
    if (CPU_ISSET(i, &set)) mask |= DWORD_PTR(1) << i;
  return mask;
}

void* ThreadMain(void* arg) {
  std::shared_ptr<CThreadObject> self = static_cast<CThreadObject*>(arg)->m_self;
  t_current = self;
  {
    std::unique_lock<std::mutex> gate(self->m_gateLock);
    self->m_gateCv.wait(gate, [&] { return self->m_dwSuspendCount == 0; });
  }
  DWORD code = self->m_pfnStart(self->m_pParam);
  {
    std::lock_guard<std::mutex> guard(DispatcherLock());
    self->m_dwExitCode = code;
    self->m_bDone = true;
    self->NotifyWaitersLocked();
  }
  self->m_self.reset();
  t_current.reset();
  return nullptr;
}

std::shared_ptr<CThreadObject> ThreadFromHandle(HANDLE h) { return ReferenceHandleAs<CThreadObject>(h); }

}  // namespace

std::shared_ptr<CKernelObject> CurrentThreadObject() {
  if (!t_current) {
    // A thread this subset did not start (the main thread, a library's thread).
    t_current = std::make_shared<CThreadObject>();
    t_current->m_thread = pthread_self();
    t_current->m_dwThreadId = NextThreadId();
    t_current->m_dwAffinity = ProcessAffinity();
  }
  return t_current;
}

}  // namespace t32posix

using namespace t32posix;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<CThreadObject>();
  thread->m_pfnStart = start;
  thread->m_pParam = param;
  thread->m_dwSuspendCount = (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0;
  thread->m_dwAffinity = ProcessAffinity();
  thread->m_self = thread;
  thread->m_dwThreadId = NextThreadId();
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (dwStackSize >= 65536) pthread_attr_setstacksize(&attr, dwStackSize);
  HANDLE h = InsertHandle(thread);
  int err = pthread_create(&thread->m_thread, &attr, ThreadMain, thread.get());
  pthread_attr_destroy(&attr);
  if (err != 0) {
    thread->m_self.reset();
    CloseHandle(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (lpThreadId) *lpThreadId = thread->m_dwThreadId;
  return h;
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  auto thread = ThreadFromHandle(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::lock_guard<std::mutex> gate(thread->m_gateLock);
  DWORD previous = thread->m_dwSuspendCount;
  if (previous > 0 && --thread->m_dwSuspendCount == 0) thread->m_gateCv.notify_all();
  return previous;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
  auto thread = ThreadFromHandle(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool bValid = (nPriority >= THREAD_PRIORITY_LOWEST && nPriority <= THREAD_PRIORITY_HIGHEST) ||
                nPriority == THREAD_PRIORITY_TIME_CRITICAL || nPriority == THREAD_PRIORITY_IDLE;
  if (!bValid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  thread->m_nPriority = nPriority;
  ApplyPriority(*thread);
  return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread) {
  auto thread = ThreadFromHandle(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return thread->m_nPriority;
}

BOOL WINAPI SetThreadPriorityBoost(HANDLE hThread, BOOL bDisablePriorityBoost) {
  auto thread = ThreadFromHandle(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  thread->m_bBoostDisabled = bDisablePriorityBoost ? TRUE : FALSE;
  return TRUE;
}

BOOL WINAPI GetThreadPriorityBoost(HANDLE hThread, PBOOL pDisablePriorityBoost) {
  auto thread = ThreadFromHandle(hThread);
  if (!thread || !pDisablePriorityBoost) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *pDisablePriorityBoost = thread->m_bBoostDisabled;
  return TRUE;
}

DWORD_PTR WINAPI SetThreadAffinityMask(HANDLE hThread, DWORD_PTR dwThreadAffinityMask) {
  auto thread = ThreadFromHandle(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  DWORD_PTR process = ProcessAffinity();
  if (dwThreadAffinityMask == 0 || (dwThreadAffinityMask & ~process) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  bool bRunning;
  {
    std::lock_guard<std::mutex> guard(DispatcherLock());
    bRunning = !thread->m_bDone;
  }
  if (bRunning) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned i = 0; i < sizeof(DWORD_PTR) * 8; ++i)
      if (dwThreadAffinityMask & (DWORD_PTR(1) << i)) CPU_SET(i, &set);
    pthread_setaffinity_np(thread->m_thread, sizeof(set), &set);
  }
  DWORD_PTR previous = thread->m_dwAffinity;
  thread->m_dwAffinity = dwThreadAffinityMask;
  return previous;
}

BOOL WINAPI GetProcessAffinityMask(HANDLE hProcess, PDWORD_PTR lpProcessAffinityMask,
                                   PDWORD_PTR lpSystemAffinityMask) {
  if (hProcess != GetCurrentProcess() || !lpProcessAffinityMask || !lpSystemAffinityMask) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpProcessAffinityMask = ProcessAffinity();
  long n = sysconf(_SC_NPROCESSORS_CONF);
  *lpSystemAffinityMask = n >= static_cast<long>(sizeof(DWORD_PTR) * 8) ? ~DWORD_PTR(0) : (DWORD_PTR(1) << n) - 1;
  return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = ThreadFromHandle(hThread);
  if (!thread || !lpExitCode) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(DispatcherLock());
  *lpExitCode = thread->m_dwExitCode;
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) {
  return std::static_pointer_cast<CThreadObject>(CurrentThreadObject())->m_dwThreadId;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

}  // extern "C"
