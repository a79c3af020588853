#include "kslib/ks_enum_filters.h"

#include "kslib/ks_aud_filter.h"
#include "kslib/ks_trace.h"

namespace {

// The display name of an interface: its key's "FriendlyName", else the device's friendly
// name, else its description; empty when the interface key does not open.
void ReadFriendlyName(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface, PSP_DEVINFO_DATA pDevInfo,
                      CHAR (&szName)[MAX_PATH]) {
  memset(szName, 0, sizeof(szName));
  HKEY hKey = SetupDiOpenDeviceInterfaceRegKey(hSet, pInterface, 0, KEY_ALL_ACCESS);
  if (hKey == NULL || hKey == (HKEY)INVALID_HANDLE_VALUE) return;
  DWORD dwType = 0;
  DWORD cbName = sizeof(szName);
  if (RegQueryValueExA(hKey, "FriendlyName", NULL, &dwType, reinterpret_cast<BYTE*>(szName), &cbName) !=
      ERROR_SUCCESS) {
    memset(szName, 0, sizeof(szName));
    if (!SetupDiGetDeviceRegistryPropertyA(hSet, pDevInfo, SPDRP_FRIENDLYNAME, &dwType, reinterpret_cast<BYTE*>(szName),
                                           sizeof(szName), NULL)) {
      memset(szName, 0, sizeof(szName));
      if (!SetupDiGetDeviceRegistryPropertyA(hSet, pDevInfo, SPDRP_DEVICEDESC, &dwType,
                                             reinterpret_cast<BYTE*>(szName), sizeof(szName), NULL))
        memset(szName, 0, sizeof(szName));
    }
  }
  RegCloseKey(hKey);
  // A value of exactly 260 bytes arrives without its terminator.
  szName[MAX_PATH - 1] = '\0';
}

}  // namespace

CKsEnumFilters::CKsEnumFilters(HRESULT* phr) {
  KsTraceEnter("CKsEnumFilters::CKsEnumFilters");
  if (phr != NULL) *phr = S_OK;
  KsTraceLeave("CKsEnumFilters::CKsEnumFilters");
}

CKsEnumFilters::~CKsEnumFilters() {
  KsTraceEnter("CKsEnumFilters::~CKsEnumFilters");
  DestroyLists();
  KsTraceLeave("CKsEnumFilters::~CKsEnumFilters");
}

HRESULT CKsEnumFilters::DestroyLists() {
  KsTraceEnter("CKsEnumFilters::DestroyLists");
  while (!m_listFilters.IsEmpty()) delete m_listFilters.RemoveHead();
  return KsTraceLeaveHr("CKsEnumFilters::DestroyLists", S_OK);
}

HRESULT CKsEnumFilters::EnumFilters(const GUID* aguidCategories, ULONG ulCategoryCount) {
  KsTraceEnter("CKsEnumFilters::EnumFilters");
  HRESULT hr = DestroyLists();
  if (aguidCategories != NULL && ulCategoryCount > 0 && !IsEqualGUID(aguidCategories[0], GUID_NULL)) {
    HDEVINFO hSet = SetupDiGetClassDevsA(&aguidCategories[0], NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == NULL || hSet == INVALID_HANDLE_VALUE) {
      TraceMessage(KSTRACE_ENUMERATION, "No devices found");
      hr = E_FAIL;
    } else {
      for (DWORD dwIndex = 0;; ++dwIndex) {
        SP_DEVICE_INTERFACE_DATA ifData;
        memset(&ifData, 0, sizeof(ifData));
        ifData.cbSize = sizeof(ifData);
        if (!SetupDiEnumDeviceInterfaces(hSet, NULL, &aguidCategories[0], dwIndex, &ifData)) break;

        const DWORD cbDetail = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + 2 * MAX_PATH;
        PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(KsAlloc(cbDetail));
        if (pDetail == NULL) {
          TraceMessage(KSTRACE_ENUMERATION, "Failed to allocate SP_DEVICE_INTERFACE_DETAIL_DATA structure");
          hr = E_OUTOFMEMORY;
          break;
        }
        pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA devInfo;
        memset(&devInfo, 0, sizeof(devInfo));
        devInfo.cbSize = sizeof(devInfo);
        if (!SetupDiGetDeviceInterfaceDetailA(hSet, &ifData, pDetail, cbDetail, NULL, &devInfo)) {
          KsFree(pDetail);
          continue;
        }
        BOOL bUsable = TRUE;
        for (ULONG i = 1; i < ulCategoryCount && bUsable; ++i) {
          SP_DEVICE_INTERFACE_DATA aliasData;
          memset(&aliasData, 0, sizeof(aliasData));
          aliasData.cbSize = sizeof(aliasData);
          if (!SetupDiGetDeviceInterfaceAlias(hSet, &ifData, &aguidCategories[i], &aliasData)) {
            TraceMessage(KSTRACE_NOTE, "Failed to get requested DeviceInterfaceAlias");
            bUsable = FALSE;
          } else if (aliasData.Flags == 0 || (aliasData.Flags & SPINT_REMOVED)) {
            TraceMessage(KSTRACE_NOTE, "DeviceInterfaceAlias disabled.");
            bUsable = FALSE;
          }
        }
        if (bUsable) {
          CHAR szFriendlyName[MAX_PATH];
          ReadFriendlyName(hSet, &ifData, &devInfo, szFriendlyName);
          HRESULT hrFilter = S_OK;
          CKsAudRenFilter* pFilter = new CKsAudRenFilter(pDetail->DevicePath, szFriendlyName, &hrFilter);
          BOOL bKept = pFilter != NULL && SUCCEEDED(hrFilter) && SUCCEEDED(pFilter->Instantiate()) &&
                       SUCCEEDED(pFilter->EnumeratePins()) && m_listFilters.AddTail(pFilter) != NULL;
          if (!bKept) {
            delete pFilter;
            TraceMessage(KSTRACE_FAILURE, "Failed to create filter for %s", pDetail->DevicePath);
          }
        }
        KsFree(pDetail);
      }
      SetupDiDestroyDeviceInfoList(hSet);
    }
  }
  if (SUCCEEDED(hr) && m_listFilters.IsEmpty()) hr = E_FAIL;
  return KsTraceLeaveHr("CKsEnumFilters::EnumFilters", hr);
}
