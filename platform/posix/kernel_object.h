// The object model behind HANDLEs in the Linux subset. Every handle names a reference-
// counted kernel object in one process-wide table. Waitable objects keep their signal
// state under one dispatcher lock, like the Windows kernel's dispatcher, so that waiting
// for several objects at once (wait-all included) is atomic and simple to get right.
// Other areas of the subset (device files, the emulated device) build on these classes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "kernel32.h"

namespace t32posix {

class CWaitableObject;

class CKernelObject {
 public:
  virtual ~CKernelObject() = default;
  // The object as something a thread can wait on, or null; cheaper than a dynamic cast
  // on the path every wait takes.
  virtual CWaitableObject* AsWaitable() { return nullptr; }
  // Called when the last handle to the object is closed (the object itself may live on
  // while other references to it exist).
  virtual void OnLastHandleClosed() {}
  int m_nHandles = 0;  // guarded by the handle table's lock
};

// The dispatcher lock guards the signal state of every waitable object and the waiter lists.
std::mutex& DispatcherLock();

struct CWaitBlock;

class CWaitableObject : public CKernelObject {
 public:
  CWaitableObject* AsWaitable() override { return this; }
  // Both called with the dispatcher lock held.
  virtual bool IsSignaledLocked() const = 0;
  // Consumes the signal after a satisfied wait (auto-reset events and timers).
  virtual void AcquireLocked() {}
  // Objects that become signalled by themselves at a time (waitable timers) report it
  // here, so a waiter wakes up in time to look again.
  virtual bool NextDeadlineLocked(std::chrono::steady_clock::time_point* pDeadline) const { return false; }

  // Wake everyone waiting on this object; call with the dispatcher lock held after a
  // change that may satisfy a wait.
  void NotifyWaitersLocked();

  std::vector<CWaitBlock*> m_vWaiters;  // guarded by the dispatcher lock
};

class CEventObject : public CWaitableObject {
 public:
  CEventObject(bool bManualReset, bool bInitialState) : m_bManualReset(bManualReset), m_bSignaled(bInitialState) {}
  bool IsSignaledLocked() const override { return m_bSignaled; }
  void AcquireLocked() override {
    if (!m_bManualReset) m_bSignaled = false;
  }
  void Set();
  void Reset();

 private:
  bool m_bManualReset;
  bool m_bSignaled;
};

// Handle table.
HANDLE InsertHandle(std::shared_ptr<CKernelObject> object);
std::shared_ptr<CKernelObject> ReferenceHandle(HANDLE h);
template <class T>
std::shared_ptr<T> ReferenceHandleAs(HANDLE h) {
  return std::dynamic_pointer_cast<T>(ReferenceHandle(h));
}
// Looks up the waitable objects behind n handles under one lock of the table. Returns the
// index of the first handle that names no waitable object, or n when all were found.
DWORD ReferenceWaitables(DWORD n, const HANDLE* phHandles, std::shared_ptr<CWaitableObject>* pObjects);
// Number of open handles in this process (for leak checks in tests).
size_t OpenHandleCount();

// Signal the event behind a handle, if it is one; used by I/O completion, which must not
// fail when the caller passed no event or already closed it.
void SignalEventHandle(HANDLE hEvent);

}  // namespace t32posix

namespace t32posix {

// An open file or device. CreateFileA makes one; ReadFile, WriteFile, DeviceIoControl,
// CancelIo and GetOverlappedResult dispatch to it. Overlapped requests that cannot finish
// at once return FALSE with ERROR_IO_PENDING and later complete through CompleteOverlapped.
class CFileObject : public CKernelObject {
 public:
  virtual BOOL Read(LPVOID pBuffer, DWORD cbToRead, LPDWORD pcbRead, LPOVERLAPPED pOverlapped);
  virtual BOOL Write(LPCVOID pBuffer, DWORD cbToWrite, LPDWORD pcbWritten, LPOVERLAPPED pOverlapped);
  virtual BOOL IoControl(DWORD dwCode, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut, LPDWORD pcbReturned,
                         LPOVERLAPPED pOverlapped);
  // Cancels this handle's pending requests: each completes with ERROR_OPERATION_ABORTED.
  virtual BOOL Cancel();
  // True when the handle was opened with FILE_FLAG_OVERLAPPED.
  bool m_bOverlapped = false;
};

// Finishes an overlapped request: stores the status (a Win32 error code, 0 for success)
// and byte count in the OVERLAPPED as Windows does, then signals its event.
void CompleteOverlapped(LPOVERLAPPED pOverlapped, DWORD dwError, DWORD cbTransferred);
// Marks an overlapped request pending (Internal = STATUS_PENDING) and resets its event,
// as the system does before it queues a request.
void BeginOverlapped(LPOVERLAPPED pOverlapped);

// Opens device interface paths ("\\?\..."). The emulated device registers one; the first
// provider that knows the path answers. Open returns null and sets *pdwError otherwise.
class IDeviceProvider {
 public:
  virtual ~IDeviceProvider() = default;
  virtual std::shared_ptr<CFileObject> Open(const char* pszPath, DWORD dwAccess, DWORD dwFlags, DWORD* pdwError) = 0;
};
void RegisterDeviceProvider(IDeviceProvider* pProvider);
void UnregisterDeviceProvider(IDeviceProvider* pProvider);

}  // namespace t32posix
