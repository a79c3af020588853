#include "asio_driver/module_heap.h"

namespace t32asio {
namespace {
HINSTANCE g_hInstance = nullptr;
HANDLE g_hHeap = nullptr;
volatile LONG g_nObjects = 0;
volatile LONG g_nLocks = 0;
}  // namespace

BOOL ModuleAttach(HINSTANCE hInstance) {
  g_hInstance = hInstance;
  if (!g_hHeap) g_hHeap = HeapCreate(0, 0x10000, 0);
  return TRUE;
}

void ModuleDetach() {
  if (g_hHeap) HeapDestroy(g_hHeap);
  g_hHeap = nullptr;
}

HINSTANCE ModuleInstance() { return g_hInstance; }
HANDLE ModuleHeap() { return g_hHeap; }

void* ModuleAlloc(SIZE_T cb) { return g_hHeap ? HeapAlloc(g_hHeap, HEAP_ZERO_MEMORY, cb) : nullptr; }

void ModuleFree(void* p) {
  if (p && g_hHeap) HeapFree(g_hHeap, 0, p);
}

LONG ObjectCount() { return g_nObjects; }
LONG LockCount() { return g_nLocks; }
void AddObject() { InterlockedIncrement(&g_nObjects); }
void RemoveObject() { InterlockedDecrement(&g_nObjects); }
void AddLock() { InterlockedIncrement(&g_nLocks); }
void RemoveLock() { InterlockedDecrement(&g_nLocks); }

}  // namespace t32asio
