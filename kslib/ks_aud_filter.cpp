#include "kslib/ks_aud_filter.h"

#include "kslib/ks_trace.h"

namespace {

constexpr ULONG kMaxPinFactories = 256;  // see CKsFilter::EnumeratePins

CKsAudPin* FirstViablePin(CKsListOf<CKsPin>& list, const WAVEFORMATEX* pwfx, ULONG ulFlags) {
  for (KSLISTLINK* pLink = list.GetHead(); pLink != NULL; pLink = pLink->pNext) {
    // Audio filters create only audio pins.
    CKsAudPin* pPin = static_cast<CKsAudPin*>(CKsListOf<CKsPin>::Item(pLink));
    if (pPin->IsFormatSupported(pwfx, ulFlags)) return pPin;
  }
  return NULL;
}

}  // namespace

CKsAudFilter::CKsAudFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr)
    : CKsFilter(pszSymbolicLink, pszFriendlyName, phr) {
  KsTraceEnter("CKsAudFilter::CKsAudFilter");
  KsTraceLeave("CKsAudFilter::CKsAudFilter");
}

CKsAudFilter::~CKsAudFilter() {
  KsTraceEnter("CKsAudFilter::~CKsAudFilter");
  KsTraceLeave("CKsAudFilter::~CKsAudFilter");
}

HRESULT CKsAudFilter::EnumeratePins() {
  KsTraceEnter("CKsAudFilter::EnumeratePins");
  ULONG ulCount = 0;
  HRESULT hr = GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &ulCount, sizeof(ulCount));
  if (SUCCEEDED(hr) && ulCount > kMaxPinFactories) {
    TraceMessage(KSTRACE_FAILURE, "Pin factory count %u is not believable", (unsigned)ulCount);
    hr = E_FAIL;
  }
  if (FAILED(hr)) {
    TraceMessage(KSTRACE_FAILURE, "Failed to retrieve count of pins in audio filter");
  } else {
    for (ULONG ulPinId = 0; ulPinId < ulCount; ++ulPinId) {
      ULONG ulCommunication = 0;
      if (FAILED(GetPinPropertySimple(ulPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, &ulCommunication,
                                      sizeof(ulCommunication)))) {
        TraceMessage(KSTRACE_FAILURE, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION");
        continue;
      }
      if (ulCommunication < KSPIN_COMMUNICATION_SINK || ulCommunication > KSPIN_COMMUNICATION_BOTH) {
        TraceMessage(KSTRACE_FAILURE, "Pin communication value doesn't make sense");
        continue;
      }
      ULONG ulDataFlow = 0;
      if (FAILED(GetPinPropertySimple(ulPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, &ulDataFlow,
                                      sizeof(ulDataFlow)))) {
        TraceMessage(KSTRACE_FAILURE, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW");
        continue;
      }
      HRESULT hrPin = S_OK;
      CKsAudPin* pPin;
      if (ulCommunication == KSPIN_COMMUNICATION_SINK && ulDataFlow == KSPIN_DATAFLOW_IN)
        pPin = new CKsAudRenPin(this, ulPinId, &hrPin);
      else if (ulCommunication == KSPIN_COMMUNICATION_SINK && ulDataFlow == KSPIN_DATAFLOW_OUT)
        pPin = new CKsAudCapPin(this, ulPinId, &hrPin);
      else
        pPin = new CKsAudPin(this, ulPinId, &hrPin);
      if (pPin == NULL) {
        TraceMessage(KSTRACE_FAILURE, "Failed to create audio pin");
        hr = E_OUTOFMEMORY;
        break;
      }
      if (FAILED(hrPin)) {
        delete pPin;
        continue;
      }
      if (m_listPins.AddTail(pPin) == NULL) {
        delete pPin;
        TraceMessage(KSTRACE_FAILURE, "Unable to allocate list entry to save pin in");
        hr = E_OUTOFMEMORY;
        break;
      }
    }
    if (hr == E_OUTOFMEMORY) {
      TraceMessage(KSTRACE_FAILURE, "Ran out of memory enumerating pins - deleting all pins");
      DeletePins();
      return KsTraceLeaveHr("CKsAudFilter::EnumeratePins", E_OUTOFMEMORY);
    }
  }
  ClassifyPins();
  hr = S_OK;
  if (m_listRenderSinkPins.IsEmpty() && m_listCaptureSourcePins.IsEmpty() && m_listCaptureSinkPins.IsEmpty() &&
      m_listRenderSourcePins.IsEmpty()) {
    TraceMessage(KSTRACE_FAILURE, "No valid pins found on the filter");
    hr = E_FAIL;
  }
  return KsTraceLeaveHr("CKsAudFilter::EnumeratePins", hr);
}

CKsAudRenFilter::CKsAudRenFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr)
    : CKsAudFilter(pszSymbolicLink, pszFriendlyName, phr) {
  KsTraceEnter("CKsAudRenFilter::CKsAudRenFilter");
  m_ulFilterType = KSFILTER_TYPE_RENDER;
  KsTraceLeave("CKsAudRenFilter::CKsAudRenFilter");
}

CKsAudRenFilter::~CKsAudRenFilter() {
  KsTraceEnter("CKsAudRenFilter::~CKsAudRenFilter");
  KsTraceLeave("CKsAudRenFilter::~CKsAudRenFilter");
}

CKsAudPin* CKsAudRenFilter::FindViablePin(const WAVEFORMATEX* pwfx, ULONG ulFlags) {
  KsTraceEnter("CKsAudRenFilter::FindViablePin");
  CKsAudPin* pPin = FirstViablePin(m_listRenderSinkPins, pwfx, ulFlags);
  KsTraceLeave("CKsAudRenFilter::FindViablePin");
  return pPin;
}

CKsAudCapFilter::CKsAudCapFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr)
    : CKsAudFilter(pszSymbolicLink, pszFriendlyName, phr) {
  KsTraceEnter("CKsAudCapFilter::CKsAudCapFilter");
  m_ulFilterType = KSFILTER_TYPE_CAPTURE;
  KsTraceLeave("CKsAudCapFilter::CKsAudCapFilter");
}

CKsAudCapFilter::~CKsAudCapFilter() {
  KsTraceEnter("CKsAudCapFilter::~CKsAudCapFilter");
  KsTraceLeave("CKsAudCapFilter::~CKsAudCapFilter");
}

CKsAudPin* CKsAudCapFilter::FindViablePin(const WAVEFORMATEX* pwfx, ULONG ulFlags) {
  KsTraceEnter("CKsAudCapFilter::FindViablePin");
  CKsAudPin* pPin = FirstViablePin(m_listCaptureSinkPins, pwfx, ulFlags);
  KsTraceLeave("CKsAudCapFilter::FindViablePin");
  return pPin;
}
