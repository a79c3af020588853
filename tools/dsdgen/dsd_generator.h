// DSD test signals: a fifth-order one-bit sigma-delta modulator that turns PCM samples at
// the DSD64 rate into DSD bytes (eight samples per byte, earliest in the most significant
// bit), and a sine generator built on it.
//
// Full scale is 50 % modulation: an input of 1.0 gives a stream whose ones outnumber its
// zeros three to one, which the converter turns into PCM full scale. The modulator is
// stable for inputs up to -3 dBFS (peaks of 0.708); beyond that it may not be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

const double kDsd64Rate = 2822400.0;

class CDsdModulator {
 public:
  CDsdModulator();

  // Modulates 8 * nBytes samples (1.0 = full scale) into nBytes DSD bytes. State carries
  // over from call to call.
  void Modulate(const double* pdSamples, size_t nBytes, uint8_t* pbOut);

  // Times the loop filter had to be cleared because its quantizer input ran away (the sign
  // of an input too loud for the modulator). 0 for every input the modulator is made for.
  int Resets() const { return m_nResets; }

 private:
  double m_rgdError[5];   // quantization errors, newest first
  double m_rgdFilter[5];  // outputs of the error filter, newest first
  int m_nResets;
};

// nBytes of DSD64 carrying a sine of dFrequency Hz at dLevelDb dBFS, starting at phase 0.
// pnResets, when given, receives the modulator's Resets() count.
std::vector<uint8_t> DsdSine(double dFrequency, double dLevelDb, size_t nBytes, int* pnResets = nullptr);
