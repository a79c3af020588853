// Private heaps. Each block carries a small header that links it into its heap, so
// HeapDestroy releases whatever is left and tests can count live blocks. A test switch
// makes the next allocations fail, as a full heap would.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "kernel32.h"
#include "test_hooks.h"

namespace t32posix {
namespace {

struct CHeap;

struct alignas(16) CBlockHeader {
  CHeap* pHeap;
  CBlockHeader* pPrev;
  CBlockHeader* pNext;
  SIZE_T cbSize;
};

struct CHeap {
  std::mutex m_lock;
  CBlockHeader* m_pFirst = nullptr;
  size_t m_nBlocks = 0;
};

std::atomic<int> g_nFailNext{0};
// Allocations left to succeed before the one that fails; -1 when disarmed.
std::atomic<int> g_nFailAfter{-1};

struct CHeapRegistry {
  std::mutex m_lock;
  std::unordered_set<CHeap*> m_setHeaps;
};
CHeapRegistry& Heaps() {
  static CHeapRegistry* registry = new CHeapRegistry;
  return *registry;
}

bool ShouldFail() {
  int n = g_nFailNext.load();
  while (n > 0) {
    if (g_nFailNext.compare_exchange_weak(n, n - 1)) return true;
  }
  int nAfter = g_nFailAfter.load();
  while (nAfter >= 0) {
    if (g_nFailAfter.compare_exchange_weak(nAfter, nAfter - 1)) return nAfter == 0;
  }
  return false;
}

CHeap* HeapFromHandle(HANDLE h) {
  CHeapRegistry& registry = Heaps();
  std::lock_guard<std::mutex> guard(registry.m_lock);
  CHeap* heap = static_cast<CHeap*>(h);
  return registry.m_setHeaps.count(heap) ? heap : nullptr;
}

CHeap* ProcessHeap() {
  static CHeap* heap = [] {
    CHeap* h = new CHeap;
    std::lock_guard<std::mutex> guard(Heaps().m_lock);
    Heaps().m_setHeaps.insert(h);
    return h;
  }();
  return heap;
}

void Link(CHeap* heap, CBlockHeader* block) {
  block->pHeap = heap;
  block->pPrev = nullptr;
  block->pNext = heap->m_pFirst;
  if (heap->m_pFirst) heap->m_pFirst->pPrev = block;
  heap->m_pFirst = block;
  ++heap->m_nBlocks;
}

void Unlink(CHeap* heap, CBlockHeader* block) {
  if (block->pPrev) block->pPrev->pNext = block->pNext;
  else heap->m_pFirst = block->pNext;
  if (block->pNext) block->pNext->pPrev = block->pPrev;
  --heap->m_nBlocks;
}

CBlockHeader* HeaderOf(LPCVOID p) { return reinterpret_cast<CBlockHeader*>(const_cast<void*>(p)) - 1; }

}  // namespace

void FailNextHeapAllocations(int n) { g_nFailNext.store(n > 0 ? n : 0); }

void FailHeapAllocationAfter(int nSucceeding) { g_nFailAfter.store(nSucceeding >= 0 ? nSucceeding : -1); }

bool HeapFailurePending() { return g_nFailAfter.load() >= 0; }

size_t HeapLiveBlocks(HANDLE hHeap) {
  CHeap* heap = HeapFromHandle(hHeap);
  if (!heap) return 0;
  std::lock_guard<std::mutex> guard(heap->m_lock);
  return heap->m_nBlocks;
}

size_t LiveHeapCount() {
  ProcessHeap();
  std::lock_guard<std::mutex> guard(Heaps().m_lock);
  return Heaps().m_setHeaps.size() - 1;
}

}  // namespace t32posix

using namespace t32posix;

extern "C" {

HANDLE WINAPI HeapCreate(DWORD flOptions, SIZE_T dwInitialSize, SIZE_T dwMaximumSize) {
  ProcessHeap();
  if (ShouldFail()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  CHeap* heap = new CHeap;
  std::lock_guard<std::mutex> guard(Heaps().m_lock);
  Heaps().m_setHeaps.insert(heap);
  return heap;
}

BOOL WINAPI HeapDestroy(HANDLE hHeap) {
  CHeap* heap = HeapFromHandle(hHeap);
  if (!heap || heap == ProcessHeap()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> guard(Heaps().m_lock);
    Heaps().m_setHeaps.erase(heap);
  }
  for (CBlockHeader* block = heap->m_pFirst; block;) {
    CBlockHeader* next = block->pNext;
    std::free(block);
    block = next;
  }
  delete heap;
  return TRUE;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  CHeap* heap = HeapFromHandle(hHeap);
  if (!heap || ShouldFail() || dwBytes > (SIZE_T(1) << 40)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* block = static_cast<CBlockHeader*>((dwFlags & HEAP_ZERO_MEMORY) ? std::calloc(1, sizeof(CBlockHeader) + dwBytes)
                                                                        : std::malloc(sizeof(CBlockHeader) + dwBytes));
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  block->cbSize = dwBytes;
  std::lock_guard<std::mutex> guard(heap->m_lock);
  Link(heap, block);
  return block + 1;
}

LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
  CHeap* heap = HeapFromHandle(hHeap);
  if (!heap || !lpMem || HeaderOf(lpMem)->pHeap != heap) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  LPVOID fresh = HeapAlloc(hHeap, dwFlags, dwBytes);
  if (!fresh) return nullptr;
  SIZE_T old = HeaderOf(lpMem)->cbSize;
  std::memcpy(fresh, lpMem, old < dwBytes ? old : dwBytes);
  HeapFree(hHeap, 0, lpMem);
  return fresh;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  if (!lpMem) return TRUE;  // freeing NULL succeeds, as on Windows
  CHeap* heap = HeapFromHandle(hHeap);
  CBlockHeader* block = HeaderOf(lpMem);
  if (!heap || block->pHeap != heap) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> guard(heap->m_lock);
    Unlink(heap, block);
  }
  std::free(block);
  return TRUE;
}

SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem) {
  CHeap* heap = HeapFromHandle(hHeap);
  if (!heap || !lpMem || HeaderOf(lpMem)->pHeap != heap) return static_cast<SIZE_T>(-1);
  return HeaderOf(lpMem)->cbSize;
}

HANDLE WINAPI GetProcessHeap(void) { return ProcessHeap(); }

}  // extern "C"
