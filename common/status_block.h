// Layout of the shared status block "Ternix32_20120823": 328 bytes, little-endian, shared
// by the driver (in every host that loaded it) and the control panel. There is no lock:
// each field is one aligned 32-bit store, and writers set Changed after their update.
#pragma once

#include <cstddef>

#include "platform/win32.h"

namespace t32 {

constexpr char kStatusBlockName[] = "Ternix32_20120823";
constexpr DWORD kStatusBlockMagic = 0x20120823;
constexpr DWORD kStatusBlockSize = 328;
constexpr DWORD kDeviceNameSize = 256;  // at most 255 characters and the zero

struct StatusBlock {
  DWORD Magic;
  DWORD DriverState;
  DWORD SettingsLoaded;
  GUID OwnerClsid;
  DWORD Changed;
  DWORD ShowPanel;
  DWORD PreferredBufferTime;  // tenths of a millisecond
  DWORD PreferredBits;
  DWORD CurrentBuffer;  // after init: tenths of a ms; after createBuffers: frames (DSD: frames / 32)
  DWORD CurrentSampleRate;
  DWORD CurrentBits;
  DWORD SupportedRateMask;
  DWORD SupportedWidthMask;
  char DeviceName[kDeviceNameSize];
  DWORD DsdMode;
  DWORD ResetRequest;
};

static_assert(sizeof(StatusBlock) == kStatusBlockSize, "the block is exactly 328 bytes");
static_assert(offsetof(StatusBlock, Magic) == 0);
static_assert(offsetof(StatusBlock, DriverState) == 4);
static_assert(offsetof(StatusBlock, SettingsLoaded) == 8);
static_assert(offsetof(StatusBlock, OwnerClsid) == 12);
static_assert(offsetof(StatusBlock, Changed) == 28);
static_assert(offsetof(StatusBlock, ShowPanel) == 32);
static_assert(offsetof(StatusBlock, PreferredBufferTime) == 36);
static_assert(offsetof(StatusBlock, PreferredBits) == 40);
static_assert(offsetof(StatusBlock, CurrentBuffer) == 44);
static_assert(offsetof(StatusBlock, CurrentSampleRate) == 48);
static_assert(offsetof(StatusBlock, CurrentBits) == 52);
static_assert(offsetof(StatusBlock, SupportedRateMask) == 56);
static_assert(offsetof(StatusBlock, SupportedWidthMask) == 60);
static_assert(offsetof(StatusBlock, DeviceName) == 64);
static_assert(offsetof(StatusBlock, DsdMode) == 320);
static_assert(offsetof(StatusBlock, ResetRequest) == 324);

}  // namespace t32
