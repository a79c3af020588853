// The driver module's private heap and its module-wide counts. Every object of the
// driver, the kernel-streaming objects included, comes from this heap zero-filled.
#pragma once

#include <new>

#include "platform/win32.h"

namespace t32asio {

// Process attach: remember the module and create the heap (initial 64 KiB, no maximum).
BOOL ModuleAttach(HINSTANCE hInstance);
// Process detach: destroy the heap when it exists.
void ModuleDetach();
HINSTANCE ModuleInstance();
HANDLE ModuleHeap();

// A zero-filled block from the module heap, or null (also when there is no heap).
void* ModuleAlloc(SIZE_T cb);
void ModuleFree(void* p);

// Live CUnknown-based objects, and the count LockServer changes.
LONG ObjectCount();
LONG LockCount();
void AddObject();
void RemoveObject();
void AddLock();
void RemoveLock();

// Base for classes whose instances live on the module heap: `new` yields null when the
// heap has no room (the caller checks), and `delete` returns the block to the heap.
struct CModuleAllocated {
  static void* operator new(size_t cb) noexcept { return ModuleAlloc(cb); }
  static void operator delete(void* p) noexcept { ModuleFree(p); }
};

}  // namespace t32asio
