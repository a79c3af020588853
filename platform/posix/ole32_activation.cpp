// In-process activation as COM performs it: the class's InprocServer32 key names the
// module, LoadLibraryA loads it (running its DllMain), and its DllGetClassObject gives
// the factory. Modules stay loaded for the life of the process, as COM keeps them until
// CoFreeUnusedLibraries, which the system never calls.
#include "advapi32.h"
#include "kernel32.h"
#include "ole32.h"

namespace t32posix {
bool ComInitializedOnThisThread();  // ole32.cpp
}

namespace {

HRESULT ModuleOfClass(REFCLSID rclsid, char* pszPath, DWORD cbPath) {
  WCHAR text[39];
  if (!StringFromGUID2(rclsid, text, 39)) return REGDB_E_CLASSNOTREG;
  WCHAR keyName[64] = L"CLSID\\";
  std::wcscat(keyName, text);
  std::wcscat(keyName, L"\\InprocServer32");
  HKEY hKey;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return REGDB_E_CLASSNOTREG;
  DWORD cb = cbPath - 1;
  DWORD type = 0;
  LONG status = RegQueryValueExA(hKey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(pszPath), &cb);
  RegCloseKey(hKey);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || cb == 0) return REGDB_E_CLASSNOTREG;
  pszPath[cb] = 0;
  return S_OK;
}

}  // namespace

extern "C" {

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!t32posix::ComInitializedOnThisThread()) return CO_E_NOTINITIALIZED;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  char path[MAX_PATH + 1];
  HRESULT hr = ModuleOfClass(rclsid, path, sizeof(path));
  if (FAILED(hr)) return hr;
  HMODULE module = LoadLibraryA(path);
  if (!module) return REGDB_E_CLASSNOTREG;
  auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
  if (!getClassObject) return REGDB_E_CLASSNOTREG;
  return getClassObject(rclsid, riid, ppv);
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

}  // extern "C"
