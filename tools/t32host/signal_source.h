// What the host plays: a source renders any stretch of one output channel into an ASIO
// buffer of the driver's sample type. PCM sources (a sine, a WAV file) give 32-bit samples
// that are cut to the buffer's width; DSD sources give bytes as they are. A source with
// fewer channels than the host's outputs repeats its first channel (mono to both sides);
// frames past its end are silence.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/asio/iasio.h"
#include "tools/t32host/wav_file.h"

namespace t32host {

constexpr ULONGLONG kEndless = ~0ull;

class CSignalSource {
 public:
  virtual ~CSignalSource() = default;
  virtual bool IsDsd() const = 0;
  // The rate the source was made for (DSD: the one-bit rate).
  virtual DWORD SampleRate() const = 0;
  // Frames (DSD: one-bit samples) it holds, or kEndless.
  virtual ULONGLONG FrameCount() const = 0;
  virtual std::string Describe() const = 0;
  // Fills nFrames frames of output channel nChannel from frame ullFrame on. PCM sources
  // take PCM types; DSD sources take ASIOSTDSDInt8MSB1 with ullFrame and nFrames multiples
  // of 8. Never allocates (it runs in the buffer switch).
  virtual void Render(ULONGLONG ullFrame, LONG nFrames, UINT nChannel, ASIOSampleType type, void* pBuffer) const = 0;
};

class CPcmSource : public CSignalSource {
 public:
  bool IsDsd() const override { return false; }
  void Render(ULONGLONG ullFrame, LONG nFrames, UINT nChannel, ASIOSampleType type, void* pBuffer) const override;
  // The left-justified sample of a channel at a frame inside the source.
  virtual LONG Sample(ULONGLONG ullFrame, UINT nChannel) const = 0;
};

// A sine per channel: dFrequency on the left, 1.5 × dFrequency on the right (so the two
// sides can be told apart), at dLevelDb dB below full scale.
class CSineSource : public CPcmSource {
 public:
  CSineSource(DWORD dwRate, double dFrequency, double dLevelDb, ULONGLONG ullFrames);
  DWORD SampleRate() const override { return m_dwRate; }
  ULONGLONG FrameCount() const override { return m_ullFrames; }
  std::string Describe() const override;
  LONG Sample(ULONGLONG ullFrame, UINT nChannel) const override;

 private:
  DWORD m_dwRate;
  double m_dFrequency;
  double m_dLevelDb;
  double m_dAmplitude;
  ULONGLONG m_ullFrames;
};

class CWavSource : public CPcmSource {
 public:
  explicit CWavSource(std::shared_ptr<const CWavFile> pFile, std::string strName);
  DWORD SampleRate() const override { return m_pFile->Format().dwSampleRate; }
  ULONGLONG FrameCount() const override { return m_pFile->FrameCount(); }
  std::string Describe() const override;
  LONG Sample(ULONGLONG ullFrame, UINT nChannel) const override;

 private:
  std::shared_ptr<const CWavFile> m_pFile;
  std::string m_strName;
};

// One-bit audio, one byte array per channel (earliest sample in the most significant bit).
class CDsdSource : public CSignalSource {
 public:
  CDsdSource(std::vector<std::vector<BYTE>> vvbChannels, ULONGLONG ullSamples, DWORD dwRate,
             std::string strDescription);
  bool IsDsd() const override { return true; }
  DWORD SampleRate() const override { return m_dwRate; }
  ULONGLONG FrameCount() const override { return m_ullSamples; }
  std::string Describe() const override { return m_strDescription; }
  void Render(ULONGLONG ullFrame, LONG nFrames, UINT nChannel, ASIOSampleType type, void* pBuffer) const override;

 private:
  std::vector<std::vector<BYTE>> m_vvbChannels;
  ULONGLONG m_ullSamples;
  DWORD m_dwRate;
  std::string m_strDescription;
};

}  // namespace t32host
