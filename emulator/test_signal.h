// The capture test signal: per channel a sine of its own frequency at half scale, a pure
// function of the frame index, so a test can compute what the device must deliver.
#pragma once

#include "platform/win32.h"

namespace t32emu {

// Value in [-0.5, 0.5] of channel nChannel at frame ullFrame of a stream at dwRate.
double TestSignalValue(ULONGLONG ullFrame, UINT nChannel, DWORD dwRate);
// Encodes one sample as little-endian PCM of the container size, scaled to the valid
// bits and left-justified in the container (8-bit samples are unsigned).
void EncodePcmSample(double dValue, UINT nContainerBits, UINT nValidBits, BYTE* pbOut);
// Writes one interleaved frame of the test signal in the given format.
void WriteTestSignalFrame(ULONGLONG ullFrame, const WAVEFORMATEXTENSIBLE& wfx, BYTE* pbFrame);

}  // namespace t32emu
