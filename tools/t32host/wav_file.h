// WAV files: reading integer PCM of 16, 24 or 32 bits in any number of channels from a
// RIFF/WAVE image, and writing one. The reader takes nothing on trust: a chunk that runs
// past its container, a RIFF size past the end of the file, a format whose sizes do not
// agree, or a missing chunk is refused with a message that says what is wrong.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace t32host {

struct WavFormat {
  WORD wChannels = 0;
  DWORD dwSampleRate = 0;
  WORD wContainerBits = 0;  // 16, 24 or 32: bytes per sample × 8
  WORD wValidBits = 0;      // at most the container's, left-justified in it
  DWORD dwChannelMask = 0;  // speaker positions, 0 when the file gives none
};

class CWavFile {
 public:
  // Parses a whole file image, which is copied. S_OK, or E_FAIL with Error() saying why.
  HRESULT Parse(const BYTE* pbImage, size_t cbImage);
  // Reads a file and parses it; files above 2 GiB are refused.
  HRESULT Load(const char* pszPath);

  const WavFormat& Format() const { return m_format; }
  // Whole frames in the data chunk (a partial last frame is left out).
  ULONGLONG FrameCount() const { return m_ullFrames; }
  // The sample of channel nChannel at frame ullFrame, left-justified in 32 bits; 0 outside
  // the data.
  LONG Sample(ULONGLONG ullFrame, UINT nChannel) const;
  const std::string& Error() const { return m_strError; }

 private:
  HRESULT Fail(const std::string& strWhy);
  HRESULT ParseFormat(const BYTE* pb, size_t cb);

  std::vector<BYTE> m_vbImage;
  size_t m_ibData = 0;
  WavFormat m_format;
  ULONGLONG m_ullFrames = 0;
  std::string m_strError;
};

// A complete WAV image holding cbData bytes of interleaved PCM in the given format: a
// plain PCM header for one or two channels whose valid bits fill the container, the
// extensible header otherwise. E_INVALIDARG for a format it cannot describe (container
// other than 8, 16, 24, 32 bits, no channels, data not whole frames or above 4 GiB).
HRESULT BuildWavImage(const WavFormat& format, const BYTE* pbData, size_t cbData, std::vector<BYTE>* pvbImage);
// The same written to a file; E_FAIL when the file cannot be written.
HRESULT WriteWavFile(const char* pszPath, const WavFormat& format, const BYTE* pbData, size_t cbData);

// Reads a whole file into memory, refusing files larger than cbLimit.
HRESULT ReadWholeFile(const char* pszPath, size_t cbLimit, std::vector<BYTE>* pvb, std::string* pstrError);

}  // namespace t32host
