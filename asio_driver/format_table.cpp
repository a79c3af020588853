#include "asio_driver/format_table.h"

#include "asio_driver/module_heap.h"

namespace t32asio {
namespace {

void ResetPackets(CPinSlot& slot) {
  for (CPacket& packet : slot.m_aPackets) {
    packet.m_ksHeader.Size = kStreamHeaderSize;
    packet.m_ksHeader.PresentationTime.Numerator = 1;
    packet.m_ksHeader.PresentationTime.Denominator = 1;
    packet.m_ksHeader.FrameExtent = 0;
    packet.m_ksHeader.DataUsed = 0;
    packet.m_ksHeader.Data = nullptr;
  }
}

// Empties a pin slot for reuse by the next pin, keeping its packet events.
void ClearPinSlot(CPinSlot& slot) {
  HANDLE events[kPacketsPerPin];
  for (int i = 0; i < kPacketsPerPin; ++i) events[i] = slot.m_aPackets[i].m_ovl.hEvent;
  ZeroMemory(&slot, sizeof(slot));
  for (int i = 0; i < kPacketsPerPin; ++i) slot.m_aPackets[i].m_ovl.hEvent = events[i];
}

// Walks the pin's audio data ranges at one rate and bit depth: the slot becomes usable
// when one matches, and its capacity is the largest channel count among the matches.
void MatchRanges(CPinSlot& slot, CKsAudPin* pPin, ULONG ulRate, ULONG ulBits) {
  for (KSLISTLINK* link = pPin->m_listDataRanges.GetHead(); link; link = link->pNext) {
    const KSDATARANGE_AUDIO* range = CKsListOf<KSDATARANGE_AUDIO>::Item(link);
    if (!IsEqualGUID(range->DataRange.SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) continue;
    if (ulBits < range->MinimumBitsPerSample || ulBits > range->MaximumBitsPerSample) continue;
    if (ulRate < range->MinimumSampleFrequency || ulRate > range->MaximumSampleFrequency) continue;
    slot.m_bUsable = TRUE;
    if (range->MaximumChannels > slot.m_ulCapacity) slot.m_ulCapacity = range->MaximumChannels;
  }
}

void BuildEntry(CRateEntry& entry, const CKsList* pPins, ULONG ulRate, ULONG ulBits) {
  entry.m_bSupported = FALSE;
  entry.m_nRate = static_cast<LONG>(ulRate);
  for (KSLISTLINK* link = pPins->GetHead(); link; link = link->pNext) {
    // Every slot in use is taken; further pins cannot be carried.
    if (entry.m_nPinCount >= kMaxPinSlots) break;
    auto* pPin = static_cast<CKsAudPin*>(static_cast<CKsPin*>(link->pvItem));
    CPinSlot& slot = entry.m_aPinSlots[entry.m_nPinCount];
    ClearPinSlot(slot);
    MatchRanges(slot, pPin, ulRate, ulBits);
    if (!slot.m_bUsable) continue;
    // Channels beyond the 64 slots cannot be numbered; the pin carries at most what fits.
    ULONG room = static_cast<ULONG>(kMaxChannelSlots - entry.m_nChannelSlotCount);
    if (slot.m_ulCapacity > room) slot.m_ulCapacity = room;
    if (slot.m_ulCapacity == 0) {
      slot.m_bUsable = FALSE;
      continue;
    }
    slot.m_pPin = pPin;
    ResetPackets(slot);
    for (ULONG c = 0; c < slot.m_ulCapacity; ++c) {
      CChannelSlot& channel = entry.m_aChannelSlots[entry.m_nChannelSlotCount++];
      channel.m_bActive = TRUE;
      channel.m_bInUse = FALSE;
      channel.m_ulIndex = c;
      channel.m_pPinSlot = &slot;
    }
    entry.m_bSupported = TRUE;
    entry.m_nPinCount++;
    entry.m_nChannelCount += static_cast<LONG>(slot.m_ulCapacity);
  }
}

DWORD ChannelMask(ULONG ulChannels) {
  switch (ulChannels) {
    case 4: return 0x33;
    case 6: return 0x3F;
    case 8: return 0x63F;
    default: return 0x3;
  }
}

}  // namespace

void BuildFormatTable(CFormatTable& table, const CKsList* pPins, ULONG ulBits) {
  for (int i = 0; i < t32::kRateCount; ++i) {
    CRateEntry& entry = table[i];
    // Keep the packet events of every pin slot; everything else starts afresh.
    for (CPinSlot& slot : entry.m_aPinSlots) ClearPinSlot(slot);
    entry.m_bSupported = FALSE;
    entry.m_nChannelCount = 0;
    entry.m_nPinCount = 0;
    entry.m_nOpenedMask = 0;
    entry.m_nChannelSlotCount = 0;
    ZeroMemory(entry.m_aChannelSlots, sizeof(entry.m_aChannelSlots));
    entry.m_nRate = static_cast<LONG>(t32::kRateTable[i]);
    if (!pPins) {
      entry.m_bSupported = TRUE;  // a direction the device lacks never limits the rates
      continue;
    }
    BuildEntry(entry, pPins, t32::kRateTable[i], ulBits);
  }
}

CRateEntry* FindRateEntry(CFormatTable& table, ULONG ulRate) {
  for (CRateEntry& entry : table)
    if (static_cast<ULONG>(entry.m_nRate) == ulRate) return &entry;
  return nullptr;
}

HRESULT OpenPin(CKsAudPin* pPin, ULONG ulRate, ULONG ulBits, ULONG ulChannels) {
  WAVEFORMATEXTENSIBLE wfx;
  ZeroMemory(&wfx, sizeof(wfx));
  wfx.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wfx.Format.nChannels = static_cast<WORD>(ulChannels);
  wfx.Format.nSamplesPerSec = ulRate;
  wfx.Format.nBlockAlign = static_cast<WORD>(ulBits / 8 * ulChannels);
  wfx.Format.nAvgBytesPerSec = ulRate * wfx.Format.nBlockAlign;
  wfx.Format.wBitsPerSample = static_cast<WORD>(ulBits);
  wfx.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  wfx.Samples.wValidBitsPerSample = static_cast<WORD>(ulBits);
  wfx.dwChannelMask = ChannelMask(ulChannels);
  wfx.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  HRESULT hr = pPin->SetFormat(&wfx.Format);
  if (SUCCEEDED(hr)) hr = pPin->Instantiate(FALSE);
  if (SUCCEEDED(hr)) hr = pPin->Reset();
  return hr;
}

ASIOError SetUpDirection(CRateEntry* pEntry, BOOL bInput, ASIOBufferInfo* pInfos, LONG nInfos, LONG nBufferSize,
                         ULONG ulBits, BOOL bDsd) {
  if (!pEntry || nBufferSize <= 0 || (nInfos > 0 && !pInfos)) return ASE_InvalidParameter;
  const ULONG frames = bDsd ? static_cast<ULONG>(nBufferSize) / 32 : static_cast<ULONG>(nBufferSize);
  const SIZE_T halfBytes = bDsd ? static_cast<SIZE_T>(nBufferSize) / 8 : static_cast<SIZE_T>(nBufferSize) * ulBits / 8;
  if (nInfos > 0) {
    for (LONG i = 0; i < nInfos; ++i) {
      ASIOBufferInfo& info = pInfos[i];
      if ((info.isInput != 0) != (bInput != FALSE)) continue;
      // A channel the entry does not have would index past its slots: refuse it.
      if (info.channelNum < 0 || info.channelNum >= pEntry->m_nChannelSlotCount) return ASE_InvalidParameter;
      CChannelSlot& channel = pEntry->m_aChannelSlots[info.channelNum];
      for (BYTE*& half : channel.m_apBuffers) {
        if (!half) half = static_cast<BYTE*>(ModuleAlloc(halfBytes));
      }
      info.buffers[0] = channel.m_apBuffers[0];
      info.buffers[1] = channel.m_apBuffers[1];
      if (!channel.m_apBuffers[0] || !channel.m_apBuffers[1]) return ASE_NoMemory;
      channel.m_ulFrames = frames;
      channel.m_bInUse = TRUE;
      CPinSlot* slot = channel.m_pPinSlot;
      slot->m_bInUse = TRUE;
      if (channel.m_ulIndex + 1 > slot->m_ulChannels) slot->m_ulChannels = channel.m_ulIndex + 1;
    }
  } else {
    for (LONG k = 0; k < pEntry->m_nPinCount; ++k) {
      pEntry->m_aPinSlots[k].m_bInUse = TRUE;
      pEntry->m_aPinSlots[k].m_ulChannels = 1;
    }
  }

  ASIOError result = ASE_OK;
  for (LONG k = 0; k < pEntry->m_nPinCount; ++k) {
    CPinSlot& slot = pEntry->m_aPinSlots[k];
    if (!slot.m_bInUse || slot.m_ulChannels == 0) continue;
    for (ULONG c = slot.m_ulChannels; c <= slot.m_ulCapacity; ++c) {
      if (SUCCEEDED(OpenPin(slot.m_pPin, static_cast<ULONG>(pEntry->m_nRate), ulBits, c))) {
        slot.m_ulChannels = c;
        slot.m_bOpened = TRUE;
        pEntry->m_nOpenedMask |= 1 << k;
        break;
      }
    }
    const ULONG extent = frames * ulBits * slot.m_ulChannels / 8;
    for (CPacket& packet : slot.m_aPackets) {
      packet.m_ksHeader.FrameExtent = extent;
      if (!packet.m_ksHeader.Data) packet.m_ksHeader.Data = ModuleAlloc(extent);
      packet.m_ksHeader.DataUsed = bInput ? 0 : extent;
      if (!packet.m_ksHeader.Data) result = ASE_NoMemory;
    }
    slot.m_ulFrames = frames;
  }
  return result;
}

ASIOError ReleaseRateEntry(CRateEntry* pEntry) {
  if (!pEntry) return ASE_OK;
  for (LONG k = 0; k < pEntry->m_nPinCount; ++k) {
    CPinSlot& slot = pEntry->m_aPinSlots[k];
    if (!slot.m_bInUse) continue;
    for (CPacket& packet : slot.m_aPackets) {
      ModuleFree(packet.m_ksHeader.Data);
      packet.m_ksHeader.Data = nullptr;
      packet.m_ksHeader.FrameExtent = 0;
      packet.m_ksHeader.DataUsed = 0;
    }
    slot.m_ulChannels = 0;
    slot.m_ulFrames = 0;
    if (slot.m_bOpened) slot.m_pPin->ClosePin();
    slot.m_bOpened = FALSE;
    slot.m_bInUse = FALSE;
  }
  pEntry->m_nOpenedMask = 0;
  for (LONG c = 0; c < pEntry->m_nChannelSlotCount; ++c) {
    CChannelSlot& channel = pEntry->m_aChannelSlots[c];
    for (BYTE*& half : channel.m_apBuffers) {
      ModuleFree(half);
      half = nullptr;
    }
    channel.m_ulFrames = 0;
    channel.m_bInUse = FALSE;
  }
  return ASE_OK;
}

BOOL CreatePacketEvents(CFormatTable& table) {
  for (CRateEntry& entry : table)
    for (CPinSlot& slot : entry.m_aPinSlots)
      for (CPacket& packet : slot.m_aPackets) {
        if (packet.m_ovl.hEvent) continue;
        packet.m_ovl.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!packet.m_ovl.hEvent) return FALSE;
      }
  return TRUE;
}

void ClosePacketEvents(CFormatTable& table) {
  for (CRateEntry& entry : table)
    for (CPinSlot& slot : entry.m_aPinSlots)
      for (CPacket& packet : slot.m_aPackets) {
        if (packet.m_ovl.hEvent) CloseHandle(packet.m_ovl.hEvent);
        packet.m_ovl.hEvent = nullptr;
      }
}

}  // namespace t32asio
