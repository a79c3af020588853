// The converter's arithmetic evaluated literally, step by step for every input byte: the
// 32-byte ring with the ten oldest bytes mirrored in place, 20 table lookups per byte, the
// half-band stage at every second byte with its history shifted, a stage array of the
// call's PCM values, then the conversion to samples. It is the baseline the fast converter
// is measured against, and the benchmark checks that both give the same bytes.
#pragma once

#include <cstdint>
#include <vector>

class CDsdLiteralConverter {
 public:
  // nMaxLength: the longest call; nOutputBytes: 2, 3 or 4.
  CDsdLiteralConverter(int nMaxLength, int nOutputBytes);

  // One channel, earliest sample in bit 7; writes nLength / 4 samples.
  void Convert(const uint8_t* pInput, int nLength, uint8_t* pOutput);

 private:
  int m_nOutputBytes;
  double m_rgdTable[10][256];
  uint8_t m_rgbReverse[256];
  uint8_t m_rgbRing[32];
  uint16_t m_wPosition;
  double m_rgdHistory[27];
  double m_rgdShaper[2][2];
  double* m_pdLatest;
  double* m_pdPrevious;
  std::vector<double> m_vdStage;
};
