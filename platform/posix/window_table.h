// The top-level window table: the top-level windows of every process that uses the root
// folder, with their handle value, owner process, class name and title. It lives in a file
// of the root folder, so FindWindowA finds a window of another process as on Windows.
// Windows of a process that has ended count as gone (and are dropped at the next change).
// FindWindowA reads it; the headless user32 enters its top-level windows here.
#pragma once

#include <string>
#include <vector>

#include "win_types.h"

namespace t32posix {

struct WindowEntry {
  DWORD dwHandle = 0;  // the HWND's value; never 0, never reused within a root folder
  DWORD dwProcessId = 0;
  std::string strClass;
  std::string strTitle;
};

// Enters a window of this process; returns its handle value, or 0 when the table cannot
// be written.
DWORD AddTopLevelWindow(const char* pszClass, const char* pszTitle);
// Takes a window out; FALSE when there is no such window.
BOOL RemoveTopLevelWindow(DWORD dwHandle);
BOOL SetTopLevelWindowTitle(DWORD dwHandle, const char* pszTitle);
// The live windows, the most recently entered first (the top of the Z order).
std::vector<WindowEntry> TopLevelWindows();
// The first live window whose class and title match, without regard to case; a NULL class
// or title matches any. 0 when none does.
DWORD FindTopLevelWindow(const char* pszClass, const char* pszTitle);
BOOL LookupTopLevelWindow(DWORD dwHandle, WindowEntry* pEntry);

}  // namespace t32posix
