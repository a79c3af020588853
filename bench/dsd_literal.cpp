#include "dsd_literal.h"

namespace {

const double kC[80] = {
    0.056525498629,  0.055840492249,  0.054487913847,  0.052502058446,  0.049932871014,
    0.046844284981,  0.043312050402,  0.039421223104,  0.035263359547,  0.030933596194,
    0.026527650654,  0.022138915956,  0.017855729908,  0.013758916408,  0.009919703007,
    0.006398048252,  0.003241457045,  0.000484261662,  -0.001852560788, -0.003761123866,
    -0.005245935172, -0.006322760135, -0.007017232478, -0.007363189012, -0.007400821894,
    -0.007174808532, -0.00673237443,  -0.006121505052, -0.005389235914, -0.004580173641,
    -0.00373525545,  -0.002890769392, -0.002077642828, -0.001321040094, -0.000640206039,
    -0.000048555434, 0.000445999205,  0.000840559602,  0.001136630774,  0.001339368522,
    0.001456838101,  0.001499205828,  0.001478008926,  0.001405414194,  0.001293625683,
    0.001154340804,  0.000998329371,  0.000835113227,  0.000672776252,  0.000517837703,
    0.000375259668,  0.000248491764,  0.000139601529,  0.000049442053,  -0.000022158027,
    -0.000076182187, -0.000114213675, -0.000138238072, -0.000150464475, -0.000153161585,
    -0.000148542225, -0.00013865158,  -0.000125303864, -0.00011004135,  -0.000094123185,
    -0.000078510493, -0.00006390363,  -0.00005075708,  -0.000039320439, -0.000029679388,
    -0.000021796674, -0.000015538186, -0.000010721385, -0.000007130206, -0.000004544854,
    -0.00000275299,  -0.000001564622, -0.000000819564, -0.00000037998,  -0.000000156462,
};

const double kD[27] = {
    0.000162583776, 0, -0.001165683847, 0, 0.004729037639, 0, -0.014184004162, 0,
    0.035739544313, 0, -0.08651175024,  0, 0.311232027598, 0.5, 0.311232027598, 0,
    -0.08651175024, 0, 0.035739544313,  0, -0.014184004162, 0, 0.004729037639, 0,
    -0.001165683847, 0, 0.000162583776,
};

const double kShaper[2][4] = {
    {-1.62666423, 0.79410094, 0.61367127, 0.23311013},
    {-1.44870017, 0.54196219, 0.03373857, 0.70316556},
};

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
