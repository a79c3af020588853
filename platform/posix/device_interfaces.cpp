#include "device_interfaces.h"

#include <cctype>
#include <cstdio>
#include <mutex>

#include "device_table_store.h"

namespace t32posix {

std::string GuidToLowerString(REFGUID g) {
  char sz[40];
  snprintf(sz, sizeof(sz), "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", (unsigned)g.Data1, g.Data2, g.Data3,
           g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return sz;
}

std::string DeviceInterfacePath(const std::string& strInstanceId, REFGUID guidClass, const std::string& strReference) {
  std::string strPath = "\\\\?\\";
  for (char c : strInstanceId) strPath += c == '\\' ? '#' : (char)tolower((unsigned char)c);
  strPath += '#';
  strPath += GuidToLowerString(guidClass);
  if (!strReference.empty()) strPath += "\\" + strReference;
  return strPath;
}

std::string DeviceInterfaceKeyPath(REFGUID guidClass, const std::string& strPath) {
  // "\\?\usb#...#{class}\ref" -> "##?#usb#...#{class}\#ref\Device Parameters"
  std::string strKey = strPath;
  if (strKey.compare(0, 4, "\\\\?\\") == 0) strKey = "##?#" + strKey.substr(4);
  std::string strReference;
  size_t nSlash = strKey.find('\\');
  if (nSlash != std::string::npos) {
    strReference = strKey.substr(nSlash + 1);
    strKey.resize(nSlash);
  }
  return "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + GuidToLowerString(guidClass) + "\\" + strKey + "\\#" +
         strReference + "\\Device Parameters";
}

void WriteInterfaceKey(const std::string& strKey, const std::vector<std::pair<std::string, std::string>>& vValues) {
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
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, samDesired, phKey);
}

DWORD PublishDevice(const DeviceNodeEntry& node, const std::vector<DeviceInterfaceEntry>& vInterfaces) {
  CDeviceTableStore& store = DeviceTableStore();
  std::lock_guard<std::mutex> guard(store.m_lock);
  PublishedDevice device;
  device.dwDevInst = ++store.m_dwLastDevInst;
  device.node = node;
  device.bPresent = true;
  for (const DeviceInterfaceEntry& entry : vInterfaces) {
    PublishedInterface iface;
    iface.entry = entry;
    iface.strPath = DeviceInterfacePath(node.strInstanceId, entry.guidClass, entry.strReference);
    device.vInterfaces.push_back(iface);
    // The interface key exists from installation on, as on Windows; it stays when the
    // device leaves.
    WriteInterfaceKey(DeviceInterfaceKeyPath(entry.guidClass, iface.strPath), entry.vKeyValues);
  }
  store.m_vDevices.push_back(device);
  return device.dwDevInst;
}

void RemoveDevice(DWORD dwDevInst) {
  CDeviceTableStore& store = DeviceTableStore();
  std::lock_guard<std::mutex> guard(store.m_lock);
  for (PublishedDevice& device : store.m_vDevices)
    if (device.dwDevInst == dwDevInst) device.bPresent = false;
}

}  // namespace t32posix
