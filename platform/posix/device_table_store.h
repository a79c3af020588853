// The process's table of published devices, shared by device_interfaces.cpp (which
// fills it) and setupapi.cpp (which takes snapshots of it).
#pragma once

#include <mutex>
#include <string>
#include <vector>

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

}  // namespace t32posix
