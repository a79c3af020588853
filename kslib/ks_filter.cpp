#include "kslib/ks_filter.h"

#include "kslib/ks_pin.h"
#include "kslib/ks_trace.h"

namespace {

// KSPROPSETID_Topology by its published value. The MinGW-w64 import library defines the
// symbol with the value of KSPROPSETID_TopologyNode, which a real filter would refuse.
const GUID kPropSetIdTopology = {0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// More pin factories than any audio filter has; a larger count is a broken answer that
// would otherwise send billions of property requests.
constexpr ULONG kMaxPinFactories = 256;

// Copies a zero-terminated string into a MAX_PATH field; FALSE when it had to be cut.
BOOL CopyField(CHAR (&szField)[MAX_PATH], const char* pszValue) {
  size_t cch = strlen(pszValue);
  BOOL bFits = cch < MAX_PATH;
  if (!bFits) cch = MAX_PATH - 1;
  memcpy(szField, pszValue, cch);
  szField[cch] = '\0';
  return bFits;
}

}  // namespace

CKsFilter::CKsFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr)
    : m_ulFilterType(KSFILTER_TYPE_PLAIN) {
  KsTraceEnter("CKsFilter::CKsFilter");
  HRESULT hr = InternalInit();
  memset(m_szFriendlyName, 0, sizeof(m_szFriendlyName));
  if (pszSymbolicLink == NULL) {
    TraceMessage(KSTRACE_FAILURE, "pszSymbolicLink cannot be NULL");
    hr = E_INVALIDARG;
  }
  if (pszFriendlyName == NULL) {
    TraceMessage(KSTRACE_FAILURE, "pszFriendlyName cannot be NULL");
    hr = E_INVALIDARG;
  }
  if (SUCCEEDED(hr)) {
    if (!CopyField(m_szSymbolicLink, pszSymbolicLink)) {
      // A cut path would name another device; refuse it.
      TraceMessage(KSTRACE_FAILURE, "pszSymbolicLink is too long");
      m_szSymbolicLink[0] = '\0';
      hr = E_INVALIDARG;
    }
    CopyField(m_szFriendlyName, pszFriendlyName);
  }
  if (phr != NULL) *phr = hr;
  KsTraceLeave("CKsFilter::CKsFilter");
}

CKsFilter::~CKsFilter() {
  KsTraceEnter("CKsFilter::~CKsFilter");
  DestroyLists();
  SafeCloseHandle(m_hHandle);
  KsTraceLeave("CKsFilter::~CKsFilter");
}

HRESULT CKsFilter::InternalInit() {
  KsTraceEnter("CKsFilter::InternalInit");
  memset(m_szSymbolicLink, 0, sizeof(m_szSymbolicLink));
  return KsTraceLeaveHr("CKsFilter::InternalInit", S_OK);
}

HRESULT CKsFilter::Instantiate() {
  KsTraceEnter("CKsFilter::Instantiate");
  HRESULT hr = S_OK;
  SafeCloseHandle(m_hHandle);
  m_hHandle = CreateFileA(m_szSymbolicLink, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
  if (!IsValidHandle(m_hHandle)) {
    TraceMessage(KSTRACE_FAILURE, "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
                 m_szSymbolicLink, (unsigned)GetLastError());
    hr = E_FAIL;
  }
  return KsTraceLeaveHr("CKsFilter::Instantiate", hr);
}

HRESULT CKsFilter::GetPinPropertySimple(ULONG ulPinId, REFGUID guidSet, ULONG ulId, PVOID pvValue, ULONG cbValue) {
  KsTraceEnter("CKsFilter::GetPinPropertySimple");
  KSP_PIN ksPin;
  memset(&ksPin, 0, sizeof(ksPin));
  ksPin.Property.Set = guidSet;
  ksPin.Property.Id = ulId;
  ksPin.Property.Flags = KSPROPERTY_TYPE_GET;
  ksPin.PinId = ulPinId;
  ksPin.Reserved = 0;
  HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, &ksPin, sizeof(ksPin), pvValue, cbValue, NULL);
  return KsTraceLeaveHr("CKsFilter::GetPinPropertySimple", hr);
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG ulPinId, REFGUID guidSet, ULONG ulId, PKSMULTIPLE_ITEM* ppItems,
                                       ULONG* pcbItems) {
  KsTraceEnter("CKsFilter::GetPinPropertyMulti");
  if (pcbItems != NULL) *pcbItems = 0;
  KSP_PIN ksPin;
  memset(&ksPin, 0, sizeof(ksPin));
  ksPin.Property.Set = guidSet;
  ksPin.Property.Id = ulId;
  ksPin.Property.Flags = KSPROPERTY_TYPE_GET;
  ksPin.PinId = ulPinId;

  ULONG cbSize = 0;
  HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, &ksPin, sizeof(ksPin), NULL, 0, &cbSize);
  if (FAILED(hr)) return KsTraceLeaveHr("CKsFilter::GetPinPropertyMulti", hr);
  if (cbSize < sizeof(KSMULTIPLE_ITEM)) {
    // A size query that reports nothing usable (a pending answer gives 0) leaves no item
    // buffer to read a count from: refused.
    TraceMessage(KSTRACE_FAILURE, "CKsFilter::GetPinPropertyMulti size query reported %u bytes", (unsigned)cbSize);
    return KsTraceLeaveHr("CKsFilter::GetPinPropertyMulti", E_FAIL);
  }
  PKSMULTIPLE_ITEM pItems = static_cast<PKSMULTIPLE_ITEM>(KsAlloc(cbSize));
  if (pItems == NULL) {
    // Sending the second request without a buffer would be taken for another size query.
    return KsTraceLeaveHr("CKsFilter::GetPinPropertyMulti", E_OUTOFMEMORY);
  }
  *ppItems = pItems;
  if (pcbItems != NULL) *pcbItems = cbSize;
  hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, &ksPin, sizeof(ksPin), pItems, cbSize, NULL);
  return KsTraceLeaveHr("CKsFilter::GetPinPropertyMulti", hr);
}

HRESULT CKsFilter::EnumeratePins() {
  KsTraceEnter("CKsFilter::EnumeratePins");
  ULONG ulCount = 0;
  HRESULT hr = GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &ulCount, sizeof(ulCount));
  if (SUCCEEDED(hr) && ulCount > kMaxPinFactories) {
    TraceMessage(KSTRACE_FAILURE, "Pin factory count %u is not believable", (unsigned)ulCount);
    hr = E_FAIL;
  }
  if (SUCCEEDED(hr)) {
    for (ULONG ulPinId = 0; ulPinId < ulCount; ++ulPinId) {
      HRESULT hrPin = S_OK;
      CKsPin* pPin = new CKsPin(this, ulPinId, &hrPin);
      if (pPin == NULL) {
        TraceMessage(KSTRACE_FAILURE, "Failed to create pin");
        continue;
      }
      if (FAILED(hrPin)) {
        TraceMessage(KSTRACE_FAILURE, "Failed to construct pin");
        delete pPin;
      } else if (m_listPins.AddTail(pPin) == NULL) {
        TraceMessage(KSTRACE_FAILURE, "Failed to add pin to list");
        delete pPin;
      }
    }
  }
  hr = ClassifyPins();
  if (m_listRenderSinkPins.IsEmpty() && m_listCaptureSourcePins.IsEmpty() && m_listCaptureSinkPins.IsEmpty() &&
      m_listRenderSourcePins.IsEmpty() && m_listNoCommunicationPins.IsEmpty()) {
    TraceMessage(KSTRACE_FAILURE, "Filter is not viable. It has no pins.");
    hr = E_FAIL;
  }
  return KsTraceLeaveHr("CKsFilter::EnumeratePins", hr);
}

HRESULT CKsFilter::ClassifyPins() {
  KsTraceEnter("CKsFilter::ClassifyPins");
  HRESULT hr = S_OK;
  for (KSLISTLINK* pLink = m_listPins.GetHead(); pLink != NULL && SUCCEEDED(hr); pLink = pLink->pNext) {
    CKsPin* pPin = CKsListOf<CKsPin>::Item(pLink);
    ULONG ulCommunication = pPin->GetCommunication();
    BOOL bIn = pPin->GetDataFlow() == KSPIN_DATAFLOW_IN;
    CKsListOf<CKsPin>* pSinkList = bIn ? &m_listRenderSinkPins : &m_listCaptureSinkPins;
    CKsListOf<CKsPin>* pSourceList = bIn ? &m_listRenderSourcePins : &m_listCaptureSourcePins;
    CKsListOf<CKsPin>* apTargets[2] = {NULL, NULL};
    switch (ulCommunication) {
      case KSPIN_COMMUNICATION_NONE:
        apTargets[0] = &m_listNoCommunicationPins;
        break;
      case KSPIN_COMMUNICATION_SINK:
        apTargets[0] = pSinkList;
        break;
      case KSPIN_COMMUNICATION_SOURCE:
        apTargets[0] = pSourceList;
        break;
      case KSPIN_COMMUNICATION_BOTH:
        apTargets[0] = pSinkList;
        apTargets[1] = pSourceList;
        break;
      default:
        TraceMessage(KSTRACE_NOTE, "Pin communication type not recognized");
        break;
    }
    for (CKsListOf<CKsPin>* pTarget : apTargets) {
      if (pTarget != NULL && pTarget->AddTail(pPin) == NULL) {
        hr = E_OUTOFMEMORY;
        break;
      }
    }
  }
  return KsTraceLeaveHr("CKsFilter::ClassifyPins", hr);
}

HRESULT CKsFilter::EnumerateNodes() {
  KsTraceEnter("CKsFilter::EnumerateNodes");
  while (!m_listNodes.IsEmpty()) delete m_listNodes.RemoveHead();

  PKSMULTIPLE_ITEM pItems = NULL;
  ULONG cbItems = 0;
  HRESULT hr = GetPropertyMulti(kPropSetIdTopology, KSPROPERTY_TOPOLOGY_NODES, &pItems, &cbItems);
  if (SUCCEEDED(hr) && pItems == NULL) hr = E_FAIL;  // no size came back: nothing to read
  if (FAILED(hr)) {
    TraceMessage(KSTRACE_ENUMERATION, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
    KsFree(pItems);
    return KsTraceLeaveHr("CKsFilter::EnumerateNodes", hr);
  }

  // The answer's own Size may be smaller than the buffer; the count must fit in both.
  ULONG cbValid = cbItems;
  if (pItems->Size >= sizeof(KSMULTIPLE_ITEM) && pItems->Size < cbValid) cbValid = pItems->Size;
  ULONG ulCount = pItems->Count;
  if (ulCount > (cbValid - sizeof(KSMULTIPLE_ITEM)) / sizeof(GUID)) {
    TraceMessage(KSTRACE_FAILURE, "KSPROPERTY_TOPOLOGY_NODES: %u nodes do not fit in %u bytes", (unsigned)ulCount,
                 (unsigned)cbValid);
    KsFree(pItems);
    return KsTraceLeaveHr("CKsFilter::EnumerateNodes", E_FAIL);
  }

  const BYTE* pbGuids = reinterpret_cast<const BYTE*>(pItems + 1);
  for (ULONG i = 0; i < ulCount; ++i) {
    GUID guidType;
    memcpy(&guidType, pbGuids + i * sizeof(GUID), sizeof(GUID));
    HRESULT hrNode = S_OK;
    CKsNode* pNode = new CKsNode(guidType, i, &hrNode);
    if (pNode == NULL) continue;
    if (m_listNodes.AddTail(pNode) == NULL) {
      delete pNode;
      hr = E_OUTOFMEMORY;
    }
  }
  if (m_listNodes.GetCount() < ulCount) {
    while (!m_listNodes.IsEmpty()) delete m_listNodes.RemoveHead();
    hr = E_FAIL;
  }
  KsFree(pItems);
  return KsTraceLeaveHr("CKsFilter::EnumerateNodes", hr);
}

void CKsFilter::ClearClassLists() {
  while (!m_listRenderSinkPins.IsEmpty()) m_listRenderSinkPins.RemoveHead();
  while (!m_listCaptureSourcePins.IsEmpty()) m_listCaptureSourcePins.RemoveHead();
  while (!m_listCaptureSinkPins.IsEmpty()) m_listCaptureSinkPins.RemoveHead();
  while (!m_listRenderSourcePins.IsEmpty()) m_listRenderSourcePins.RemoveHead();
  while (!m_listNoCommunicationPins.IsEmpty()) m_listNoCommunicationPins.RemoveHead();
}

void CKsFilter::DeletePins() {
  while (!m_listPins.IsEmpty()) delete m_listPins.RemoveHead();
}

HRESULT CKsFilter::DestroyLists() {
  KsTraceEnter("CKsFilter::DestroyLists");
  while (!m_listNodes.IsEmpty()) delete m_listNodes.RemoveHead();
  DeletePins();
  ClearClassLists();
  return KsTraceLeaveHr("CKsFilter::DestroyLists", S_OK);
}
