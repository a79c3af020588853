// SetupAPI device-interface enumeration over the table of published devices. A device
// information set is a snapshot: devices that arrive or leave afterwards do not change it.
#include "setupapi.h"

#include <cstddef>
#include <mutex>
#include <set>

#include "device_interfaces.h"
#include "device_table_store.h"

namespace t32posix {

CDeviceTableStore& DeviceTableStore() {
  static CDeviceTableStore* store = new CDeviceTableStore;
  return *store;
}

namespace {

// SetupAPI's own errors for a device or an interface that does not exist.
constexpr DWORD kErrorNoSuchDevinst = 0xE000020Bu;
constexpr DWORD kErrorNoSuchDeviceInterface = 0xE0000225u;

// The "MEDIA" device setup class, which audio devices belong to.
constexpr GUID kMediaClass = {0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

struct CDevInfoSet {
  GUID guidClass;
  std::vector<PublishedDevice> vDevices;                 // copies taken at creation
  std::vector<std::pair<size_t, size_t>> vMembers;       // (device, interface) of the class
};

std::mutex g_lockSets;
std::set<CDevInfoSet*> g_setSets;

CDevInfoSet* SetFromHandle(HDEVINFO h) {
  std::lock_guard<std::mutex> guard(g_lockSets);
  auto it = g_setSets.find(static_cast<CDevInfoSet*>(h));
  if (it == g_setSets.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return *it;
}

// Interface data carries (device, interface) + 1 in Reserved.
ULONG_PTR EncodeInterface(size_t nDevice, size_t nInterface) {
  return (ULONG_PTR)((nDevice << 16) | nInterface) + 1;
}

const PublishedInterface* ResolveInterface(CDevInfoSet* pSet, PSP_DEVICE_INTERFACE_DATA pData, size_t* pnDevice) {
  if (pData == nullptr || pData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || pData->Reserved == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  size_t nCode = (size_t)(pData->Reserved - 1);
  size_t nDevice = nCode >> 16, nInterface = nCode & 0xFFFF;
  if (nDevice >= pSet->vDevices.size() || nInterface >= pSet->vDevices[nDevice].vInterfaces.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (pnDevice) *pnDevice = nDevice;
  return &pSet->vDevices[nDevice].vInterfaces[nInterface];
}

DWORD InterfaceFlags(const PublishedDevice& device, const PublishedInterface& iface) {
  DWORD dwFlags = iface.entry.dwFlags & (SPINT_ACTIVE | SPINT_REMOVED);
  if (!device.bPresent) dwFlags = SPINT_REMOVED;
  return dwFlags;
}

}  // namespace
}  // namespace t32posix

using namespace t32posix;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags) {
  if (!(Flags & DIGCF_DEVICEINTERFACE) || ClassGuid == nullptr || Enumerator != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  CDevInfoSet* pSet = new CDevInfoSet;
  pSet->guidClass = *ClassGuid;
  {
    CDeviceTableStore& store = DeviceTableStore();
    std::lock_guard<std::mutex> guard(store.m_lock);
    for (const PublishedDevice& device : store.m_vDevices) {
      if ((Flags & DIGCF_PRESENT) && !device.bPresent) continue;
      bool bMember = false;
      for (size_t i = 0; i < device.vInterfaces.size(); ++i) {
        const PublishedInterface& iface = device.vInterfaces[i];
        if (!IsEqualGUID(iface.entry.guidClass, *ClassGuid)) continue;
        if ((Flags & DIGCF_PRESENT) && !(iface.entry.dwFlags & SPINT_ACTIVE)) continue;
        pSet->vMembers.emplace_back(pSet->vDevices.size(), i);
        bMember = true;
      }
      if (bMember) pSet->vDevices.push_back(device);
    }
  }
  std::lock_guard<std::mutex> guard(g_lockSets);
  g_setSets.insert(pSet);
  return pSet;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  std::lock_guard<std::mutex> guard(g_lockSets);
  auto it = g_setSets.find(static_cast<CDevInfoSet*>(DeviceInfoSet));
  if (it == g_setSets.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete *it;
  g_setSets.erase(it);
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  CDevInfoSet* pSet = SetFromHandle(DeviceInfoSet);
  if (!pSet) return FALSE;
  if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  // Members of the set's class, optionally of one device only.
  DWORD dwSeen = 0;
  for (const auto& member : pSet->vMembers) {
    const PublishedDevice& device = pSet->vDevices[member.first];
    const PublishedInterface& iface = device.vInterfaces[member.second];
    if (!IsEqualGUID(iface.entry.guidClass, *InterfaceClassGuid)) continue;
    if (DeviceInfoData != nullptr && DeviceInfoData->DevInst != device.dwDevInst) continue;
    if (dwSeen++ != MemberIndex) continue;
    DeviceInterfaceData->InterfaceClassGuid = iface.entry.guidClass;
    DeviceInterfaceData->Flags = InterfaceFlags(device, iface);
    DeviceInterfaceData->Reserved = EncodeInterface(member.first, member.second);
    return TRUE;
  }
  SetLastError(ERROR_NO_MORE_ITEMS);
  return FALSE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData) {
  CDevInfoSet* pSet = SetFromHandle(DeviceInfoSet);
  if (!pSet) return FALSE;
  size_t nDevice = 0;
  const PublishedInterface* pIface = ResolveInterface(pSet, DeviceInterfaceData, &nDevice);
  if (!pIface) return FALSE;
  if (DeviceInterfaceDetailData == nullptr && DeviceInterfaceDetailDataSize != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (DeviceInterfaceDetailData != nullptr &&
      DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  DWORD cbNeeded = (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + pIface->strPath.size() + 1);
  if (RequiredSize) {
    LONGLONG llReported = (LONGLONG)cbNeeded + pIface->entry.nDetailSizeSkew;
    *RequiredSize = llReported < 0 ? 0 : (DWORD)llReported;
  }
  if (DeviceInfoData != nullptr) {
    DeviceInfoData->ClassGuid = kMediaClass;
    DeviceInfoData->DevInst = pSet->vDevices[nDevice].dwDevInst;
    DeviceInfoData->Reserved = nDevice + 1;
  }
  if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < cbNeeded) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(DeviceInterfaceDetailData->DevicePath, pIface->strPath.c_str(), pIface->strPath.size() + 1);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceAlias(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                           const GUID* AliasInterfaceClassGuid,
                                           PSP_DEVICE_INTERFACE_DATA AliasDeviceInterfaceData) {
  CDevInfoSet* pSet = SetFromHandle(DeviceInfoSet);
  if (!pSet) return FALSE;
  size_t nDevice = 0;
  const PublishedInterface* pIface = ResolveInterface(pSet, DeviceInterfaceData, &nDevice);
  if (!pIface) return FALSE;
  if (AliasInterfaceClassGuid == nullptr || AliasDeviceInterfaceData == nullptr ||
      AliasDeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const PublishedDevice& device = pSet->vDevices[nDevice];
  for (size_t i = 0; i < device.vInterfaces.size(); ++i) {
    const PublishedInterface& alias = device.vInterfaces[i];
    if (!IsEqualGUID(alias.entry.guidClass, *AliasInterfaceClassGuid) ||
        alias.entry.strReference != pIface->entry.strReference)
      continue;
    AliasDeviceInterfaceData->InterfaceClassGuid = alias.entry.guidClass;
    AliasDeviceInterfaceData->Flags = InterfaceFlags(device, alias);
    AliasDeviceInterfaceData->Reserved = EncodeInterface(nDevice, i);
    return TRUE;
  }
  SetLastError(kErrorNoSuchDeviceInterface);
  return FALSE;
}

HKEY WINAPI SetupDiOpenDeviceInterfaceRegKey(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             DWORD Reserved, REGSAM samDesired) {
  CDevInfoSet* pSet = SetFromHandle(DeviceInfoSet);
  if (!pSet) return (HKEY)INVALID_HANDLE_VALUE;
  const PublishedInterface* pIface = ResolveInterface(pSet, DeviceInterfaceData, nullptr);
  if (!pIface) return (HKEY)INVALID_HANDLE_VALUE;
  HKEY hKey = NULL;
  std::string strKey = DeviceInterfaceKeyPath(pIface->entry.guidClass, pIface->strPath);
  LSTATUS status = OpenInterfaceKey(strKey, samDesired, &hKey);
  if (status != ERROR_SUCCESS) {
    SetLastError((DWORD)status);
    return (HKEY)INVALID_HANDLE_VALUE;
  }
  return hKey;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  CDevInfoSet* pSet = SetFromHandle(DeviceInfoSet);
  if (!pSet) return FALSE;
  if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const PublishedDevice* pDevice = nullptr;
  for (const PublishedDevice& device : pSet->vDevices)
    if (device.dwDevInst == DeviceInfoData->DevInst) pDevice = &device;
  if (pDevice == nullptr) {
    SetLastError(kErrorNoSuchDevinst);
    return FALSE;
  }
  std::string strValue;
  DWORD dwType = REG_SZ;
  switch (Property) {
    case SPDRP_FRIENDLYNAME: strValue = pDevice->node.strFriendlyName; break;
    case SPDRP_DEVICEDESC: strValue = pDevice->node.strDeviceDesc; break;
    case SPDRP_HARDWAREID: {
      // The instance id without its instance part, as a one-string REG_MULTI_SZ.
      strValue = pDevice->node.strInstanceId.substr(0, pDevice->node.strInstanceId.rfind('\\'));
      strValue.push_back('\0');
      dwType = REG_MULTI_SZ;
      break;
    }
    default: break;
  }
  if (strValue.empty()) {
    SetLastError(ERROR_INVALID_DATA);  // the device has no such property
    return FALSE;
  }
  DWORD cbNeeded = (DWORD)strValue.size() + 1;
  if (RequiredSize) *RequiredSize = cbNeeded;
  if (PropertyRegDataType) *PropertyRegDataType = dwType;
  if (PropertyBuffer == nullptr || PropertyBufferSize < cbNeeded) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(PropertyBuffer, strValue.data(), strValue.size());
  PropertyBuffer[strValue.size()] = 0;
  return TRUE;
}

}  // extern "C"
