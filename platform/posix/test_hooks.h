// What tests (and tools) of the Linux build can see and switch inside the subset, beyond
// the Windows functions themselves.
#pragma once

#include <string>
#include <vector>

#include "win_types.h"

namespace t32posix {

// Makes the next n heap allocations (HeapAlloc, HeapReAlloc, HeapCreate) fail with a
// null result, so every out-of-memory path can be exercised; 0 switches it off.
void FailNextHeapAllocations(int n);
// Lets the next nSucceeding heap allocations succeed and makes the one after them fail,
// so a test can fail each allocation of an operation in turn; a negative value disarms
// it. HeapFailurePending() tells whether that allocation is still to come (the operation
// made fewer allocations).
void FailHeapAllocationAfter(int nSucceeding);
bool HeapFailurePending();
// Blocks currently allocated from a heap (leak checks).
size_t HeapLiveBlocks(HANDLE hHeap);
// Live heaps created by HeapCreate.
size_t LiveHeapCount();

// Everything written with OutputDebugStringA since the last clear, in order.
std::string DebugOutput();
void ClearDebugOutput();

// Outstanding timeBeginPeriod requests.
int TimerPeriodRequests();

// Open handles in this process.
size_t OpenHandleCount();

// Every ShellExecuteA/ExA request made with this root folder, by any process, in order:
// the request as given (verb, file, parameters, directory; empty where NULL), the Linux
// program that was started for it (empty when none was) and the Windows error (0 when the
// program started).
struct LaunchRecord {
  std::string strVerb;
  std::string strFile;
  std::string strParameters;
  std::string strDirectory;
  std::string strProgram;
  DWORD dwError = 0;
};
std::vector<LaunchRecord> LaunchLog();
void ClearLaunchLog();

// Puts a top-level window with this title (and class name, when given) into the root
// folder's window table for this process, as if a program had created it, so FindWindowA
// finds it from any process; and takes it out again. The window vanishes by itself when
// the process ends.
HWND RegisterTestWindow(const char* pszTitle, const char* pszClass = nullptr);
BOOL UnregisterTestWindow(HWND hwnd);

}  // namespace t32posix
