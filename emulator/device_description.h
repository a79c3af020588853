// What the emulated device presents, as a plain tree of structures: USB identity, KS
// filters with their interfaces, pin factories, data ranges and topology nodes, the
// capture source, the HID control interface, the clock speed and the fault switches.
// Ternix32Description() gives the product; tests build variants from it in code. Later
// areas (endpoints) add their own branches to DeviceDescription.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace t32emu {

struct RangeDescription {
  GUID guidMajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  GUID guidSubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  GUID guidSpecifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
  ULONG ulMaximumChannels = 2;
  ULONG ulMinimumBits = 16;
  ULONG ulMaximumBits = 32;
  ULONG ulMinimumRate = 32000;
  ULONG ulMaximumRate = 96000;
};

struct PinDescription {
  ULONG ulDataFlow = KSPIN_DATAFLOW_IN;
  ULONG ulCommunication = KSPIN_COMMUNICATION_SINK;
  std::vector<KSPIN_INTERFACE> vInterfaces;  // standard streaming unless changed
  std::vector<KSPIN_MEDIUM> vMediums;        // standard any-instance unless changed
  std::vector<RangeDescription> vRanges;
  GUID guidCategory = GUID_NULL;  // GUID_NULL: the property is not answered
  std::string strName;            // answered as a UTF-16 string; empty: not answered
  KSPIN_CINSTANCES instances = {1, 0};
  KSPIN_CINSTANCES globalInstances = {1, 0};
  // Channel counts a connect request is refused with although a range admits them.
  std::vector<WORD> vwRefusedChannels;
  // When not empty, answered verbatim instead of the items built from the fields above
  // (answers whose counts and sizes need not agree with their bytes).
  std::vector<BYTE> vbRawDataRanges;
  std::vector<BYTE> vbRawInterfaces;
  std::vector<BYTE> vbRawMediums;
};

struct InterfaceDescription {
  GUID guidCategory;
  DWORD dwFlags = SPINT_ACTIVE;  // 0: disabled; SPINT_REMOVED: a stale alias
};

struct FilterDescription {
  std::string strReference = "global";  // interfaces of one filter share it
  std::vector<InterfaceDescription> vInterfaces;
  std::string strFriendlyName;  // "FriendlyName" of the interface keys; empty: no value
  std::vector<PinDescription> vPins;
  std::vector<GUID> vNodes;
  std::vector<BYTE> vbRawNodes;  // when not empty, the KSPROPERTY_TOPOLOGY_NODES answer
};

enum class CaptureSource { kSilence, kTestSignal, kLoopback };

// One input report the HID control interface sends after it received the query report.
struct HidAnswerDescription {
  bool bPresentBit = true;   // bit 7 of byte 3, the "present" answer
  DWORD cbDelivered = 20;    // byte count the read completes with; any value (a short or
                             // lying count); the whole report lands in the reader's buffer
  DWORD dwDelayMs = 0;       // after the query (first answer) or after the answer before it
  std::vector<BYTE> vbRawReport;  // when not empty, sent verbatim instead (any length)
};

// The HID control interface: a second device node, "HID\VID_vvvv&PID_pppp&MI_ii\<instance>",
// with one interface of the HID class.
struct HidDescription {
  bool bPresent = true;
  BYTE bInterface = 3;
  std::string strInstance = "8&1f3b7c2a&0&0000";
  WORD wVersion = 0x0100;
  USHORT wInputReportLength = 20;   // report ID byte included
  USHORT wOutputReportLength = 29;
  bool bCapsReadable = true;        // false: HidD_GetPreparsedData fails
  // Sent in order for each query report; empty: the device never answers.
  std::vector<HidAnswerDescription> vAnswers = {HidAnswerDescription()};
  // Fault of the system's device list: the interface's detail size query reports the
  // true size plus this.
  LONG nDetailSizeSkew = 0;
};

struct DeviceDescription {
  WORD wVendorId = 0;
  WORD wProductId = 0;
  BYTE bInterface = 0;
  std::string strInstance = "7&2d1c3a1f&0&0000";
  std::string strFriendlyName;  // SPDRP_FRIENDLYNAME; empty: none
  std::string strDeviceDesc;    // SPDRP_DEVICEDESC; empty: none
  std::vector<FilterDescription> vFilters;
  HidDescription hid;
  CaptureSource eCaptureSource = CaptureSource::kSilence;
  double dClockSpeed = 1.0;  // device seconds per real second; 0: as fast as requests come
  bool bRecord = true;       // keep what render pins play
  // Faults.
  bool bPendingProperties = false;  // property requests complete later, through the event
  bool bZeroSizeQuery = false;      // size queries report 0 bytes
  bool bStall = false;              // running pins neither play nor record
};

// The Ternix-32: one filter in KSCATEGORY_AUDIO with aliases in KSCATEGORY_RENDER and
// KSCATEGORY_CAPTURE, pin 0 render and pin 1 capture, both PCM at the rate table's rates
// and 16, 24 and 32 bits in two channels, and a small topology; a HID control interface
// that answers the presence query at once.
DeviceDescription Ternix32Description();
// One range per rate of the rate table and bit depth of 16, 24 and 32.
std::vector<RangeDescription> Ternix32Ranges(ULONG ulChannels = 2);
PinDescription StreamingPin(ULONG ulDataFlow, ULONG ulCommunication, std::vector<RangeDescription> vRanges);
// "USB\VID_vvvv&PID_pppp&MI_ii\<instance>"
std::string InstanceId(const DeviceDescription& desc);
// "HID\VID_vvvv&PID_pppp&MI_ii\<instance>" of the HID control interface.
std::string HidInstanceId(const DeviceDescription& desc);

}  // namespace t32emu
