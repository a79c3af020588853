#include "kslib/ks_pin.h"

#include "kslib/ks_filter.h"
#include "kslib/ks_trace.h"

namespace {

typedef DWORD(WINAPI* PFN_KSCREATEPIN)(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwDesiredAccess,
                                        PHANDLE phConnection);

// Bound at the first use and kept for the life of the process.
HMODULE g_hKsUser = NULL;
PFN_KSCREATEPIN g_pfnKsCreatePin = NULL;

DWORD CallKsCreatePin(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwAccess, PHANDLE phPin) {
  if (g_pfnKsCreatePin == NULL) {
    if (g_hKsUser == NULL) g_hKsUser = LoadLibraryA("ksuser.dll");
    if (g_hKsUser != NULL) {
      FARPROC pfn = GetProcAddress(g_hKsUser, "KsCreatePin");
      g_pfnKsCreatePin = reinterpret_cast<PFN_KSCREATEPIN>(reinterpret_cast<void*>(pfn));
    }
  }
  if (g_pfnKsCreatePin == NULL) return ERROR_FILE_NOT_FOUND;
  return g_pfnKsCreatePin(hFilter, pConnect, dwAccess, phPin);
}

// The bytes after the item header that the answer really holds: the buffer bounds them,
// and so does the answer's own Size when it is smaller.
ULONG ItemPayloadBytes(const KSMULTIPLE_ITEM* pItems, ULONG cbBuffer) {
  ULONG cbValid = cbBuffer;
  if (pItems->Size >= sizeof(KSMULTIPLE_ITEM) && pItems->Size < cbValid) cbValid = pItems->Size;
  return cbValid - sizeof(KSMULTIPLE_ITEM);
}

}  // namespace

CKsPin::CKsPin(CKsFilter* pFilter, ULONG ulPinId, HRESULT* phr)
    : m_pksPinCreate(NULL),
      m_cbPinCreateSize(0),
      m_ulPinId(ulPinId),
      m_pFilter(pFilter),
      m_guidCategory(GUID_NULL),
      m_ulInterfaceCount(0),
      m_pInterfaces(NULL),
      m_ulMediumCount(0),
      m_pMediums(NULL),
      m_ulDataRangeCount(0),
      m_pDataRanges(NULL),
      m_cbDataRanges(0),
      m_ulDataFlow(0),
      m_ulCommunication(0),
      m_pksDataRangesItem(NULL),
      m_pksMediumsItem(NULL),
      m_pksInterfacesItem(NULL),
      m_ulPinType(KSPIN_TYPE_PLAIN),
      m_ksState(KSSTATE_STOP),
      m_bLooped(FALSE),
      m_pConnectToPin(NULL) {
  KsTraceEnter("CKsPin::CKsPin");
  memset(&m_ksInstances, 0, sizeof(m_ksInstances));
  memset(&m_ksGlobalInstances, 0, sizeof(m_ksGlobalInstances));
  memset(m_szName, 0, sizeof(m_szName));
  HRESULT hr = CKsPin::Init();
  if (phr != NULL) *phr = hr;
  KsTraceLeave("CKsPin::CKsPin");
}

CKsPin::~CKsPin() {
  KsTraceEnter("CKsPin::~CKsPin");
  ClosePin();
  KsFree(m_pksPinCreate);
  KsFree(m_pksDataRangesItem);
  KsFree(m_pksInterfacesItem);
  KsFree(m_pksMediumsItem);
  KsTraceLeave("CKsPin::~CKsPin");
}

HRESULT CKsPin::Init() {
  KsTraceEnter("CKsPin::Init");
  HRESULT hrResult = S_OK;
  CKsFilter* pFilter = m_pFilter;
  if (pFilter == NULL) return KsTraceLeaveHr("CKsPin::Init", S_FALSE);
  const ULONG id = m_ulPinId;

  if (FAILED(pFilter->GetPinPropertySimple(id, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, &m_ulCommunication,
                                           sizeof(ULONG)))) {
    m_ulCommunication = 0;
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }

  // Interfaces and mediums: fixed-size entries after the item header, no more of them
  // than the answer holds.
  ULONG cbItems = 0;
  if (SUCCEEDED(pFilter->GetPinPropertyMulti(id, KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, &m_pksInterfacesItem,
                                             &cbItems))) {
    ULONG ulFit = ItemPayloadBytes(m_pksInterfacesItem, cbItems) / sizeof(KSPIN_INTERFACE);
    m_ulInterfaceCount = m_pksInterfacesItem->Count;
    if (m_ulInterfaceCount > ulFit) {
      TraceMessage(KSTRACE_FAILURE, "KSPROPERTY_PIN_INTERFACES on PinID %d: count %u exceeds the answer", (int)id,
                   (unsigned)m_ulInterfaceCount);
      m_ulInterfaceCount = ulFit;
    }
    m_pInterfaces = reinterpret_cast<PKSPIN_INTERFACE>(m_pksInterfacesItem + 1);
  } else {
    KsFree(m_pksInterfacesItem);
    m_pksInterfacesItem = NULL;
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }

  cbItems = 0;
  if (SUCCEEDED(
          pFilter->GetPinPropertyMulti(id, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, &m_pksMediumsItem, &cbItems))) {
    ULONG ulFit = ItemPayloadBytes(m_pksMediumsItem, cbItems) / sizeof(KSPIN_MEDIUM);
    m_ulMediumCount = m_pksMediumsItem->Count;
    if (m_ulMediumCount > ulFit) {
      TraceMessage(KSTRACE_FAILURE, "KSPROPERTY_PIN_MEDIUMS on PinID %d: count %u exceeds the answer", (int)id,
                   (unsigned)m_ulMediumCount);
      m_ulMediumCount = ulFit;
    }
    m_pMediums = reinterpret_cast<PKSPIN_MEDIUM>(m_pksMediumsItem + 1);
  } else {
    KsFree(m_pksMediumsItem);
    m_pksMediumsItem = NULL;
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }

  // Data ranges vary in size; the walk over them is bounded by m_cbDataRanges.
  cbItems = 0;
  if (SUCCEEDED(pFilter->GetPinPropertyMulti(id, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, &m_pksDataRangesItem,
                                             &cbItems))) {
    m_ulDataRangeCount = m_pksDataRangesItem->Count;
    m_cbDataRanges = ItemPayloadBytes(m_pksDataRangesItem, cbItems);
    m_pDataRanges = reinterpret_cast<PKSDATARANGE>(m_pksDataRangesItem + 1);
  } else {
    KsFree(m_pksDataRangesItem);
    m_pksDataRangesItem = NULL;
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }

  if (FAILED(pFilter->GetPinPropertySimple(id, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, &m_ulDataFlow,
                                           sizeof(ULONG)))) {
    m_ulDataFlow = 0;
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }
  if (FAILED(pFilter->GetPinPropertySimple(id, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, &m_ksInstances,
                                           sizeof(KSPIN_CINSTANCES)))) {
    memset(&m_ksInstances, 0, sizeof(m_ksInstances));
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }
  if (FAILED(pFilter->GetPinPropertySimple(id, KSPROPSETID_Pin, KSPROPERTY_PIN_GLOBALCINSTANCES, &m_ksGlobalInstances,
                                           sizeof(KSPIN_CINSTANCES)))) {
    memset(&m_ksGlobalInstances, 0, sizeof(m_ksGlobalInstances));
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: %d",
                 (int)id);
    hrResult = S_FALSE;
  }
  if (FAILED(pFilter->GetPinPropertySimple(id, KSPROPSETID_Pin, KSPROPERTY_PIN_CATEGORY, &m_guidCategory,
                                           sizeof(GUID)))) {
    m_guidCategory = GUID_NULL;
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }
  // The name is a wide string kept as raw bytes; 259 of them leave the field terminated.
  if (FAILED(pFilter->GetPinPropertySimple(id, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, m_szName, MAX_PATH - 1))) {
    memset(m_szName, 0, sizeof(m_szName));
    TraceMessage(KSTRACE_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: %d", (int)id);
    hrResult = S_FALSE;
  }
  m_szName[MAX_PATH - 1] = '\0';
  return KsTraceLeaveHr("CKsPin::Init", hrResult);
}

HRESULT CKsPin::Instantiate(BOOL bLooped) {
  KsTraceEnter("CKsPin::Instantiate");
  if (m_pksPinCreate == NULL) return KsTraceLeaveHr("CKsPin::Instantiate", S_OK);
  // An instance that is still open is closed first rather than leaked.
  ClosePin();
  if (m_pConnectToPin != NULL) m_pksPinCreate->PinToHandle = m_pConnectToPin->m_hHandle;
  m_bLooped = bLooped;
  m_pksPinCreate->Interface.Id = bLooped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;

  HANDLE hPin = INVALID_HANDLE_VALUE;
  DWORD dwResult = CallKsCreatePin(m_pFilter != NULL ? m_pFilter->m_hHandle : INVALID_HANDLE_VALUE, m_pksPinCreate,
                                   GENERIC_READ | GENERIC_WRITE, &hPin);
  HRESULT hr = S_OK;
  if (dwResult != 0) {
    hr = (LONG)dwResult > 0 ? HRESULT_FROM_WIN32(dwResult) : (HRESULT)dwResult;
    TraceMessage(KSTRACE_FAILURE, "Failed to instantiate pin. hr=0x%08x", (unsigned)hr);
  } else {
    m_hHandle = hPin;
    m_ksState = KSSTATE_STOP;
  }
  return KsTraceLeaveHr("CKsPin::Instantiate", hr);
}

HRESULT CKsPin::SetState(KSSTATE ksState) {
  KsTraceEnter("CKsPin::SetState");
  KSSTATE ksValue = ksState;
  HRESULT hr = SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &ksValue, sizeof(KSSTATE));
  if (SUCCEEDED(hr))
    m_ksState = ksState;
  else
    TraceMessage(KSTRACE_FAILURE, "Failed to Set Pin State");
  return KsTraceLeaveHr("CKsPin::SetState", hr);
}

void CKsPin::ClosePin() {
  KsTraceEnter("CKsPin::ClosePin");
  if (IsValidHandle(m_hHandle)) {
    SetState(KSSTATE_STOP);
    SafeCloseHandle(m_hHandle);
  }
  KsTraceLeave("CKsPin::ClosePin");
}

HRESULT CKsPin::Reset() {
  KsTraceEnter("CKsPin::Reset");
  KSRESET ksReset = KSRESET_BEGIN;
  HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_RESET_STATE, &ksReset, sizeof(KSRESET), NULL, 0, NULL);
  if (FAILED(hr)) TraceMessage(KSTRACE_FAILURE, "IOCTL_KS_RESET_STATE failed");
  ksReset = KSRESET_END;
  hr = SyncIoctl(m_hHandle, IOCTL_KS_RESET_STATE, &ksReset, sizeof(KSRESET), NULL, 0, NULL);
  if (FAILED(hr)) TraceMessage(KSTRACE_FAILURE, "IOCTL_KS_RESET_STATE failed");
  return KsTraceLeaveHr("CKsPin::Reset", hr);
}

HRESULT CKsPin::WriteData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped) {
  KsTraceEnter("CKsPin::WriteData");
  HRESULT hr = S_OK;
  DWORD cbReturned = 0;
  if (pHeader == NULL) {
    hr = E_INVALIDARG;
  } else if (!DeviceIoControl(m_hHandle, IOCTL_KS_WRITE_STREAM, NULL, 0, pHeader, pHeader->Size, &cbReturned,
                              pOverlapped)) {
    DWORD dwError = GetLastError();
    if (dwError != ERROR_IO_PENDING) {
      TraceMessage(KSTRACE_FAILURE, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x", (unsigned)dwError);
      hr = E_FAIL;
    }
  }
  return KsTraceLeaveHr("CKsPin::WriteData", hr);
}

HRESULT CKsPin::ReadData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped) {
  KsTraceEnter("CKsPin::ReadData");
  HRESULT hr = S_OK;
  DWORD cbReturned = 0;
  if (pHeader == NULL) {
    hr = E_INVALIDARG;
  } else if (!DeviceIoControl(m_hHandle, IOCTL_KS_READ_STREAM, NULL, 0, pHeader, pHeader->Size, &cbReturned,
                              pOverlapped)) {
    DWORD dwError = GetLastError();
    if (dwError != ERROR_IO_PENDING) {
      TraceMessage(KSTRACE_FAILURE, "DeviceIoControl Failed!  Error=0x%08x", (unsigned)dwError);
      hr = E_FAIL;
    }
  }
  return KsTraceLeaveHr("CKsPin::ReadData", hr);
}
