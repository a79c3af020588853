// A small in-process server for the program-start tests: registering it writes its own
// path to HKEY_CURRENT_USER\Software\T32RegsvrFixture "Module", unregistering deletes the
// key. T32_FIXTURE_FAIL=1 in the environment makes both entry points fail with E_FAIL.
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

#ifdef _WIN32
#define FIXTURE_EXPORT extern "C" __declspec(dllexport)
#else
#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

HMODULE g_hSelf = nullptr;
const char kKey[] = "Software\\T32RegsvrFixture";

bool AskedToFail() {
  const char* psz = std::getenv("T32_FIXTURE_FAIL");
  return psz && psz[0] == '1';
}

}  // namespace

FIXTURE_EXPORT BOOL WINAPI DllMain(HINSTANCE hinst, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_hSelf = hinst;
  return TRUE;
}

FIXTURE_EXPORT HRESULT WINAPI DllRegisterServer() {
  if (AskedToFail()) return E_FAIL;
  char path[MAX_PATH] = {};
  if (!GetModuleFileNameA(g_hSelf, path, MAX_PATH)) return E_FAIL;
  HKEY hKey;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr) !=
      ERROR_SUCCESS)
    return E_FAIL;
  RegSetValueExA(hKey, "Module", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), DWORD(std::strlen(path) + 1));
  RegCloseKey(hKey);
  return S_OK;
}

FIXTURE_EXPORT HRESULT WINAPI DllUnregisterServer() {
  if (AskedToFail()) return E_FAIL;
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  return S_OK;
}
