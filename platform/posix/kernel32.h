// kernel32 for Linux builds: handles, synchronisation, threads, timers, heaps, modules,
// file mappings, files and devices, debug output. Each function behaves as the Windows
// function of the same name does in the cases the system relies on; where a case is not
// supported it fails cleanly with the Windows error a caller would check.
#pragma once

#include "win_types.h"

extern "C" {

// ---- errors ----
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

// ---- interlocked operations (full barriers, as on Windows) ----
LONG WINAPI InterlockedIncrement(LONG volatile* p);
LONG WINAPI InterlockedDecrement(LONG volatile* p);
LONG WINAPI InterlockedExchange(LONG volatile* p, LONG v);
LONG WINAPI InterlockedExchangeAdd(LONG volatile* p, LONG v);
LONG WINAPI InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand);
PVOID WINAPI InterlockedExchangePointer(PVOID volatile* p, PVOID v);
PVOID WINAPI InterlockedCompareExchangePointer(PVOID volatile* p, PVOID exchange, PVOID comparand);

// ---- handles ----
// Closing a handle twice, or a handle that never existed, fails with ERROR_INVALID_HANDLE.
BOOL WINAPI CloseHandle(HANDLE h);
#define DUPLICATE_SAME_ACCESS 0x00000002
HANDLE WINAPI GetCurrentProcess(void);
HANDLE WINAPI GetCurrentThread(void);
DWORD WINAPI GetCurrentThreadId(void);
DWORD WINAPI GetCurrentProcessId(void);

// ---- events and waits ----
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
BOOL WINAPI SetEvent(HANDLE h);
BOOL WINAPI ResetEvent(HANDLE h);

#define MAXIMUM_WAIT_OBJECTS 64
#define WAIT_OBJECT_0 ((DWORD)0x00000000L)
#define WAIT_ABANDONED_0 ((DWORD)0x00000080L)
#define WAIT_TIMEOUT ((DWORD)0x00000102L)
#define WAIT_IO_COMPLETION ((DWORD)0x000000C0L)
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
// Waits on events, threads and waitable timers. Wait-any reports the lowest index among
// the signalled objects and consumes only that one (auto-reset kinds); wait-all returns
// only when every object is signalled at once and then consumes them all together.
// Zero, more than 64, null or duplicate-in-wait-all handles give WAIT_FAILED with
// ERROR_INVALID_PARAMETER; an unknown handle gives WAIT_FAILED with ERROR_INVALID_HANDLE.
DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD dwMilliseconds);
DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable);
void WINAPI Sleep(DWORD dwMilliseconds);

// ---- threads ----
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
#define CREATE_SUSPENDED 0x00000004
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_ERROR_RETURN 0x7fffffff
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                           DWORD dwCreationFlags, LPDWORD lpThreadId);
DWORD WINAPI ResumeThread(HANDLE hThread);
// The priority is recorded and reported back; the Linux scheduler is asked for a real-time
// class only when the process may use one, otherwise the value is kept for GetThreadPriority.
BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority);
int WINAPI GetThreadPriority(HANDLE hThread);
BOOL WINAPI SetThreadPriorityBoost(HANDLE hThread, BOOL bDisablePriorityBoost);
BOOL WINAPI GetThreadPriorityBoost(HANDLE hThread, PBOOL pDisablePriorityBoost);
DWORD_PTR WINAPI SetThreadAffinityMask(HANDLE hThread, DWORD_PTR dwThreadAffinityMask);
BOOL WINAPI GetProcessAffinityMask(HANDLE hProcess, PDWORD_PTR lpProcessAffinityMask, PDWORD_PTR lpSystemAffinityMask);
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

// ---- processes ----
// Process handles come from ShellExecuteExA (SEE_MASK_NOCLOSEPROCESS). The handle is
// signalled when the program ends; until then its exit code is STILL_ACTIVE.
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
DWORD WINAPI GetProcessId(HANDLE hProcess);

// ---- waitable timers ----
typedef void(CALLBACK* PTIMERAPCROUTINE)(LPVOID, DWORD, DWORD);
HANDLE WINAPI CreateWaitableTimerA(LPSECURITY_ATTRIBUTES sa, BOOL bManualReset, LPCSTR lpTimerName);
// A negative due time is relative, in 100-ns units; lPeriod in milliseconds (0: once).
BOOL WINAPI SetWaitableTimer(HANDLE hTimer, const LARGE_INTEGER* lpDueTime, LONG lPeriod, PTIMERAPCROUTINE pfn,
                             LPVOID lpArg, BOOL fResume);
BOOL WINAPI CancelWaitableTimer(HANDLE hTimer);

// ---- time ----
DWORD WINAPI GetTickCount(void);
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

// ---- heaps ----
#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008
HANDLE WINAPI HeapCreate(DWORD flOptions, SIZE_T dwInitialSize, SIZE_T dwMaximumSize);
BOOL WINAPI HeapDestroy(HANDLE hHeap);
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes);
BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem);
HANDLE WINAPI GetProcessHeap(void);

// ---- modules ----
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
typedef INT_PTR(WINAPI* FARPROC)();
// Loads a shared library by path, or by a Windows module name known to the subset
// ("ksuser.dll"); a plain name "X.dll" is looked up as libX.so next to the program.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
// The full path of a loaded module (NULL: the program). Copies at most nSize - 1
// characters and a zero; when the path is cut, returns nSize and sets ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule);

// ---- debug output ----
// Appends to the process's debug sink (read by tests through t32posix) and, when the
// environment variable T32_DEBUG_OUTPUT is set, also writes the text to standard error.
void WINAPI OutputDebugStringA(LPCSTR lpOutputString);

// ---- file mappings ----
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define SECTION_QUERY 0x0001
#define SECTION_MAP_WRITE 0x0002
#define SECTION_MAP_READ 0x0004
#define FILE_MAP_COPY 0x0001
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0x000F001F
// Only pagefile-backed (INVALID_HANDLE_VALUE) named or unnamed mappings are supported.
// Named ones are shared by every process that uses the same root folder; the contents
// are zero when created and vanish when the last handle anywhere is closed. Opening an
// existing name with CreateFileMappingA returns it and sets ERROR_ALREADY_EXISTS.
HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES sa, DWORD flProtect, DWORD dwMaximumSizeHigh,
                                 DWORD dwMaximumSizeLow, LPCSTR lpName);
// NULL with ERROR_FILE_NOT_FOUND when no mapping of that name exists.
HANDLE WINAPI OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress);

// ---- files and devices ----
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_OVERLAPPED 0x40000000

typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    PVOID Pointer;
  };
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef void(WINAPI* LPOVERLAPPED_COMPLETION_ROUTINE)(DWORD, DWORD, LPOVERLAPPED);

// Paths of the form "C:\..." name files below the root folder's C: drive; device
// interface paths ("\\?\...") open devices served by the registered device providers.
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES sa,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped);
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped);
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped);
BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait);
BOOL WINAPI CancelIo(HANDLE hFile);
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES sa);
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);

// ---- system information ----
typedef struct _SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;
#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_AMD64 9
void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo);

}  // extern "C"

// winbase string helpers the system uses.
#define lstrlenA(s) ((int)strlen(s))
