// The device table: the USB identity of the Ternix-32, carried by the driver (presence
// query, filter match) and the control panel (device watch).
#pragma once

#include "platform/win32.h"

// The product's USB vendor and product IDs are build constants. The defaults below are the
// values the emulated device presents; a build for the real product passes its allocated
// IDs with -DT32_USB_VENDOR_ID=0x.... -DT32_USB_PRODUCT_ID=0x.... (CMake cache variables of
// the same names).
#ifndef T32_USB_VENDOR_ID
#define T32_USB_VENDOR_ID 0x3A2C
#endif
#ifndef T32_USB_PRODUCT_ID
#define T32_USB_PRODUCT_ID 0x0320
#endif

namespace t32 {

struct DeviceTableEntry {
  WORD wVendorId;
  WORD wProductId;
  WORD wFlag;  // interface number or flag; not consulted
};

constexpr int kDeviceTableSize = 8;
constexpr DeviceTableEntry kDeviceTable[kDeviceTableSize] = {
    {T32_USB_VENDOR_ID, T32_USB_PRODUCT_ID, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0},
    {0, 0, 0},                                  {0, 0, 0}, {0, 0, 0}, {0, 0, 0},
};

constexpr bool IsTableDevice(WORD wVendorId, WORD wProductId) {
  for (const DeviceTableEntry& e : kDeviceTable)
    if (e.wVendorId != 0 && e.wVendorId == wVendorId && e.wProductId == wProductId) return true;
  return false;
}

}  // namespace t32
