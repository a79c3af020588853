#include "tools/dsdgen/signal_analysis.h"

#include <cmath>
#include <complex>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

// In-place radix-2 FFT; the size is a power of two.
void Fft(std::vector<std::complex<double>>& v) {
  const size_t n = v.size();
  for (size_t i = 1, j = 0; i < n; i++) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(v[i], v[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2.0 * kPi / (double)len;
    for (size_t i = 0; i < n; i += len) {
      for (size_t k = 0; k < len / 2; k++) {
        std::complex<double> w(std::cos(ang * (double)k), std::sin(ang * (double)k));
        std::complex<double> a = v[i + k], b = v[i + k + len / 2] * w;
        v[i + k] = a + b;
        v[i + k + len / 2] = a - b;
      }
    }
  }
}

}  // namespace

double CoherentFrequency(double dWanted, double dRate, size_t nSamples) {
  double dBin = dRate / (double)nSamples;
  return std::round(dWanted / dBin) * dBin;
}

SINE_ANALYSIS AnalyzeSine(const double* pdSamples, size_t nSamples, double dRate, double dFrequency,
                          double dLow, double dHigh) {
  std::vector<std::complex<double>> v(pdSamples, pdSamples + nSamples);
  Fft(v);
  const double dBin = dRate / (double)nSamples;
  // One-sided power per bin, scaled so that a sine of amplitude A gives A * A / 2.
  auto power = [&](size_t k) { return 2.0 * std::norm(v[k]) / ((double)nSamples * (double)nSamples); };
  const size_t kSine = (size_t)std::lround(dFrequency / dBin);
  const size_t kLow = (size_t)std::ceil(dLow / dBin), kHigh = (size_t)std::floor(dHigh / dBin);

  SINE_ANALYSIS a = {};
  size_t kPeak = kLow;
  double dRest = 0.0, dHarmonics = 0.0;
  for (size_t k = kLow; k <= kHigh && k < nSamples / 2; k++) {
    if (power(k) > power(kPeak)) kPeak = k;
    if (k == kSine) continue;
    dRest += power(k);
    if (k % kSine == 0 && k / kSine <= 9) dHarmonics += power(k);
  }
  const double dSine = power(kSine);
  a.dFrequency = (double)kPeak * dBin;
  a.dLevelDb = 10.0 * std::log10(dSine / 0.5);
  a.dSnrDb = 10.0 * std::log10(dSine / (dRest - dHarmonics));
  a.dThdnDb = 10.0 * std::log10(dRest / dSine);
  return a;
}
