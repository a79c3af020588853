// Interface registry keys live in the registry area of the subset. The two builds of the
// subset that exist while the registry is being brought in differ in whether it is
// linked; the references below are weak so that a build without it still links, and then
// behaves like a system whose interface keys are missing (SetupDiOpenDeviceInterfaceRegKey
// fails with ERROR_FILE_NOT_FOUND).
#include "device_interfaces.h"

#include "advapi32.h"
#include "device_table_store.h"

extern "C" {
LSTATUS WINAPI RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) __attribute__((weak));
LSTATUS WINAPI RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, const LPSECURITY_ATTRIBUTES, PHKEY,
                               LPDWORD) __attribute__((weak));
LSTATUS WINAPI RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) __attribute__((weak));
}

// Stand-ins for the two reads the KS layer makes on an interface key, used only while the
// registry area is not part of the build (its definitions take precedence). Without it
// no interface key ever opens, so they are never reached with a real key.
extern "C" __attribute__((weak)) LSTATUS WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
  return ERROR_FILE_NOT_FOUND;
}
extern "C" __attribute__((weak)) LSTATUS WINAPI RegCloseKey(HKEY) { return ERROR_INVALID_HANDLE; }

namespace t32posix {

bool InterfaceKeysAvailable() {
  return RegOpenKeyExA != nullptr && RegCreateKeyExA != nullptr && RegSetValueExA != nullptr;
}

void WriteInterfaceKey(const std::string& strKey, const std::vector<std::pair<std::string, std::string>>& vValues) {
  if (!InterfaceKeysAvailable()) return;
  HKEY hKey = NULL;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL) !=
      ERROR_SUCCESS)
    return;
  for (const auto& value : vValues)
    RegSetValueExA(hKey, value.first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.second.c_str()),
                   (DWORD)value.second.size() + 1);
  RegCloseKey(hKey);
}

LSTATUS OpenInterfaceKey(const std::string& strKey, REGSAM samDesired, HKEY* phKey) {
  if (!InterfaceKeysAvailable()) return ERROR_FILE_NOT_FOUND;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, samDesired, phKey);
}

}  // namespace t32posix
