#include "tools/dsdgen/dsd_generator.h"

#include <cmath>
#include <cstring>

// The noise transfer function NTF(z) = B(z) / A(z): zeros spread over 0 ... 20 kHz at the
// optimal places for a fifth-order filter, Butterworth poles placed so that the gain
// outside the audio band peaks at 1.5 (the usual limit for a stable one-bit modulator).
// In the audio band it lies about 100 dB below the quantization error. The modulator is
// the error-feedback form: the quantizer sees x + (NTF - 1) e and puts out x + NTF e.
namespace {

const double kB[6] = {1.0, -4.997797625736836, 9.993393812694144, -9.993393812694144, 4.997797625736836, -1.0};
const double kA[6] = {1.0, -4.191193805242934, 7.082279263213406, -6.025310494850627, 2.5788498070864736, -0.4439552141812098};

// A quantizer input this large means the loop has lost control.
const double kRunaway = 16.0;

}  // namespace

CDsdModulator::CDsdModulator() : m_rgdError(), m_rgdFilter(), m_nResets(0) {}

void CDsdModulator::Modulate(const double* pdSamples, size_t nBytes, uint8_t* pbOut) {
  for (size_t i = 0; i < nBytes; i++) {
    unsigned byte = 0;
    for (int bit = 0; bit < 8; bit++) {
      // Error filter (NTF - 1) = (B - A) / A, strictly causal.
      double h = 0.0;
      for (int k = 1; k <= 5; k++) {
        h += (kB[k] - kA[k]) * m_rgdError[k - 1] - kA[k] * m_rgdFilter[k - 1];
      }
      // Half of the input: full scale is 50 % modulation.
      double u = 0.5 * pdSamples[8 * i + bit] + h;
      double v = u >= 0.0 ? 1.0 : -1.0;
      if (std::fabs(u) > kRunaway) {
        memset(m_rgdError, 0, sizeof(m_rgdError));
        memset(m_rgdFilter, 0, sizeof(m_rgdFilter));
        m_nResets++;
        h = 0.0;
        u = v;
      }
      memmove(m_rgdError + 1, m_rgdError, 4 * sizeof(double));
      memmove(m_rgdFilter + 1, m_rgdFilter, 4 * sizeof(double));
      m_rgdError[0] = v - u;
      m_rgdFilter[0] = h;
      byte = (byte << 1) | (v > 0.0 ? 1u : 0u);
    }
    pbOut[i] = (uint8_t)byte;
  }
}

std::vector<uint8_t> DsdSine(double dFrequency, double dLevelDb, size_t nBytes, int* pnResets) {
  const double dAmplitude = std::pow(10.0, dLevelDb / 20.0);
  const double dStep = 2.0 * 3.14159265358979323846 * dFrequency / kDsd64Rate;
  std::vector<uint8_t> vb(nBytes);
  CDsdModulator modulator;
  double rgd[8 * 512];
  for (size_t i = 0; i < nBytes; i += 512) {
    size_t n = nBytes - i < 512 ? nBytes - i : 512;
    for (size_t j = 0; j < 8 * n; j++) {
      rgd[j] = dAmplitude * std::sin(dStep * (double)(8 * i + j));
    }
    modulator.Modulate(rgd, n, vb.data() + i);
  }
  if (pnResets) *pnResets = modulator.Resets();
  return vb;
}
