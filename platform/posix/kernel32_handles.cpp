// The process's handle table. Handle values are multiples of 4 and are never reused in a
// process, so closing a handle twice fails reliably instead of closing someone else's
// object. As on Windows, the low two bits of a handle value are ignored when it is used
// (the system sets the lowest bit of an event handle to keep a completion off a port).
#include <mutex>
#include <unordered_map>

#include "kernel_object.h"

namespace t32posix {
namespace {

struct CHandleTable {
  std::mutex m_lock;
  std::unordered_map<uintptr_t, std::shared_ptr<CKernelObject>> m_mapObjects;
  uintptr_t m_uNext = 0x1000;
};

CHandleTable& Table() {
  static CHandleTable* table = new CHandleTable;  // lives until exit, never destroyed mid-use
  return *table;
}

uintptr_t Key(HANDLE h) { return reinterpret_cast<uintptr_t>(h) & ~uintptr_t(3); }

}  // namespace

std::shared_ptr<CKernelObject> CurrentThreadObject();  // kernel32_thread.cpp

HANDLE InsertHandle(std::shared_ptr<CKernelObject> object) {
  if (!object) return nullptr;
  CHandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.m_lock);
  uintptr_t key = table.m_uNext;
  table.m_uNext += 4;
  ++object->m_nHandles;
  table.m_mapObjects.emplace(key, std::move(object));
  return reinterpret_cast<HANDLE>(key);
}

std::shared_ptr<CKernelObject> ReferenceHandle(HANDLE h) {
  if (h == GetCurrentThread()) return CurrentThreadObject();
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  CHandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.m_lock);
  auto it = table.m_mapObjects.find(Key(h));
  return it == table.m_mapObjects.end() ? nullptr : it->second;
}

DWORD ReferenceWaitables(DWORD n, const HANDLE* phHandles, std::shared_ptr<CWaitableObject>* pObjects) {
  CHandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.m_lock);
  for (DWORD i = 0; i < n; ++i) {
    std::shared_ptr<CKernelObject> object;
    if (phHandles[i] == GetCurrentThread()) {
      object = CurrentThreadObject();
    } else if (phHandles[i] != nullptr && phHandles[i] != INVALID_HANDLE_VALUE) {
      auto it = table.m_mapObjects.find(Key(phHandles[i]));
      if (it != table.m_mapObjects.end()) object = it->second;
    }
    CWaitableObject* waitable = object ? object->AsWaitable() : nullptr;
    if (!waitable) return i;
    pObjects[i] = std::shared_ptr<CWaitableObject>(std::move(object), waitable);
  }
  return n;
}

size_t OpenHandleCount() {
  CHandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.m_lock);
  return table.m_mapObjects.size();
}

}  // namespace t32posix

using namespace t32posix;

extern "C" {

BOOL WINAPI CloseHandle(HANDLE h) {
  std::shared_ptr<CKernelObject> object;
  bool bLast = false;
  {
    CHandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.m_lock);
    auto it = h ? table.m_mapObjects.find(Key(h)) : table.m_mapObjects.end();
    if (it == table.m_mapObjects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(it->second);
    table.m_mapObjects.erase(it);
    bLast = --object->m_nHandles == 0;
  }
  if (bLast) object->OnLastHandleClosed();
  return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

}  // extern "C"
