// DSF files (DSD stream files): one-bit audio stored as a "DSD " header chunk, a "fmt "
// chunk and a "data" chunk whose samples are interleaved per channel in blocks (4096 bytes
// in every file we know of; the last block of each channel padded). With one bit per
// sample each byte holds eight samples, the earliest in the least significant bit; the
// reader hands out each channel's bytes with the earliest sample in the most significant
// bit, as ASIO's DSD buffers take them. Like the WAV reader it refuses, with a message, any
// file whose sizes do not add up.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace t32host {

struct DsfInfo {
  DWORD dwChannelType = 0;  // 1 mono, 2 stereo, 3 three channels, 4 quad, 5 four channels, 6 five, 7 5.1
  DWORD dwChannels = 0;
  DWORD dwSampleRate = 0;     // 2822400 (DSD64), 5644800 (DSD128), ...
  DWORD dwBitsPerSample = 0;  // 1: LSB first; 8: MSB first
  ULONGLONG ullSamples = 0;   // per channel
  DWORD dwBlockSize = 0;      // bytes per channel block
};

class CDsfFile {
 public:
  HRESULT Parse(const BYTE* pbImage, size_t cbImage);
  HRESULT Load(const char* pszPath);

  const DsfInfo& Info() const { return m_info; }
  // The samples of a channel, eight per byte, earliest in the most significant bit; the
  // last byte's unused low bits are as the file had them. Empty for a channel out of range.
  const std::vector<BYTE>& Channel(UINT nChannel) const;
  const std::string& Error() const { return m_strError; }

 private:
  HRESULT Fail(const std::string& strWhy);

  DsfInfo m_info;
  std::vector<std::vector<BYTE>> m_vvbChannels;
  std::string m_strError;
};

}  // namespace t32host
