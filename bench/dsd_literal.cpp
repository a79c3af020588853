#include "dsd_literal.h"

#include "support/dsd_reference_coefficients.h"

namespace {

using dsdref::kC;
using dsdref::kD;
using dsdref::kShaper;

int32_t Round(double v, double dMin, double dMax, int32_t lMin, int32_t lMax) {
  v = v >= 0 ? v + 0.5 : v - 0.5;
  if (v <= dMin) return lMin;
  if (v >= dMax) return lMax;
  return (int32_t)v;
}

}  // namespace

CDsdLiteralConverter::CDsdLiteralConverter(int nMaxLength, int nOutputBytes)
    : m_nOutputBytes(nOutputBytes), m_wPosition(0), m_rgdHistory(), m_rgdShaper(),
      m_pdLatest(m_rgdShaper[0]), m_pdPrevious(m_rgdShaper[1]), m_vdStage(nMaxLength) {
  for (int v = 0; v < 256; v++) {
    uint8_t r = 0;
    for (int i = 0; i < 8; i++) r = (uint8_t)(r | (((v >> i) & 1) << (7 - i)));
    m_rgbReverse[v] = r;
  }
  for (int t = 0; t < 10; t++) {
    for (int v = 0; v < 256; v++) {
      double s = 0;
      for (int bit = 7; bit >= 0; bit--) {
        s += (2 * ((v >> bit) & 1) - 1) * kC[72 - 8 * t + (7 - bit)];
      }
      m_rgdTable[t][v] = s;
    }
  }
  for (int i = 0; i < 32; i++) m_rgbRing[i] = 0x69;
}

void CDsdLiteralConverter::Convert(const uint8_t* pInput, int nLength, uint8_t* pOutput) {
  int nStage = 0;
  for (int j = 0; j < nLength; j++) {
    int a = m_wPosition;
    m_rgbRing[a] = pInput[j];
    m_rgbRing[(a - 10) & 31] = m_rgbReverse[m_rgbRing[(a - 10) & 31]];
    double x = 0;
    for (int t = 0; t < 10; t++) {
      x += m_rgdTable[t][m_rgbRing[(a - t) & 31]] + m_rgdTable[t][m_rgbRing[(a - 19 + t) & 31]];
    }
    if (j % 2 == 1) {
      m_rgdHistory[0] = x;
      double y = 0;
      for (int i = 0; i < 27; i++) y += kD[i] * m_rgdHistory[i];
      for (int i = 26; i > 0; i--) m_rgdHistory[i] = m_rgdHistory[i - 1];
      x = 2 * y;
    }
    if (j % 4 == 3) m_vdStage[nStage++] = x;
    m_wPosition = (uint16_t)((a + 1) % 32);
  }
  for (int i = 0; i < nStage; i++) {
    double x = m_vdStage[i];
    uint8_t* p = pOutput + i * m_nOutputBytes;
    int32_t s;
    if (m_nOutputBytes == 4) {
      s = Round(x * 2147483648.0, -2147483648.0, 2147483647.0, INT32_MIN, INT32_MAX);
    } else if (m_nOutputBytes == 3) {
      s = Round(x * 8388608.0, -8388608.0, 8388607.0, -8388608, 8388607);
    } else {
      double acc = 0;
      for (int sec = 0; sec < 2; sec++) {
        const double* c = kShaper[sec];
        double pv = m_pdLatest[sec], q = m_pdPrevious[sec];
        double w = acc - (c[2] * pv + c[3] * q);
        m_pdPrevious[sec] = w;
        acc = w + c[0] * pv + c[1] * q;
      }
      double v = x * 32768.0 + acc;
      s = Round(v, -32768.0, 32767.0, -32768, 32767);
      double e = s - v;
      if (e < -1.0) e = -1.0;
      if (e > 1.0) e = 1.0;
      m_pdPrevious[0] += e;
      m_pdPrevious[1] += e;
      double* pdSwap = m_pdLatest;
      m_pdLatest = m_pdPrevious;
      m_pdPrevious = pdSwap;
    }
    for (int b = 0; b < m_nOutputBytes; b++) p[b] = (uint8_t)((uint32_t)s >> (8 * b));
  }
}
