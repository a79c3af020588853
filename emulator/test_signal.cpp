#include "emulator/test_signal.h"

#include <cmath>

namespace t32emu {

double TestSignalValue(ULONGLONG ullFrame, UINT nChannel, DWORD dwRate) {
  const double kPi = 3.14159265358979323846;
  double dFrequency = 1000.0 + 500.0 * nChannel;
  // Reduce the phase in whole cycles first so long streams keep their precision.
  ULONGLONG ullPeriodFrames = dwRate;  // dFrequency * 1 s is a whole number of cycles
  double dPhase = 2.0 * kPi * dFrequency * (double)(ullFrame % ullPeriodFrames) / (double)dwRate;
  return 0.5 * std::sin(dPhase);
}

void EncodePcmSample(double dValue, UINT nContainerBits, UINT nValidBits, BYTE* pbOut) {
  if (nValidBits == 0 || nValidBits > nContainerBits) nValidBits = nContainerBits;
  double dScale = std::ldexp(1.0, (int)nValidBits - 1) - 1.0;
  long long llSample = std::llround(dValue * dScale);
  if (nContainerBits == 8) {
    pbOut[0] = (BYTE)(llSample + 128);
    return;
  }
  unsigned long long ullBits = (unsigned long long)llSample << (nContainerBits - nValidBits);
  for (UINT i = 0; i < nContainerBits / 8; ++i) pbOut[i] = (BYTE)(ullBits >> (8 * i));
}

void WriteTestSignalFrame(ULONGLONG ullFrame, const WAVEFORMATEXTENSIBLE& wfx, BYTE* pbFrame) {
  UINT nBits = wfx.Format.wBitsPerSample;
  UINT nValid = wfx.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? wfx.Samples.wValidBitsPerSample : nBits;
  for (UINT c = 0; c < wfx.Format.nChannels; ++c)
    EncodePcmSample(TestSignalValue(ullFrame, c, wfx.Format.nSamplesPerSec), nBits, nValid, pbFrame + c * (nBits / 8));
}

}  // namespace t32emu
