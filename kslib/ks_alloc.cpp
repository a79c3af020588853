#include "kslib/ks_alloc.h"

namespace {

void* HeapZeroAlloc(SIZE_T cb) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb); }
void HeapRelease(void* pv) { HeapFree(GetProcessHeap(), 0, pv); }

PFN_KSALLOC g_pfnAlloc = HeapZeroAlloc;
PFN_KSFREE g_pfnFree = HeapRelease;

}  // namespace

void KsSetAllocator(PFN_KSALLOC pfnAlloc, PFN_KSFREE pfnFree) {
  if (pfnAlloc == NULL || pfnFree == NULL) {
    g_pfnAlloc = HeapZeroAlloc;
    g_pfnFree = HeapRelease;
  } else {
    g_pfnAlloc = pfnAlloc;
    g_pfnFree = pfnFree;
  }
}

void* KsAlloc(SIZE_T cb) { return g_pfnAlloc(cb == 0 ? 1 : cb); }

void KsFree(void* pv) {
  if (pv != NULL) g_pfnFree(pv);
}
