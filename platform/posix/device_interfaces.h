// The device interfaces that SetupAPI lists in Linux builds. Device providers (the
// emulated device) publish a device instance with its interfaces when it arrives and
// remove it when it leaves; SetupAPI takes snapshots of this table.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "win_types.h"

namespace t32posix {

struct DeviceInterfaceEntry {
  GUID guidClass;
  std::string strReference;  // interfaces of one device with the same reference are aliases
  DWORD dwFlags;             // SPINT_ACTIVE when enabled, 0 when disabled
  // REG_SZ values of the interface's "Device Parameters" key ("FriendlyName", ...).
  std::vector<std::pair<std::string, std::string>> vKeyValues;
  // A fault for tests of callers: the detail size query reports the true size plus this
  // (never less than 0). The detail read itself still needs the true size.
  LONG nDetailSizeSkew = 0;
};

struct DeviceNodeEntry {
  std::string strInstanceId;    // "USB\VID_vvvv&PID_pppp&MI_ii\<instance>"
  std::string strFriendlyName;  // SPDRP_FRIENDLYNAME; empty when the device has none
  std::string strDeviceDesc;    // SPDRP_DEVICEDESC; empty when the device has none
};

// The symbolic link of an interface: "\\?\" + the instance id with '\' turned into '#',
// in lower case, + "#{class}\" + reference.
std::string DeviceInterfacePath(const std::string& strInstanceId, REFGUID guidClass, const std::string& strReference);
// The interface's "Device Parameters" key below HKEY_LOCAL_MACHINE.
std::string DeviceInterfaceKeyPath(REFGUID guidClass, const std::string& strPath);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case.
std::string GuidToLowerString(REFGUID guid);

// Publishes a present device and writes its interface keys; returns its device instance
// number (SP_DEVINFO_DATA.DevInst). Removing it marks its interfaces removed.
DWORD PublishDevice(const DeviceNodeEntry& node, const std::vector<DeviceInterfaceEntry>& vInterfaces);
void RemoveDevice(DWORD dwDevInst);

}  // namespace t32posix
