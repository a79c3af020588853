// The ASIO sample types the host fills: little-endian integer PCM of 16, 24 and 32 bits,
// and one-bit DSD with eight samples per byte, earliest in the most significant bit.
// PCM samples travel inside the host as 32-bit values, left-justified.
#pragma once

#include <string>

#include "platform/asio/iasio.h"

namespace t32host {

// The DSD idle pattern: a one-bit stream that converts to silence.
constexpr BYTE kDsdSilence = 0x69;

bool IsPcmSampleType(ASIOSampleType type);
bool IsDsdSampleType(ASIOSampleType type);
// Bytes per sample of a PCM type, 0 for any other type.
UINT PcmSampleBytes(ASIOSampleType type);
// Bytes one channel's half buffer of nFrames takes (DSD: nFrames / 8), 0 for a type the
// host does not handle.
size_t BufferBytes(ASIOSampleType type, LONG nFrames);
std::string SampleTypeName(ASIOSampleType type);

// Stores a left-justified sample in a PCM type, keeping its top bits.
void StorePcmSample(LONG lValue, ASIOSampleType type, BYTE* pb);
// Loads a PCM sample as a left-justified 32-bit value.
LONG LoadPcmSample(const BYTE* pb, ASIOSampleType type);

}  // namespace t32host
