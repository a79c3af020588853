// The driver object's queries and settings: channels, latencies, buffer sizes, rates,
// clock sources, sample position, channel info and the optional future() selectors.
#include <cstdio>

#include "asio_driver/asio_sample.h"
#include "common/driver_state.h"
#include "common/text_copy.h"

namespace t32asio {
namespace {

// Splits a 64-bit count into the hi/lo pair of ASIOSamples and ASIOTimeStamp.
template <class T>
void Split(ULONGLONG value, T* out) {
  out->hi = static_cast<ULONG>(value >> 32);
  out->lo = static_cast<ULONG>(value & 0xFFFFFFFFu);
}

}  // namespace

ASIOError CAsioSample::getChannels(LONG* numInputChannels, LONG* numOutputChannels) {
  LONG in = m_apCurrent[1] ? m_apCurrent[1]->m_nChannelCount : 0;
  LONG out = m_apCurrent[0] ? m_apCurrent[0]->m_nChannelCount : 0;
  if (numInputChannels) *numInputChannels = in;
  if (numOutputChannels) *numOutputChannels = out;
  return in == 0 && out == 0 ? ASE_NotPresent : ASE_OK;
}

ASIOError CAsioSample::getLatencies(LONG* inputLatency, LONG* outputLatency) {
  ASIOError result = getChannels(nullptr, nullptr);
  LONGLONG latency = 0;
  if (result == ASE_OK) {
    if (m_nState == t32::kStatePrepared)
      latency = m_ulBufferSize;
    else if (m_ulDeviceRate == 44100)
      latency = m_llBufferTime * 44 / 10000;
    else
      latency = static_cast<LONGLONG>(m_ulDeviceRate) * m_llBufferTime / 10000000;
  }
  if (inputLatency) *inputLatency = static_cast<LONG>(latency);
  if (outputLatency) *outputLatency = static_cast<LONG>(latency * (static_cast<LONGLONG>(m_ulQueueDepth) - 1));
  return result;
}

ASIOError CAsioSample::getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize, LONG* granularity) {
  ASIOError result = getChannels(nullptr, nullptr);
  if (result != ASE_OK) return result;
  LONG nMin, nMax, nPreferred, nGranularity;
  if (IsDsdMode()) {
    nMin = nPreferred = nGranularity = 28224;
    nMax = 282240;
  } else {
    const double rate = m_ulDeviceRate;
    nMin = static_cast<LONG>(rate * t32::kSmallestBufferMs / 1000.0);
    nMax = static_cast<LONG>(rate * t32::kLargestBufferMs / 1000.0);
    nPreferred = static_cast<LONG>(static_cast<LONGLONG>(m_ulDeviceRate) * m_llBufferTime / 10000000);
    nGranularity = static_cast<LONG>(m_ulDeviceRate / 1000);
  }
  if (minSize) *minSize = nMin;
  if (maxSize) *maxSize = nMax;
  if (preferredSize) *preferredSize = nPreferred;
  if (granularity) *granularity = nGranularity;
  return ASE_OK;
}

ASIOError CAsioSample::canSampleRate(ASIOSampleRate sampleRate) {
  if (sampleRate == static_cast<double>(t32::kDsdRate)) {
    if (!OwnsBlock() || !(Block()->SupportedWidthMask & t32::kWidthMask32)) return ASE_NoClock;
    sampleRate = t32::kDsdPcmRate;
  }
  // Rates outside what a 32-bit count holds cannot be in the table.
  if (!(sampleRate >= 0.0 && sampleRate < 4294967296.0)) return ASE_NotPresent;
  const ULONG rate = static_cast<ULONG>(sampleRate);
  for (int d = 0; d < 2; ++d) {
    CRateEntry* entry = FindRateEntry(m_aTables[d], rate);
    if (entry && entry->m_bSupported && entry->m_nChannelCount > 0) return ASE_OK;
  }
  return ASE_NotPresent;
}

ASIOError CAsioSample::getSampleRate(ASIOSampleRate* sampleRate) {
  ASIOError result = getChannels(nullptr, nullptr);
  if (result != ASE_OK) return result;
  if (!sampleRate) return ASE_OK;
  if (m_ulDeviceRate == 0) {
    *sampleRate = 0.0;
    return ASE_NoClock;
  }
  *sampleRate = IsDsdMode() ? static_cast<double>(t32::kDsdRate) : static_cast<double>(m_ulDeviceRate);
  return ASE_OK;
}

ASIOError CAsioSample::setSampleRate(ASIOSampleRate sampleRate) {
  ASIOError result = canSampleRate(sampleRate);
  if (result != ASE_OK) return result;
  const LONG requested = static_cast<LONG>(sampleRate);
  BOOL bChanged = FALSE;
  if (requested != m_nRequestedRate) {
    m_nRequestedRate = requested;
    bChanged = TRUE;
  }
  const ULONG deviceRate = IsDsdMode() ? t32::kDsdPcmRate : static_cast<ULONG>(requested);
  if (deviceRate == m_ulDeviceRate && !bChanged) return ASE_OK;

  m_ulDeviceRate = deviceRate;
  if (m_block.IsValid()) {
    Block()->CurrentSampleRate = m_ulDeviceRate;
    m_block.MarkChanged();
  }
  SelectCurrentEntries();
  if (m_bHaveCallbacks) {
    if (m_callbacks.sampleRateDidChange) m_callbacks.sampleRateDidChange(static_cast<double>(m_ulDeviceRate));
    if (m_callbacks.asioMessage) m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
  }
  m_bRateChanged = 1;
  return ASE_OK;
}

ASIOError CAsioSample::getClockSources(ASIOClockSource* clocks, LONG* numSources) {
  ASIOError result = getChannels(nullptr, nullptr);
  if (result != ASE_OK) return result;
  if (!numSources) return ASE_InvalidParameter;
  if (*numSources > 0 && clocks) {
    clocks[0].index = 0;
    clocks[0].associatedChannel = -1;
    clocks[0].associatedGroup = -1;
    clocks[0].isCurrentSource = ASIOTrue;
    t32::CopyText(clocks[0].name, sizeof(clocks[0].name), "Internal");
  }
  *numSources = 1;
  return ASE_OK;
}

ASIOError CAsioSample::setClockSource(LONG reference) {
  if (getChannels(nullptr, nullptr) != ASE_OK) return ASE_NotPresent;
  return reference > 1 ? ASE_NotPresent : ASE_OK;
}

ASIOError CAsioSample::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
  if (getChannels(nullptr, nullptr) != ASE_OK) return ASE_NotPresent;
  if (sPos) Split(m_ullReportedPosition, sPos);
  if (tStamp) Split(m_ullReportedTimeStamp, tStamp);
  return ASE_OK;
}

ASIOError CAsioSample::getChannelInfo(ASIOChannelInfo* info) {
  LONG numInputs = 0, numOutputs = 0;
  ASIOError result = getChannels(&numInputs, &numOutputs);
  if (result != ASE_OK) return result;
  if (!info) return ASE_InvalidParameter;
  const bool bInput = info->isInput != 0;
  const LONG limit = bInput ? numInputs : numOutputs;
  if (info->channel < 0 || info->channel >= limit) return ASE_InvalidParameter;
  CRateEntry* entry = m_apCurrent[bInput ? 1 : 0];
  if (!entry) return ASE_NotPresent;

  const CChannelSlot& channel = entry->m_aChannelSlots[info->channel];
  const CPinSlot* slot = channel.m_pPinSlot;
  info->isActive = channel.m_bInUse && slot && slot->m_bOpened ? ASIOTrue : ASIOFalse;
  info->channelGroup = slot && slot->m_pPin ? static_cast<LONG>(slot->m_pPin->m_ulPinId) : 0;
  if (IsDsdMode()) {
    info->type = ASIOSTDSDInt8MSB1;
    m_nBits = 32;
    if (m_block.IsValid()) {
      Block()->CurrentBits = 32;
      m_block.MarkChanged();
    }
  } else {
    info->type = m_nBits == 24 ? ASIOSTInt24LSB : m_nBits == 32 ? ASIOSTInt32LSB : ASIOSTInt16LSB;
  }
  // The name is cut to the 32 bytes of the host's field.
  char name[MAX_PATH + 8];
  std::snprintf(name, sizeof(name), "%s_%s_%s", m_szDeviceName, bInput ? "IN" : "OUT", info->channel == 0 ? "L" : "R");
  t32::CopyText(info->name, sizeof(info->name), name);
  return ASE_OK;
}

ASIOError CAsioSample::future(LONG selector, void* opt) {
  switch (selector) {
    case kAsioEnableTimeCodeRead:
    case kAsioDisableTimeCodeRead:
    case kAsioSetInputMonitor:
    case kAsioTransport:
    case kAsioSetInputGain:
    case kAsioGetInputMeter:
    case kAsioSetOutputGain:
    case kAsioGetOutputMeter:
      return ASE_NotPresent;
    case kAsioCanInputMonitor:
    case kAsioCanTimeInfo:
    case kAsioCanTimeCode:
    case kAsioCanTransport:
    case kAsioCanInputGain:
    case kAsioCanInputMeter:
    case kAsioCanOutputGain:
    case kAsioCanOutputMeter:
      return m_anCapabilities[selector - kAsioCanInputMonitor] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioSetIoFormat: {
      auto* format = static_cast<ASIOIoFormat*>(opt);
      if (!format) return ASE_InvalidParameter;
      if (format->FormatType == kASIOPCMFormat || format->FormatType == kASIODSDFormat) {
        m_nIoFormat = format->FormatType;
        return ASE_SUCCESS;
      }
      format->FormatType = kASIOFormatInvalid;
      return ASE_NotPresent;
    }
    case kAsioGetIoFormat: {
      auto* format = static_cast<ASIOIoFormat*>(opt);
      if (!format) return ASE_InvalidParameter;
      format->FormatType = m_nIoFormat;
      return ASE_SUCCESS;
    }
    case kAsioCanDoIoFormat:
      return ASE_SUCCESS;
    default:
      return ASE_InvalidParameter;
  }
}

}  // namespace t32asio
