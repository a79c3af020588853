// The module's exports: DllMain, DllCanUnloadNow, DllGetClassObject, DllRegisterServer
// and DllUnregisterServer.
#include <cwchar>

#include "asio_driver/class_factory.h"
#include "asio_driver/module_heap.h"
#include "common/registry_names.h"
#include "kslib/ks_alloc.h"

#ifdef _WIN32
#define T32_EXPORT extern "C"
#else
#define T32_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace t32asio;

namespace {

// Writes a REG_SZ value with its terminating zero.
void SetString(HKEY hKey, const char* pszName, const char* pszValue) {
  RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue),
                 static_cast<DWORD>(strlen(pszValue) + 1));
}

}  // namespace

T32_EXPORT BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    ModuleAttach(hInstance);
    // Every object of the driver, the KS layer's included, lives on the module heap.
    KsSetAllocator(ModuleAlloc, ModuleFree);
    DisableThreadLibraryCalls(hInstance);
  } else if (dwReason == DLL_PROCESS_DETACH) {
    KsSetAllocator(nullptr, nullptr);
    ModuleDetach();
  }
  return TRUE;
}

T32_EXPORT HRESULT WINAPI DllCanUnloadNow(void) {
  return LockCount() > 0 || ObjectCount() != 0 ? S_FALSE : S_OK;
}

T32_EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  auto* factory = new CAsioClsFactory(nullptr, rclsid);
  if (!factory) return E_FAIL;
  factory->NonDelegatingAddRef();
  HRESULT hr = factory->NonDelegatingQueryInterface(riid, ppv);
  factory->NonDelegatingRelease();
  return hr;
}

T32_EXPORT HRESULT WINAPI DllRegisterServer(void) {
  char modulePath[MAX_PATH];
  DWORD n = GetModuleFileNameA(ModuleInstance(), modulePath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;  // a cut path would register a wrong file

  CLSID clsid;
  if (FAILED(CoCreateGuid(&clsid))) return E_FAIL;
  WCHAR clsidText[39];
  if (!StringFromGUID2(clsid, clsidText, 39)) return E_FAIL;

  HKEY hAsio, hDriver;
  DWORD disposition;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, t32::kAsioKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      &hAsio, &disposition) != ERROR_SUCCESS)
    return E_FAIL;
  LONG status = RegCreateKeyExA(hAsio, t32::kDriverSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &hDriver, &disposition);
  if (status == ERROR_SUCCESS) {
    RegSetValueExW(hDriver, L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsidText),
                   static_cast<DWORD>((wcslen(clsidText) + 1) * sizeof(WCHAR)));
    SetString(hDriver, t32::kValueDriver, modulePath);
    RegCloseKey(hDriver);
  }
  RegCloseKey(hAsio);
  if (status != ERROR_SUCCESS) return E_FAIL;

  WCHAR classKeyName[64] = L"CLSID\\";
  wcscat(classKeyName, clsidText);
  HKEY hClass, hInproc;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, classKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      &hClass, &disposition) != ERROR_SUCCESS)
    return E_FAIL;
  status = RegCreateKeyExA(hClass, t32::kInprocServer32, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &hInproc, &disposition);
  if (status == ERROR_SUCCESS) {
    SetString(hInproc, nullptr, modulePath);
    SetString(hInproc, t32::kValueThreadingModel, t32::kThreadingApartment);
    RegCloseKey(hInproc);
  }
  SetString(hClass, t32::kValueFriendlyName, t32::kFriendlyName);
  RegCloseKey(hClass);
  return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

T32_EXPORT HRESULT WINAPI DllUnregisterServer(void) {
  HKEY hAsio;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, t32::kAsioKey, 0, KEY_ALL_ACCESS, &hAsio) == ERROR_SUCCESS) {
    HKEY hDriver;
    if (RegOpenKeyExA(hAsio, t32::kDriverSubkey, 0, KEY_ALL_ACCESS, &hDriver) == ERROR_SUCCESS) {
      WCHAR text[261] = {0};
      DWORD cb = sizeof(text) - sizeof(WCHAR);  // the value may lack its zero
      CLSID clsid;
      if (RegQueryValueExW(hDriver, L"CLSID", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb) ==
              ERROR_SUCCESS &&
          SUCCEEDED(CLSIDFromString(text, &clsid))) {
        WCHAR canonical[39];
        StringFromGUID2(clsid, canonical, 39);
        WCHAR classKeyName[80] = L"CLSID\\";
        wcscat(classKeyName, canonical);
        WCHAR inprocKeyName[100];
        wcscpy(inprocKeyName, classKeyName);
        wcscat(inprocKeyName, L"\\InprocServer32");
        RegDeleteKeyW(HKEY_CLASSES_ROOT, inprocKeyName);
        RegDeleteKeyW(HKEY_CLASSES_ROOT, classKeyName);
      }
      RegCloseKey(hDriver);
      RegDeleteKeyA(hAsio, t32::kDriverSubkey);
    }
    RegCloseKey(hAsio);
  }
  HKEY hUserAsio;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, t32::kAsioKey, 0, KEY_ALL_ACCESS, &hUserAsio) == ERROR_SUCCESS) {
    RegDeleteKeyA(hUserAsio, t32::kDriverSubkey);
    RegCloseKey(hUserAsio);
  }
  return S_OK;
}
