// Measurements of a sine in PCM: its frequency, its level, and what else is in the audio
// band. The record is analysed with a power-of-two FFT and no window, so the sine should
// complete a whole number of cycles in it (CoherentFrequency gives such a frequency).
#pragma once

#include <cstddef>

struct SINE_ANALYSIS {
  double dFrequency;  // centre of the strongest bin between the band limits, Hz
  double dLevelDb;    // level of the sine, dB relative to a full-scale (1.0) sine
  double dSnrDb;      // sine against the noise in the band, harmonics 2 to 9 left out
  double dThdnDb;     // everything in the band but the sine, against the sine (negative)
};

// The frequency nearest to dWanted that completes a whole number of cycles in nSamples
// samples at dRate.
double CoherentFrequency(double dWanted, double dRate, size_t nSamples);

// Analyses nSamples (a power of two) samples at dRate, 1.0 = full scale, for a sine at
// dFrequency, counting noise from dLow to dHigh Hz.
SINE_ANALYSIS AnalyzeSine(const double* pdSamples, size_t nSamples, double dRate, double dFrequency,
                          double dLow = 20.0, double dHigh = 20000.0);
