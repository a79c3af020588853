// Every block and object of the KS layer is allocated through one hook, zero-filled. The
// panel keeps the default (the process heap); the driver points it at its private module
// heap. A failed allocation is a NULL result; nothing throws.
#pragma once

#include "platform/win32.h"

#include <cstddef>

typedef void* (*PFN_KSALLOC)(SIZE_T cb);  // must return zero-filled memory or NULL
typedef void (*PFN_KSFREE)(void* pv);

// Installs an allocator pair; (NULL, NULL) restores the process heap. Set it before any
// layer object exists: blocks must be freed by the allocator that made them.
void KsSetAllocator(PFN_KSALLOC pfnAlloc, PFN_KSFREE pfnFree);
void* KsAlloc(SIZE_T cb);
void KsFree(void* pv);

// Base of the layer's classes: new and delete go through the hook, and new yields NULL
// (without running the constructor) when the allocation fails.
class CKsHeapObject {
 public:
  static void* operator new(std::size_t cb) noexcept { return KsAlloc(cb); }
  static void operator delete(void* pv) noexcept { KsFree(pv); }
};
