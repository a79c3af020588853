// shell32 for Linux builds: starting programs. ShellExecuteA and ShellExecuteExA run real
// Linux programs that stand in for the Windows programs the system starts (see the table
// in shell32.cpp); Windows paths in the file and directory ("C:\...") map below the root
// folder. Every start request is appended to the launch log in the root folder, which
// tests read through t32posix::LaunchLog().
#pragma once

#include "win_types.h"

#define SEE_MASK_DEFAULT 0x00000000
#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_NOASYNC 0x00000100
#define SEE_MASK_FLAG_NO_UI 0x00000400

// Results of ShellExecuteA (and hInstApp) at or below 32 are errors.
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31

typedef struct _SHELLEXECUTEINFOA {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCSTR lpVerb;
  LPCSTR lpFile;
  LPCSTR lpParameters;
  LPCSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  LPCSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  union {
    HANDLE hIcon;
    HANDLE hMonitor;
  };
  HANDLE hProcess;
} SHELLEXECUTEINFOA, *LPSHELLEXECUTEINFOA;

extern "C" {
// Starts lpFile with the verb "open" (also NULL or "") or "runas" (there is no elevation
// here: it starts the program like "open"); other verbs give SE_ERR_NOASSOC. hwnd and
// nShow are accepted and unused (nothing is shown). Returns a value above 32 on success,
// otherwise an SE_ERR_ code, with the Windows error in GetLastError.
HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd);
// The same through the structure. cbSize must be sizeof(SHELLEXECUTEINFOA)
// (ERROR_INVALID_PARAMETER otherwise). hInstApp receives what ShellExecuteA would return;
// with SEE_MASK_NOCLOSEPROCESS, hProcess receives the started program's process handle,
// which the caller closes. Returns TRUE on success; on failure FALSE with GetLastError set.
BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo);
}
