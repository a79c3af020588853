// Filter handles of the emulated device: the pin factory and topology properties, with
// the published layouts, and pin creation from a connect request.
#include <algorithm>

#include "emulator/device_core.h"
#include "emulator/emu_pin.h"

namespace t32emu {
namespace {

std::vector<BYTE> DataRangesAnswer(const PinDescription& pin) {
  if (!pin.vbRawDataRanges.empty()) return pin.vbRawDataRanges;
  std::vector<KSDATARANGE_AUDIO> vRanges;
  for (const RangeDescription& desc : pin.vRanges) {
    KSDATARANGE_AUDIO range;
    memset(&range, 0, sizeof(range));
    range.DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    range.DataRange.MajorFormat = desc.guidMajorFormat;
    range.DataRange.SubFormat = desc.guidSubFormat;
    range.DataRange.Specifier = desc.guidSpecifier;
    range.MaximumChannels = desc.ulMaximumChannels;
    range.MinimumBitsPerSample = desc.ulMinimumBits;
    range.MaximumBitsPerSample = desc.ulMaximumBits;
    range.MinimumSampleFrequency = desc.ulMinimumRate;
    range.MaximumSampleFrequency = desc.ulMaximumRate;
    vRanges.push_back(range);
  }
  return MultipleItem((ULONG)vRanges.size(), vRanges.data(), vRanges.size() * sizeof(KSDATARANGE_AUDIO));
}

std::vector<BYTE> IdentifiersAnswer(const std::vector<KSIDENTIFIER>& vIds, const std::vector<BYTE>& vbRaw) {
  if (!vbRaw.empty()) return vbRaw;
  return MultipleItem((ULONG)vIds.size(), vIds.data(), vIds.size() * sizeof(KSIDENTIFIER));
}

std::vector<BYTE> NameAnswer(const std::string& strName) {
  // A wide string of the Windows kind: UTF-16 code units, zero-terminated.
  std::vector<BYTE> vb;
  for (unsigned char c : strName) {
    vb.push_back(c);
    vb.push_back(0);
  }
  vb.push_back(0);
  vb.push_back(0);
  return vb;
}

bool Admits(const RangeDescription& range, REFGUID guidSubFormat, const WAVEFORMATEX& wfx) {
  if (!IsEqualGUID(range.guidMajorFormat, GUID_NULL) && !IsEqualGUID(range.guidMajorFormat, KSDATAFORMAT_TYPE_AUDIO))
    return false;
  if (!IsEqualGUID(range.guidSubFormat, GUID_NULL) && !IsEqualGUID(range.guidSubFormat, guidSubFormat)) return false;
  if (!IsEqualGUID(range.guidSpecifier, GUID_NULL) &&
      !IsEqualGUID(range.guidSpecifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX))
    return false;
  return wfx.nChannels <= range.ulMaximumChannels && wfx.wBitsPerSample >= range.ulMinimumBits &&
         wfx.wBitsPerSample <= range.ulMaximumBits && wfx.nSamplesPerSec >= range.ulMinimumRate &&
         wfx.nSamplesPerSec <= range.ulMaximumRate;
}

}  // namespace

BOOL CEmuFilter::IoControl(DWORD dwCode, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut, LPDWORD pcbReturned,
                           LPOVERLAPPED pOverlapped) {
  CRequestOutcome outcome;
  bool bMayPend = false;
  {
    std::lock_guard<std::mutex> guard(m_pCore->m_lock);
    if (!m_pCore->m_bPlugged) {
      outcome = Fail(ERROR_DEVICE_NOT_CONNECTED);
    } else if (dwCode != IOCTL_KS_PROPERTY) {
      outcome = Fail(ERROR_INVALID_FUNCTION);
    } else if (pIn == nullptr || cbIn < sizeof(KSPROPERTY)) {
      outcome = Fail(ERROR_INVALID_PARAMETER);
    } else {
      KSPROPERTY ksProperty;
      memcpy(&ksProperty, pIn, sizeof(ksProperty));
      outcome = PropertyLocked(ksProperty, pIn, cbIn, pOut, cbOut);
      bMayPend = true;
    }
  }
  return m_pCore->Deliver(outcome, bMayPend, pcbReturned, pOverlapped);
}

CRequestOutcome CEmuFilter::PropertyLocked(const KSPROPERTY& ksProperty, LPVOID pIn, DWORD cbIn, LPVOID pOut,
                                           DWORD cbOut) {
  const FilterDescription& filter = m_pCore->m_desc.vFilters[m_nFilter];
  const bool bZero = m_pCore->m_desc.bZeroSizeQuery;
  if (ksProperty.Flags != KSPROPERTY_TYPE_GET) return Fail(ERROR_NOT_FOUND);

  if (IsEqualGUID(ksProperty.Set, KSPROPSETID_Topology)) {
    if (ksProperty.Id == KSPROPERTY_TOPOLOGY_NODES) {
      std::vector<BYTE> vb = !filter.vbRawNodes.empty()
                                 ? filter.vbRawNodes
                                 : MultipleItem((ULONG)filter.vNodes.size(), filter.vNodes.data(),
                                                filter.vNodes.size() * sizeof(GUID));
      return AnswerBytes(vb.data(), (ULONG)vb.size(), pOut, cbOut, bZero);
    }
    if (ksProperty.Id == KSPROPERTY_TOPOLOGY_CATEGORIES) {
      std::vector<GUID> vCategories;
      for (const InterfaceDescription& iface : filter.vInterfaces) vCategories.push_back(iface.guidCategory);
      std::vector<BYTE> vb = MultipleItem((ULONG)vCategories.size(), vCategories.data(), vCategories.size() * sizeof(GUID));
      return AnswerBytes(vb.data(), (ULONG)vb.size(), pOut, cbOut, bZero);
    }
    if (ksProperty.Id == KSPROPERTY_TOPOLOGY_CONNECTIONS) {
      std::vector<BYTE> vb = MultipleItem(0, nullptr, 0);
      return AnswerBytes(vb.data(), (ULONG)vb.size(), pOut, cbOut, bZero);
    }
    return Fail(ERROR_NOT_FOUND);
  }
  if (!IsEqualGUID(ksProperty.Set, KSPROPSETID_Pin)) return Fail(ERROR_SET_NOT_FOUND);

  if (ksProperty.Id == KSPROPERTY_PIN_CTYPES) {
    ULONG ulCount = (ULONG)filter.vPins.size();
    return AnswerBytes(&ulCount, sizeof(ulCount), pOut, cbOut, bZero);
  }
  if (cbIn < sizeof(KSP_PIN)) return Fail(ERROR_INVALID_PARAMETER);
  KSP_PIN ksPin;
  memcpy(&ksPin, pIn, sizeof(ksPin));
  if (ksPin.PinId >= filter.vPins.size()) return Fail(ERROR_INVALID_PARAMETER);
  const PinDescription& pin = filter.vPins[ksPin.PinId];

  switch (ksProperty.Id) {
    case KSPROPERTY_PIN_DATAFLOW:
      return AnswerBytes(&pin.ulDataFlow, sizeof(ULONG), pOut, cbOut, bZero);
    case KSPROPERTY_PIN_COMMUNICATION:
      return AnswerBytes(&pin.ulCommunication, sizeof(ULONG), pOut, cbOut, bZero);
    case KSPROPERTY_PIN_CINSTANCES:
    case KSPROPERTY_PIN_GLOBALCINSTANCES: {
      KSPIN_CINSTANCES instances =
          ksProperty.Id == KSPROPERTY_PIN_CINSTANCES ? pin.instances : pin.globalInstances;
      instances.CurrentCount = m_pCore->m_mapInstanceCounts[std::make_pair(m_nFilter, ksPin.PinId)];
      return AnswerBytes(&instances, sizeof(instances), pOut, cbOut, bZero);
    }
    case KSPROPERTY_PIN_DATARANGES: {
      std::vector<BYTE> vb = DataRangesAnswer(pin);
      return AnswerBytes(vb.data(), (ULONG)vb.size(), pOut, cbOut, bZero);
    }
    case KSPROPERTY_PIN_INTERFACES: {
      std::vector<BYTE> vb = IdentifiersAnswer(pin.vInterfaces, pin.vbRawInterfaces);
      return AnswerBytes(vb.data(), (ULONG)vb.size(), pOut, cbOut, bZero);
    }
    case KSPROPERTY_PIN_MEDIUMS: {
      std::vector<BYTE> vb = IdentifiersAnswer(pin.vMediums, pin.vbRawMediums);
      return AnswerBytes(vb.data(), (ULONG)vb.size(), pOut, cbOut, bZero);
    }
    case KSPROPERTY_PIN_CATEGORY:
      if (IsEqualGUID(pin.guidCategory, GUID_NULL)) return Fail(ERROR_NOT_FOUND);
      return AnswerBytes(&pin.guidCategory, sizeof(GUID), pOut, cbOut, bZero);
    case KSPROPERTY_PIN_NAME: {
      if (pin.strName.empty()) return Fail(ERROR_NOT_FOUND);
      std::vector<BYTE> vb = NameAnswer(pin.strName);
      return AnswerBytes(vb.data(), (ULONG)vb.size(), pOut, cbOut, bZero);
    }
    default:
      return Fail(ERROR_NOT_FOUND);
  }
}

DWORD CEmuFilter::CreatePin(const KSPIN_CONNECT* pConnect, ULONG cbConnect, ACCESS_MASK dwDesiredAccess,
                            std::shared_ptr<t32posix::CFileObject>* ppPin) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  if (!m_pCore->m_bPlugged) return ERROR_DEVICE_NOT_CONNECTED;
  const FilterDescription& filter = m_pCore->m_desc.vFilters[m_nFilter];
  if (cbConnect < sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX)) return ERROR_INVALID_PARAMETER;
  if (pConnect->PinId >= filter.vPins.size()) return ERROR_INVALID_PARAMETER;
  const PinDescription& pin = filter.vPins[pConnect->PinId];
  if (pin.ulCommunication != KSPIN_COMMUNICATION_SINK && pin.ulCommunication != KSPIN_COMMUNICATION_BOTH)
    return ERROR_NOT_SUPPORTED;
  // Only standard (not looped) streaming over the standard medium.
  if (!IsEqualGUID(pConnect->Interface.Set, KSINTERFACESETID_Standard) ||
      pConnect->Interface.Id != KSINTERFACE_STANDARD_STREAMING ||
      !IsEqualGUID(pConnect->Medium.Set, KSMEDIUMSETID_Standard) || pConnect->Medium.Id != KSMEDIUM_TYPE_ANYINSTANCE)
    return ERROR_NO_MATCH;
  auto key = std::make_pair(m_nFilter, pConnect->PinId);
  if (m_pCore->m_mapInstanceCounts[key] >= pin.instances.PossibleCount) return ERROR_BUSY;

  KSDATAFORMAT ksFormat;
  memcpy(&ksFormat, pConnect + 1, sizeof(ksFormat));
  if (!IsEqualGUID(ksFormat.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) ||
      !IsEqualGUID(ksFormat.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX))
    return ERROR_NO_MATCH;
  const BYTE* pbWave = reinterpret_cast<const BYTE*>(pConnect + 1) + sizeof(KSDATAFORMAT);
  ULONG cbWave = cbConnect - (ULONG)(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT));
  WAVEFORMATEXTENSIBLE wfx;
  memset(&wfx, 0, sizeof(wfx));
  memcpy(&wfx, pbWave, sizeof(WAVEFORMATEX));
  GUID guidSubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  if (wfx.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    if (wfx.Format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) || cbWave < sizeof(WAVEFORMATEXTENSIBLE))
      return ERROR_INVALID_PARAMETER;
    memcpy(&wfx, pbWave, sizeof(WAVEFORMATEXTENSIBLE));
    guidSubFormat = wfx.SubFormat;
    if (wfx.Samples.wValidBitsPerSample == 0 || wfx.Samples.wValidBitsPerSample > wfx.Format.wBitsPerSample)
      return ERROR_NO_MATCH;
  } else if (wfx.Format.wFormatTag == WAVE_FORMAT_PCM) {
    wfx.Samples.wValidBitsPerSample = wfx.Format.wBitsPerSample;
  } else {
    return ERROR_NO_MATCH;
  }
  const WAVEFORMATEX& wave = wfx.Format;
  if (!IsEqualGUID(guidSubFormat, KSDATAFORMAT_SUBTYPE_PCM) || wave.nChannels == 0 || wave.nSamplesPerSec == 0 ||
      wave.wBitsPerSample == 0 || wave.wBitsPerSample % 8 != 0 || wave.wBitsPerSample > 32 ||
      wave.nBlockAlign != wave.nChannels * wave.wBitsPerSample / 8 ||
      wave.nAvgBytesPerSec != wave.nSamplesPerSec * wave.nBlockAlign)
    return ERROR_NO_MATCH;
  if (std::find(pin.vwRefusedChannels.begin(), pin.vwRefusedChannels.end(), wave.nChannels) !=
      pin.vwRefusedChannels.end())
    return ERROR_NO_MATCH;
  bool bAdmitted = false;
  for (const RangeDescription& range : pin.vRanges) bAdmitted = bAdmitted || Admits(range, guidSubFormat, wave);
  if (!bAdmitted) return ERROR_NO_MATCH;

  bool bRender = pin.ulDataFlow == KSPIN_DATAFLOW_IN;
  std::shared_ptr<CRecording> pRecording;
  if (bRender) {
    pRecording = std::make_shared<CRecording>();
    pRecording->wfx = wfx;
    m_pCore->m_mapRecordings[key] = pRecording;
  }
  auto pPin = std::make_shared<CEmuPin>(m_pCore, m_nFilter, pConnect->PinId, bRender, wfx, pRecording);
  ++m_pCore->m_mapInstanceCounts[key];
  m_pCore->AddPinLocked(pPin);
  *ppPin = pPin;
  return ERROR_SUCCESS;
}

}  // namespace t32emu
