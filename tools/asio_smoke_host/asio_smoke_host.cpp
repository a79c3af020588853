// asio_smoke_host: the smallest ASIO host, a Windows program for the smoke tests under Wine.
// It reads the driver's registration as hosts do and activates the registered class
// through COM, step by step, printing each result.
//
//   asio_smoke_host [--expect HRESULT] [NAME]
//
// NAME is the driver's key under HKEY_LOCAL_MACHINE\Software\ASIO (Ternix32). The exit
// code is 0 when the class factory was reached and both its CreateInstance and
// CoCreateInstance gave the expected result (S_OK unless told otherwise), 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/asio/iasio.h"

namespace {

void Report(const char* pszStep, HRESULT hr) { std::printf("%-36s 0x%08lX\n", pszStep, static_cast<unsigned long>(hr)); }

}  // namespace

int main(int argc, char** argv) {
  HRESULT hrExpected = S_OK;
  std::string name = "Ternix32";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--expect") == 0 && i + 1 < argc)
      hrExpected = static_cast<HRESULT>(std::strtoul(argv[++i], nullptr, 0));
    else
      name = argv[i];
  }

  HRESULT hr = CoInitialize(nullptr);
  Report("CoInitialize", hr);
  std::string key = "Software\\ASIO\\" + name;
  HKEY hKey = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hKey);
  if (status != ERROR_SUCCESS) {
    std::printf("HKEY_LOCAL_MACHINE\\%s cannot be opened (error %ld)\n", key.c_str(), static_cast<long>(status));
    return 1;
  }
  WCHAR text[64] = {};
  DWORD cb = sizeof(text) - sizeof(WCHAR);
  DWORD dwType = 0;
  status = RegQueryValueExW(hKey, L"CLSID", nullptr, &dwType, reinterpret_cast<BYTE*>(text), &cb);
  RegCloseKey(hKey);
  if (status != ERROR_SUCCESS || dwType != REG_SZ) {
    std::printf("\"CLSID\" cannot be read as text (error %ld, type %lu)\n", static_cast<long>(status),
                static_cast<unsigned long>(dwType));
    return 1;
  }
  std::printf("CLSID %ls\n", text);
  CLSID clsid;
  hr = CLSIDFromString(text, &clsid);
  Report("CLSIDFromString", hr);
  if (FAILED(hr)) return 1;

  // The factory is the driver's own: reaching it shows the registration leads to the module.
  IClassFactory* pFactory = nullptr;
  hr = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
  Report("CoGetClassObject(IClassFactory)", hr);
  if (FAILED(hr) || !pFactory) return 1;
  void* pv = nullptr;
  HRESULT hrFactory = pFactory->CreateInstance(nullptr, clsid, &pv);
  Report("IClassFactory::CreateInstance", hrFactory);
  if (pv) static_cast<IUnknown*>(pv)->Release();
  pFactory->Release();

  pv = nullptr;
  HRESULT hrCreate = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &pv);
  Report("CoCreateInstance(clsid, clsid)", hrCreate);
  if (SUCCEEDED(hrCreate) && pv) {
    IASIO* pDriver = static_cast<IASIO*>(pv);
    char driverName[33] = {};
    pDriver->getDriverName(driverName);
    std::printf("driver name \"%s\", version %ld\n", driverName, static_cast<long>(pDriver->getDriverVersion()));
    pDriver->Release();
  } else if (pv) {
    std::printf("CoCreateInstance failed but handed out an object\n");
    return 1;
  }
  CoUninitialize();
  bool bAsExpected = hrFactory == hrExpected && hrCreate == hrExpected;
  std::printf("%s (expected 0x%08lX)\n", bAsExpected ? "as expected" : "NOT as expected",
              static_cast<unsigned long>(hrExpected));
  return bAsExpected ? 0 : 1;
}
