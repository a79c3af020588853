// user32 for Linux builds. There is no screen: top-level windows live in the root folder's
// window table (window_table.h), so FindWindowA finds windows of any process that uses the
// same root folder.
#pragma once

#include "win_types.h"

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

extern "C" {
// The top-level window whose class name and title match, compared without regard to case;
// a NULL class or title matches any. NULL with ERROR_CANNOT_FIND_WND_CLASS when none does.
HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
// TRUE when hWnd names a window that exists.
BOOL WINAPI IsWindow(HWND hWnd);
// Nothing comes to the front without a screen: TRUE for an existing window, FALSE for
// anything else (with no error set, as Windows does).
BOOL WINAPI SetForegroundWindow(HWND hWnd);
}
