#include "tools/t32host/signal_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/t32host/sample_format.h"

namespace t32host {

void CPcmSource::Render(ULONGLONG ullFrame, LONG nFrames, UINT nChannel, ASIOSampleType type, void* pBuffer) const {
  UINT nBytes = PcmSampleBytes(type);
  if (!nBytes || nFrames <= 0 || !pBuffer) return;
  BYTE* pb = static_cast<BYTE*>(pBuffer);
  ULONGLONG ullEnd = FrameCount();
  for (LONG i = 0; i < nFrames; ++i, pb += nBytes) {
    ULONGLONG ullAt = ullFrame + ULONGLONG(i);
    StorePcmSample(ullAt < ullEnd ? Sample(ullAt, nChannel) : 0, type, pb);
  }
}

CSineSource::CSineSource(DWORD dwRate, double dFrequency, double dLevelDb, ULONGLONG ullFrames)
    : m_dwRate(dwRate),
      m_dFrequency(dFrequency),
      m_dLevelDb(dLevelDb),
      m_dAmplitude(2147483647.0 * std::pow(10.0, dLevelDb / 20.0)),
      m_ullFrames(ullFrames) {
  if (m_dAmplitude > 2147483647.0) m_dAmplitude = 2147483647.0;
}

std::string CSineSource::Describe() const {
  char text[128];
  std::snprintf(text, sizeof(text), "sine %.0f Hz left, %.0f Hz right, %.1f dBFS", m_dFrequency, m_dFrequency * 1.5,
                m_dLevelDb);
  return text;
}

LONG CSineSource::Sample(ULONGLONG ullFrame, UINT nChannel) const {
  const double kTwoPi = 6.283185307179586;
  double dFrequency = nChannel % 2 ? m_dFrequency * 1.5 : m_dFrequency;
  double dCycles = std::fmod(double(ullFrame) * dFrequency / m_dwRate, 1.0);
  return static_cast<LONG>(std::lround(m_dAmplitude * std::sin(kTwoPi * dCycles)));
}

CWavSource::CWavSource(std::shared_ptr<const CWavFile> pFile, std::string strName)
    : m_pFile(std::move(pFile)), m_strName(std::move(strName)) {}

std::string CWavSource::Describe() const {
  const WavFormat& f = m_pFile->Format();
  char text[96];
  std::snprintf(text, sizeof(text), " (%u channels, %u Hz, %u bits, %.1f s)", f.wChannels, f.dwSampleRate,
                f.wValidBits, double(m_pFile->FrameCount()) / f.dwSampleRate);
  return m_strName + text;
}

LONG CWavSource::Sample(ULONGLONG ullFrame, UINT nChannel) const {
  UINT nChannels = m_pFile->Format().wChannels;
  return m_pFile->Sample(ullFrame, nChannel < nChannels ? nChannel : 0);
}

CDsdSource::CDsdSource(std::vector<std::vector<BYTE>> vvbChannels, ULONGLONG ullSamples, DWORD dwRate,
                       std::string strDescription)
    : m_vvbChannels(std::move(vvbChannels)),
      m_ullSamples(ullSamples),
      m_dwRate(dwRate),
      m_strDescription(std::move(strDescription)) {}

void CDsdSource::Render(ULONGLONG ullFrame, LONG nFrames, UINT nChannel, ASIOSampleType type, void* pBuffer) const {
  if (!IsDsdSampleType(type) || nFrames <= 0 || !pBuffer) return;
  BYTE* pb = static_cast<BYTE*>(pBuffer);
  size_t cb = size_t(nFrames) / 8;
  std::memset(pb, kDsdSilence, cb);
  if (m_vvbChannels.empty()) return;
  const std::vector<BYTE>& vb = m_vvbChannels[nChannel < m_vvbChannels.size() ? nChannel : 0];
  ULONGLONG ibStart = ullFrame / 8;
  if (ibStart >= vb.size()) return;
  size_t cbCopy = size_t(std::min<ULONGLONG>(cb, vb.size() - ibStart));
  std::memcpy(pb, vb.data() + ibStart, cbCopy);
}

}  // namespace t32host
