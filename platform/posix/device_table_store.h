// The process's table of published devices, shared by device_interfaces.cpp (which
// fills it) and setupapi.cpp (which takes snapshots of it).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "advapi32.h"
#include "device_interfaces.h"

namespace t32posix {

struct PublishedInterface {
  DeviceInterfaceEntry entry;
  std::string strPath;
};

struct PublishedDevice {
  DWORD dwDevInst = 0;
  DeviceNodeEntry node;
  bool bPresent = false;
  std::vector<PublishedInterface> vInterfaces;
};

struct CDeviceTableStore {
  std::mutex m_lock;
  DWORD m_dwLastDevInst = 0;
  std::vector<PublishedDevice> m_vDevices;
};

CDeviceTableStore& DeviceTableStore();

// Interface keys ("Device Parameters") in the registry below HKEY_LOCAL_MACHINE.
void WriteInterfaceKey(const std::string& strKey, const std::vector<std::pair<std::string, std::string>>& vValues);
LSTATUS OpenInterfaceKey(const std::string& strKey, REGSAM samDesired, HKEY* phKey);

}  // namespace t32posix
