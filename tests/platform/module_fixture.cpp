// A small module for the module tests: it counts its process attach and detach calls.
#include "platform/win32.h"

#ifdef _WIN32
#define FIXTURE_EXPORT extern "C" __declspec(dllexport)
#else
#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
LONG* g_pDetachCounter = nullptr;
LONG g_nAttaches = 0;
HMODULE g_hSelf = nullptr;
}  // namespace

FIXTURE_EXPORT BOOL WINAPI DllMain(HINSTANCE hinst, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++g_nAttaches;
    g_hSelf = hinst;
    DisableThreadLibraryCalls(hinst);
  } else if (reason == DLL_PROCESS_DETACH && g_pDetachCounter) {
    ++*g_pDetachCounter;
  }
  return TRUE;
}

FIXTURE_EXPORT LONG FixtureAttaches() { return g_nAttaches; }
FIXTURE_EXPORT HMODULE FixtureSelf() { return g_hSelf; }
FIXTURE_EXPORT void FixtureSetDetachCounter(LONG* p) { g_pDetachCounter = p; }
