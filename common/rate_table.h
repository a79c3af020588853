// The sample-rate table, the width mask and the buffer duration table shared by the
// driver, the settings key, the shared status block and the control panel.
#pragma once

#include "platform/win32.h"

namespace t32 {

// Rates in the order that defines the bits of a rate mask.
constexpr DWORD kRateTable[] = {32000, 44100, 48000, 88200, 96000};
constexpr int kRateCount = sizeof(kRateTable) / sizeof(kRateTable[0]);

// Index of a rate in the table, or -1.
constexpr int RateIndex(DWORD dwRate) {
  for (int i = 0; i < kRateCount; ++i)
    if (kRateTable[i] == dwRate) return i;
  return -1;
}
constexpr DWORD RateMaskBit(int nIndex) { return 1u << nIndex; }

// The one DSD rate the driver offers; it reaches the device as 88200 Hz PCM.
constexpr DWORD kDsdRate = 2822400;
constexpr DWORD kDsdPcmRate = 88200;
constexpr DWORD kDsdDecimation = 32;

// Width mask: bit 1 16-bit, bit 2 24-bit, bit 3 32-bit samples; bit 0 is unused.
constexpr DWORD kWidthMask16 = 1u << 1;
constexpr DWORD kWidthMask24 = 1u << 2;
constexpr DWORD kWidthMask32 = 1u << 3;
constexpr DWORD kWidthMaskAll = kWidthMask16 | kWidthMask24 | kWidthMask32;

// Width-mask bit of a bit depth (16, 24, 32), or 0 for any other depth.
constexpr DWORD WidthMaskBit(DWORD dwBits) {
  return dwBits == 16 ? kWidthMask16 : dwBits == 24 ? kWidthMask24 : dwBits == 32 ? kWidthMask32 : 0;
}
// The widest bit depth whose bit is set in the mask, or 0 when none is.
constexpr DWORD WidestBits(DWORD dwMask) {
  return (dwMask & kWidthMask32) ? 32 : (dwMask & kWidthMask24) ? 24 : (dwMask & kWidthMask16) ? 16 : 0;
}

// Buffer durations offered to the user, in milliseconds. Stored as tenths of a
// millisecond in the settings key and the shared block.
constexpr DWORD kBufferDurationsMs[] = {2,  3,  4,  5,   6,   7,   8,   9,   10,  12,  14,  16,
                                        18, 20, 25, 30,  40,  50,  60,  70,  80,  90,  100, 125,
                                        150, 175, 200, 250, 300, 350, 400, 450, 500, 600};
constexpr int kBufferDurationCount = sizeof(kBufferDurationsMs) / sizeof(kBufferDurationsMs[0]);
static_assert(kBufferDurationCount == 34, "the duration table has 34 entries");
constexpr DWORD kSmallestBufferMs = kBufferDurationsMs[0];
constexpr DWORD kLargestBufferMs = kBufferDurationsMs[kBufferDurationCount - 1];

}  // namespace t32
