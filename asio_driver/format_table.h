// Format tables: for each rate of the rate table, which KS pins of one direction carry
// PCM at the current bit depth, the ASIO channel numbering over them, and everything a
// stream needs per pin (the host's double buffers, the pin instance, its packet ring).
#pragma once

#include "common/rate_table.h"
#include "kslib/kslib.h"
#include "platform/asio/iasio.h"
#include "platform/win32.h"

namespace t32asio {

constexpr int kMaxPinSlots = 3;
constexpr int kMaxChannelSlots = 64;
constexpr int kPacketsPerPin = 8;
constexpr ULONG kStreamHeaderSize = 56;  // the KSSTREAM_HEADER size the device expects

// One stream request: its header, its OVERLAPPED (event made once by init), and the data
// buffer the header points to.
struct CPacket {
  KSSTREAM_HEADER m_ksHeader;
  OVERLAPPED m_ovl;
};

struct CPinSlot {
  LONG m_bUsable;
  LONG m_bInUse;
  LONG m_bOpened;
  CKsAudPin* m_pPin;  // owned by its filter
  ULONG m_ulCapacity;
  ULONG m_ulChannels;
  ULONG m_ulFrames;
  CPacket m_aPackets[kPacketsPerPin];
};

struct CChannelSlot {
  LONG m_bActive;
  LONG m_bInUse;
  ULONG m_ulIndex;  // position within its pin's interleaved frame
  CPinSlot* m_pPinSlot;
  ULONG m_ulFrames;
  BYTE* m_apBuffers[2];
};

struct CRateEntry {
  LONG m_bSupported;
  LONG m_nRate;
  LONG m_nChannelCount;
  LONG m_nPinCount;
  CPinSlot m_aPinSlots[kMaxPinSlots];
  LONG m_nOpenedMask;
  LONG m_nChannelSlotCount;
  CChannelSlot m_aChannelSlots[kMaxChannelSlots];
};

typedef CRateEntry CFormatTable[t32::kRateCount];

// Builds a direction's table at a bit depth from its pins (render-sink or capture-sink
// pins, in list order). pPins null: a device without that direction, whose entries are
// all supported with no pins and no channels. Packets keep their events.
void BuildFormatTable(CFormatTable& table, const CKsList* pPins, ULONG ulBits);
// The first entry of the rate, or null.
CRateEntry* FindRateEntry(CFormatTable& table, ULONG ulRate);
// Gives the host's channels of one direction their double buffers, opens the pins they
// need and sizes their packets. ASE_OK, ASE_NoMemory, or ASE_InvalidParameter for a
// channel number outside the entry.
ASIOError SetUpDirection(CRateEntry* pEntry, BOOL bInput, ASIOBufferInfo* pInfos, LONG nInfos, LONG nBufferSize,
                         ULONG ulBits, BOOL bDsd);
// Opens a pin instance as PCM with the given channel count (WAVEFORMATEXTENSIBLE).
HRESULT OpenPin(CKsAudPin* pPin, ULONG ulRate, ULONG ulBits, ULONG ulChannels);
// Closes the entry's pins and frees its host buffers and packet data.
ASIOError ReleaseRateEntry(CRateEntry* pEntry);

// The packet events of every pin slot of a table (created by init, closed at destruction).
BOOL CreatePacketEvents(CFormatTable& table);
void ClosePacketEvents(CFormatTable& table);

}  // namespace t32asio
