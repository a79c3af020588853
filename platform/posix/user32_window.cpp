// The window functions that need no message queue: finding top-level windows by class
// and title, and the checks that come with them.
#include "kernel32.h"
#include "test_hooks.h"
#include "user32.h"
#include "window_table.h"

namespace t32posix {
namespace {

DWORD HandleValue(HWND hWnd) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(hWnd)); }
HWND WindowOf(DWORD dwHandle) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(dwHandle)); }

bool Exists(HWND hWnd) {
  uintptr_t value = reinterpret_cast<uintptr_t>(hWnd);
  return value != 0 && value <= 0xFFFFFFFFu && LookupTopLevelWindow(HandleValue(hWnd), nullptr);
}

}  // namespace

HWND RegisterTestWindow(const char* pszTitle, const char* pszClass) {
  return WindowOf(AddTopLevelWindow(pszClass, pszTitle));
}

BOOL UnregisterTestWindow(HWND hwnd) { return Exists(hwnd) && RemoveTopLevelWindow(HandleValue(hwnd)); }

}  // namespace t32posix

using namespace t32posix;

extern "C" {

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  DWORD dwHandle = FindTopLevelWindow(lpClassName, lpWindowName);
  if (!dwHandle) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  return WindowOf(dwHandle);
}

BOOL WINAPI IsWindow(HWND hWnd) { return Exists(hWnd) ? TRUE : FALSE; }

BOOL WINAPI SetForegroundWindow(HWND hWnd) { return Exists(hWnd) ? TRUE : FALSE; }

}  // extern "C"
