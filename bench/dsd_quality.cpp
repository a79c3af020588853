// Quality of the DSD path: a 1 kHz sine at -6 dBFS made by the test-signal generator,
// converted to 24-bit and to noise-shaped 16-bit PCM; SNR (harmonics left out) and THD+N
// in 20 Hz - 20 kHz, from a 65536-sample record after the filters' start-up. 32-bit output
// and plain rounding of the same signal to 16 bits are printed for comparison.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "asio_driver/dsd_converter.h"
#include "tools/dsdgen/dsd_generator.h"
#include "tools/dsdgen/signal_analysis.h"

namespace {

const size_t kSamples = 65536, kSkip = 2048;

std::vector<double> Convert(const std::vector<uint8_t>& vbDsd, int nBytes) {
  CDsdConverter converter;
  converter.Initialize(3528, nBytes);
  std::vector<BYTE> vbPcm(vbDsd.size() / 4 * nBytes);
  for (size_t i = 0; i < vbDsd.size(); i += 3528) {
    int n = vbDsd.size() - i < 3528 ? (int)(vbDsd.size() - i) : 3528;
    converter.Convert(vbDsd.data() + i, n, vbPcm.data() + i / 4 * nBytes);
  }
  std::vector<double> vd(kSamples);
  for (size_t i = 0; i < kSamples; i++) {
    DWORD u = 0;
    for (int b = 0; b < nBytes; b++) u |= (DWORD)vbPcm[(kSkip + i) * nBytes + b] << (8 * b + 32 - 8 * nBytes);
    vd[i] = (double)(LONG)u / 2147483648.0;
  }
  return vd;
}

void Print(const char* pszWhat, const std::vector<double>& vd, double dFrequency) {
  SINE_ANALYSIS a = AnalyzeSine(vd.data(), vd.size(), 88200.0, dFrequency);
  printf("%-34s %8.2f Hz %7.2f dBFS   SNR %6.1f dB   THD+N %7.1f dB\n", pszWhat, a.dFrequency, a.dLevelDb, a.dSnrDb,
         a.dThdnDb);
}

}  // namespace

int main() {
  const double dFrequency = CoherentFrequency(1000.0, 88200.0, kSamples);
  int nResets = 0;
  std::vector<uint8_t> vbDsd = DsdSine(dFrequency, -6.0, (kSamples + kSkip) * 4, &nResets);
  printf("1 kHz (%.2f Hz) at -6 dBFS, 20 Hz - 20 kHz; modulator overloads: %d\n", dFrequency, nResets);
  Print("24-bit", Convert(vbDsd, 3), dFrequency);
  Print("16-bit, noise-shaped", Convert(vbDsd, 2), dFrequency);
  Print("32-bit", Convert(vbDsd, 4), dFrequency);
  std::vector<double> vd = Convert(vbDsd, 4);
  for (double& d : vd) d = std::floor(d * 32768.0 + 0.5) / 32768.0;
  Print("16-bit, 32-bit output rounded", vd, dFrequency);
  return nResets == 0 ? 0 : 1;
}
