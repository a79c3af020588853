#include "kslib/ks_aud_pin.h"

#include "kslib/ks_aud_filter.h"
#include "kslib/ks_trace.h"

namespace {

// {00000000-0000-0010-8000-00AA00389B71}: a wave format tag goes into the first two bytes.
const GUID kWaveFormatGuidBase = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

BOOL IsWaveFormatGuid(REFGUID guid) {
  return memcmp(reinterpret_cast<const BYTE*>(&guid) + 2, reinterpret_cast<const BYTE*>(&kWaveFormatGuidBase) + 2,
                sizeof(GUID) - 2) == 0;
}

BOOL IsNullGuid(REFGUID guid) { return IsEqualGUID(guid, GUID_NULL); }

}  // namespace

CKsAudPin::CKsAudPin(CKsAudFilter* pFilter, ULONG ulPinId, HRESULT* phr)
    : CKsPin(pFilter, ulPinId, phr), m_pAudFilter(pFilter), m_pksDataFormatWfx(NULL) {
  KsTraceEnter("CKsAudPin::CKsAudPin");
  HRESULT hr = phr != NULL ? *phr : S_OK;
  if (SUCCEEDED(hr)) {
    ULONG cbCreate = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
    m_pksPinCreate = static_cast<PKSPIN_CONNECT>(KsAlloc(cbCreate));
    if (m_pksPinCreate == NULL) {
      TraceMessage(KSTRACE_FAILURE, "Failed to allocate m_pksPinCreate");
      hr = E_OUTOFMEMORY;
    } else {
      m_cbPinCreateSize = cbCreate;
      m_pksPinCreate->Interface.Set = KSINTERFACESETID_Standard;
      m_pksPinCreate->Interface.Id = KSINTERFACE_STANDARD_STREAMING;
      m_pksPinCreate->Interface.Flags = 0;
      m_pksPinCreate->Medium.Set = KSMEDIUMSETID_Standard;
      m_pksPinCreate->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
      m_pksPinCreate->Medium.Flags = 0;
      m_pksPinCreate->PinId = ulPinId;
      m_pksPinCreate->PinToHandle = NULL;
      m_pksPinCreate->Priority.PriorityClass = KSPRIORITY_NORMAL;
      m_pksPinCreate->Priority.PrioritySubClass = 1;
      m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT>(m_pksPinCreate + 1);
      m_pksDataFormatWfx->FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
      m_pksDataFormatWfx->MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
      m_pksDataFormatWfx->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
      m_pksDataFormatWfx->Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
      hr = CKsAudPin::Init();
    }
  }
  if (phr != NULL) *phr = hr;
  KsTraceLeave("CKsAudPin::CKsAudPin");
}

CKsAudPin::~CKsAudPin() {
  KsTraceEnter("CKsAudPin::~CKsAudPin");
  while (!m_listDataRanges.IsEmpty()) KsFree(m_listDataRanges.RemoveHead());
  KsTraceLeave("CKsAudPin::~CKsAudPin");
}

HRESULT CKsAudPin::Init() {
  KsTraceEnter("CKsAudPin::Init");
  BOOL bFound = FALSE;
  for (ULONG i = 0; i < m_ulInterfaceCount && !bFound; ++i)
    bFound = IsEqualGUID(m_pInterfaces[i].Set, KSINTERFACESETID_Standard) &&
             m_pInterfaces[i].Id == KSINTERFACE_STANDARD_STREAMING;
  if (!bFound) {
    TraceMessage(KSTRACE_FAILURE, "No standard streaming interfaces on the pin");
    return KsTraceLeaveHr("CKsAudPin::Init", E_FAIL);
  }

  bFound = FALSE;
  for (ULONG i = 0; i < m_ulMediumCount && !bFound; ++i)
    bFound = IsEqualGUID(m_pMediums[i].Set, KSMEDIUMSETID_Standard) && m_pMediums[i].Id == KSMEDIUM_TYPE_ANYINSTANCE;
  if (!bFound) {
    TraceMessage(KSTRACE_FAILURE, "No standard streaming mediums on the pin");
    return KsTraceLeaveHr("CKsAudPin::Init", E_FAIL);
  }

  // Walk the ranges by their FormatSize, never past the bytes the device answered: a
  // range that claims less than a KSDATARANGE or runs past the answer ends the walk.
  HRESULT hr = S_OK;
  BOOL bConsidered = FALSE;
  const BYTE* pbRange = reinterpret_cast<const BYTE*>(m_pDataRanges);
  ULONG cbLeft = m_pDataRanges != NULL ? m_cbDataRanges : 0;
  for (ULONG i = 0; i < m_ulDataRangeCount; ++i) {
    KSDATARANGE ksRange;
    if (cbLeft < sizeof(KSDATARANGE)) {
      TraceMessage(KSTRACE_FAILURE, "Data range %u of %u lies past the answer; dropped", (unsigned)i,
                   (unsigned)m_ulDataRangeCount);
      break;
    }
    memcpy(&ksRange, pbRange, sizeof(ksRange));
    if (ksRange.FormatSize < sizeof(KSDATARANGE) || ksRange.FormatSize > cbLeft) {
      TraceMessage(KSTRACE_FAILURE, "Data range %u has FormatSize %u with %u bytes left; dropped", (unsigned)i,
                   (unsigned)ksRange.FormatSize, (unsigned)cbLeft);
      break;
    }
    if (!bConsidered)
      bConsidered = IsWaveFormatGuid(ksRange.SubFormat) || IsEqualGUID(ksRange.SubFormat, KSDATAFORMAT_SUBTYPE_PCM) ||
                    IsNullGuid(ksRange.SubFormat);
    if (bConsidered && IsEqualGUID(ksRange.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) {
      if (ksRange.FormatSize < sizeof(KSDATARANGE_AUDIO)) {
        TraceMessage(KSTRACE_FAILURE, "Audio data range %u has FormatSize %u; dropped", (unsigned)i,
                     (unsigned)ksRange.FormatSize);
      } else {
        PKSDATARANGE_AUDIO pCopy = static_cast<PKSDATARANGE_AUDIO>(KsAlloc(sizeof(KSDATARANGE_AUDIO)));
        if (pCopy == NULL) {
          TraceMessage(KSTRACE_FAILURE, "Unable to allocate memory to save datarange in");
          hr = E_OUTOFMEMORY;
        } else {
          memcpy(pCopy, pbRange, sizeof(KSDATARANGE_AUDIO));
          if (m_listDataRanges.AddTail(pCopy) == NULL) {
            TraceMessage(KSTRACE_FAILURE, "Unable to allocate list entry to save datarange in");
            KsFree(pCopy);
            hr = E_OUTOFMEMORY;
          }
        }
      }
    }
    pbRange += ksRange.FormatSize;
    cbLeft -= ksRange.FormatSize;
  }
  if (!bConsidered) {
    TraceMessage(KSTRACE_FAILURE, "No audio dataranges on the pin");
    hr = E_FAIL;
  }
  return KsTraceLeaveHr("CKsAudPin::Init", hr);
}

BOOL CKsAudPin::IsFormatSupported(const WAVEFORMATEX* pwfx, ULONG ulFlags) {
  KsTraceEnter("CKsAudPin::IsFormatSupported");
  BOOL bSupported = FALSE;
  GUID guidSubFormat = kWaveFormatGuidBase;
  BOOL bUsable = pwfx != NULL;
  if (bUsable) {
    if (pwfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
      // Without the extensible part there is no subformat to compare.
      bUsable = pwfx->cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
      if (bUsable) memcpy(&guidSubFormat, &reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pwfx)->SubFormat, sizeof(GUID));
    } else {
      guidSubFormat.Data1 = pwfx->wFormatTag;
    }
  }
  for (KSLISTLINK* pLink = bUsable ? m_listDataRanges.GetHead() : NULL; pLink != NULL && !bSupported;
       pLink = pLink->pNext) {
    const KSDATARANGE_AUDIO* pRange = CKsListOf<KSDATARANGE_AUDIO>::Item(pLink);
    const KSDATARANGE& ksRange = pRange->DataRange;
    if (!IsNullGuid(ksRange.MajorFormat) && !IsEqualGUID(ksRange.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) continue;
    if (!IsNullGuid(ksRange.SubFormat) && !IsEqualGUID(ksRange.SubFormat, guidSubFormat)) continue;
    if (!IsNullGuid(ksRange.Specifier) && !IsEqualGUID(ksRange.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX))
      continue;
    if ((ulFlags & KSAUDPIN_CHECK_CHANNELS) && pwfx->nChannels > pRange->MaximumChannels) continue;
    if ((ulFlags & KSAUDPIN_CHECK_BITS) &&
        (pwfx->wBitsPerSample < pRange->MinimumBitsPerSample || pwfx->wBitsPerSample > pRange->MaximumBitsPerSample))
      continue;
    if ((ulFlags & KSAUDPIN_CHECK_RATE) && (pwfx->nSamplesPerSec < pRange->MinimumSampleFrequency ||
                                            pwfx->nSamplesPerSec > pRange->MaximumSampleFrequency))
      continue;
    bSupported = TRUE;
  }
  KsTraceLeave("CKsAudPin::IsFormatSupported");
  return bSupported;
}

HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* pwfx) {
  KsTraceEnter("CKsAudPin::SetFormat");
  if (pwfx == NULL || m_pksDataFormatWfx == NULL) {
    TraceMessage(KSTRACE_FAILURE, "pwfx or m_pksDataFormatWfx are NULL");
    return KsTraceLeaveHr("CKsAudPin::SetFormat", E_FAIL);
  }
  ULONG cbFormat = sizeof(WAVEFORMATEX);
  if (pwfx->wFormatTag != WAVE_FORMAT_PCM) cbFormat += pwfx->cbSize;
  ULONG cbCreate = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + cbFormat;
  if (cbCreate != m_cbPinCreateSize) {
    PKSPIN_CONNECT pNew = static_cast<PKSPIN_CONNECT>(KsAlloc(cbCreate));
    if (pNew == NULL) {
      TraceMessage(KSTRACE_FAILURE, "Unable to allocate KSPIN_CONNECT structure");
      return KsTraceLeaveHr("CKsAudPin::SetFormat", E_OUTOFMEMORY);
    }
    memcpy(pNew, m_pksPinCreate, cbCreate < m_cbPinCreateSize ? cbCreate : m_cbPinCreateSize);
    KsFree(m_pksPinCreate);
    m_pksPinCreate = pNew;
    m_cbPinCreateSize = cbCreate;
    m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT>(pNew + 1);
    m_pksDataFormatWfx->FormatSize = sizeof(KSDATAFORMAT) + cbFormat;
  }
  memcpy(m_pksDataFormatWfx + 1, pwfx, cbFormat);
  m_pksDataFormatWfx->SampleSize = (WORD)(pwfx->nChannels * pwfx->wBitsPerSample / 8);
  return KsTraceLeaveHr("CKsAudPin::SetFormat", S_OK);
}

CKsAudRenPin::CKsAudRenPin(CKsAudFilter* pFilter, ULONG ulPinId, HRESULT* phr) : CKsAudPin(pFilter, ulPinId, phr) {
  KsTraceEnter("CKsAudRenPin::CKsAudRenPin");
  m_ulPinType = KSPIN_TYPE_RENDER;
  KsTraceLeave("CKsAudRenPin::CKsAudRenPin");
}

CKsAudRenPin::~CKsAudRenPin() {
  KsTraceEnter("CKsAudRenPin::~CKsAudRenPin");
  KsTraceLeave("CKsAudRenPin::~CKsAudRenPin");
}

CKsAudCapPin::CKsAudCapPin(CKsAudFilter* pFilter, ULONG ulPinId, HRESULT* phr) : CKsAudPin(pFilter, ulPinId, phr) {
  KsTraceEnter("CKsAudCapPin::CKsAudCapPin");
  m_ulPinType = KSPIN_TYPE_CAPTURE;
  KsTraceLeave("CKsAudCapPin::CKsAudCapPin");
}

CKsAudCapPin::~CKsAudCapPin() {
  KsTraceEnter("CKsAudCapPin::~CKsAudCapPin");
  KsTraceLeave("CKsAudCapPin::~CKsAudCapPin");
}
