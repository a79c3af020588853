#include "emulator/device_description.h"

#include <cstdio>

#include "common/device_table.h"
#include "common/rate_table.h"

namespace t32emu {

std::vector<RangeDescription> Ternix32Ranges(ULONG ulChannels) {
  std::vector<RangeDescription> vRanges;
  for (DWORD dwRate : t32::kRateTable) {
    for (ULONG ulBits : {16u, 24u, 32u}) {
      RangeDescription range;
      range.ulMaximumChannels = ulChannels;
      range.ulMinimumBits = range.ulMaximumBits = ulBits;
      range.ulMinimumRate = range.ulMaximumRate = dwRate;
      vRanges.push_back(range);
    }
  }
  return vRanges;
}

PinDescription StreamingPin(ULONG ulDataFlow, ULONG ulCommunication, std::vector<RangeDescription> vRanges) {
  PinDescription pin;
  pin.ulDataFlow = ulDataFlow;
  pin.ulCommunication = ulCommunication;
  KSPIN_INTERFACE iface;
  memset(&iface, 0, sizeof(iface));
  iface.Set = KSINTERFACESETID_Standard;
  iface.Id = KSINTERFACE_STANDARD_STREAMING;
  pin.vInterfaces.push_back(iface);
  KSPIN_MEDIUM medium;
  memset(&medium, 0, sizeof(medium));
  medium.Set = KSMEDIUMSETID_Standard;
  medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
  pin.vMediums.push_back(medium);
  pin.vRanges = std::move(vRanges);
  pin.guidCategory = ulDataFlow == KSPIN_DATAFLOW_IN ? KSNODETYPE_SPEAKER : KSNODETYPE_MICROPHONE;
  pin.strName = ulDataFlow == KSPIN_DATAFLOW_IN ? "Playback" : "Recording";
  return pin;
}

DeviceDescription Ternix32Description() {
  DeviceDescription desc;
  desc.wVendorId = t32::kDeviceTable[0].wVendorId;
  desc.wProductId = t32::kDeviceTable[0].wProductId;
  desc.bInterface = 0;
  desc.strFriendlyName = "Ternix-32";
  desc.strDeviceDesc = "USB Audio Device";

  FilterDescription filter;
  filter.strReference = "global";
  filter.vInterfaces = {{KSCATEGORY_AUDIO, SPINT_ACTIVE}, {KSCATEGORY_RENDER, SPINT_ACTIVE},
                        {KSCATEGORY_CAPTURE, SPINT_ACTIVE}};
  filter.strFriendlyName = "Ternix-32 Audio";
  filter.vPins.push_back(StreamingPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK, Ternix32Ranges()));
  filter.vPins.push_back(StreamingPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SINK, Ternix32Ranges()));
  filter.vNodes = {KSNODETYPE_VOLUME, KSNODETYPE_MUTE, KSNODETYPE_DAC, KSNODETYPE_ADC, KSNODETYPE_VOLUME};
  desc.vFilters.push_back(filter);
  return desc;
}

std::string InstanceId(const DeviceDescription& desc) {
  char sz[64];
  snprintf(sz, sizeof(sz), "USB\\VID_%04X&PID_%04X&MI_%02X\\", desc.wVendorId, desc.wProductId, desc.bInterface);
  return sz + desc.strInstance;
}

std::string HidInstanceId(const DeviceDescription& desc) {
  char sz[64];
  snprintf(sz, sizeof(sz), "HID\\VID_%04X&PID_%04X&MI_%02X\\", desc.wVendorId, desc.wProductId, desc.hid.bInterface);
  return sz + desc.hid.strInstance;
}

}  // namespace t32emu
