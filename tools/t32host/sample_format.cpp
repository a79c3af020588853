#include "tools/t32host/sample_format.h"

namespace t32host {

bool IsPcmSampleType(ASIOSampleType type) { return PcmSampleBytes(type) != 0; }
bool IsDsdSampleType(ASIOSampleType type) { return type == ASIOSTDSDInt8MSB1; }

UINT PcmSampleBytes(ASIOSampleType type) {
  switch (type) {
    case ASIOSTInt16LSB: return 2;
    case ASIOSTInt24LSB: return 3;
    case ASIOSTInt32LSB: return 4;
    default: return 0;
  }
}

size_t BufferBytes(ASIOSampleType type, LONG nFrames) {
  if (nFrames <= 0) return 0;
  if (IsDsdSampleType(type)) return size_t(nFrames) / 8;
  return size_t(nFrames) * PcmSampleBytes(type);
}

std::string SampleTypeName(ASIOSampleType type) {
  switch (type) {
    case ASIOSTInt16LSB: return "ASIOSTInt16LSB";
    case ASIOSTInt24LSB: return "ASIOSTInt24LSB";
    case ASIOSTInt32LSB: return "ASIOSTInt32LSB";
    case ASIOSTFloat32LSB: return "ASIOSTFloat32LSB";
    case ASIOSTFloat64LSB: return "ASIOSTFloat64LSB";
    case ASIOSTDSDInt8LSB1: return "ASIOSTDSDInt8LSB1";
    case ASIOSTDSDInt8MSB1: return "ASIOSTDSDInt8MSB1";
    case ASIOSTDSDInt8NER8: return "ASIOSTDSDInt8NER8";
    default: return "sample type " + std::to_string(type);
  }
}

void StorePcmSample(LONG lValue, ASIOSampleType type, BYTE* pb) {
  DWORD dw = static_cast<DWORD>(lValue);
  UINT nBytes = PcmSampleBytes(type);
  for (UINT i = 0; i < nBytes; ++i) pb[i] = BYTE(dw >> (8 * (4 - nBytes + i)));
}

LONG LoadPcmSample(const BYTE* pb, ASIOSampleType type) {
  UINT nBytes = PcmSampleBytes(type);
  DWORD dw = 0;
  for (UINT i = 0; i < nBytes; ++i) dw |= DWORD(pb[i]) << (8 * (4 - nBytes + i));
  return static_cast<LONG>(dw);
}

}  // namespace t32host
