#include "tools/t32host/wav_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace t32host {
namespace {

constexpr WORD kFormatPcm = 0x0001;
constexpr WORD kFormatIeeeFloat = 0x0003;
constexpr WORD kFormatExtensible = 0xFFFE;
constexpr size_t kLoadLimit = size_t(2) << 30;
// The PCM subformat of the extensible header, in file byte order.
constexpr BYTE kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

DWORD Le32(const BYTE* pb) { return DWORD(pb[0]) | DWORD(pb[1]) << 8 | DWORD(pb[2]) << 16 | DWORD(pb[3]) << 24; }
WORD Le16(const BYTE* pb) { return WORD(pb[0] | pb[1] << 8); }

void Put16(std::vector<BYTE>& vb, WORD w) {
  vb.push_back(BYTE(w));
  vb.push_back(BYTE(w >> 8));
}
void Put32(std::vector<BYTE>& vb, DWORD dw) {
  for (int i = 0; i < 4; ++i) vb.push_back(BYTE(dw >> (8 * i)));
}
void PutTag(std::vector<BYTE>& vb, const char* psz) { vb.insert(vb.end(), psz, psz + 4); }

}  // namespace

HRESULT CWavFile::Fail(const std::string& strWhy) {
  m_strError = strWhy;
  m_vbImage.clear();
  m_format = WavFormat();
  m_ullFrames = 0;
  return E_FAIL;
}

HRESULT CWavFile::ParseFormat(const BYTE* pb, size_t cb) {
  if (cb < 16) return Fail("the fmt chunk has " + std::to_string(cb) + " bytes, fewer than 16");
  WORD wTag = Le16(pb);
  WavFormat format;
  format.wChannels = Le16(pb + 2);
  format.dwSampleRate = Le32(pb + 4);
  // Bytes 8 to 11 hold the byte rate, which follows from the rest and is not used.
  WORD wBlockAlign = Le16(pb + 12);
  format.wContainerBits = Le16(pb + 14);
  format.wValidBits = format.wContainerBits;
  if (wTag == kFormatExtensible) {
    if (cb < 40 || Le16(pb + 16) < 22) return Fail("the extensible fmt chunk is shorter than 40 bytes");
    format.wValidBits = Le16(pb + 18);
    format.dwChannelMask = Le32(pb + 20);
    if (std::memcmp(pb + 24, kSubtypePcm, 16) != 0) return Fail("the extensible format's subformat is not PCM");
  } else if (wTag == kFormatIeeeFloat) {
    return Fail("floating-point samples are not supported (16, 24 or 32-bit integer PCM only)");
  } else if (wTag != kFormatPcm) {
    return Fail("format tag " + std::to_string(wTag) + " is not PCM");
  }
  if (format.wChannels == 0) return Fail("the format has no channels");
  if (format.wContainerBits != 16 && format.wContainerBits != 24 && format.wContainerBits != 32)
    return Fail(std::to_string(format.wContainerBits) + "-bit samples are not supported (16, 24 or 32 only)");
  if (format.wValidBits == 0 || format.wValidBits > format.wContainerBits)
    return Fail("valid bits " + std::to_string(format.wValidBits) + " do not fit a " +
                std::to_string(format.wContainerBits) + "-bit sample");
  if (format.dwSampleRate == 0) return Fail("the sample rate is 0");
  DWORD dwFrameBytes = DWORD(format.wChannels) * format.wContainerBits / 8;
  if (wBlockAlign != dwFrameBytes)
    return Fail("block align " + std::to_string(wBlockAlign) + " is not channels × bytes per sample (" +
                std::to_string(dwFrameBytes) + ")");
  m_format = format;
  return S_OK;
}

HRESULT CWavFile::Parse(const BYTE* pbImage, size_t cbImage) {
  m_strError.clear();
  m_format = WavFormat();
  if (!pbImage || cbImage < 12) return Fail("the file is too short for a RIFF header");
  if (std::memcmp(pbImage, "RIFF", 4) != 0 || std::memcmp(pbImage + 8, "WAVE", 4) != 0)
    return Fail("not a RIFF/WAVE file");
  ULONGLONG ullRiffEnd = 8 + ULONGLONG(Le32(pbImage + 4));
  if (ullRiffEnd < 12) return Fail("the RIFF size is too small");
  if (ullRiffEnd > cbImage)
    return Fail("the RIFF size says " + std::to_string(ullRiffEnd) + " bytes, the file has " +
                std::to_string(cbImage) + " (truncated?)");

  bool bFormat = false;
  bool bData = false;
  size_t ibData = 0;
  ULONGLONG cbData = 0;
  ULONGLONG ib = 12;
  while (ib + 8 <= ullRiffEnd) {
    const BYTE* pbChunk = pbImage + ib;
    ULONGLONG cbChunk = Le32(pbChunk + 4);
    ULONGLONG ibBody = ib + 8;
    std::string tag(reinterpret_cast<const char*>(pbChunk), 4);
    if (cbChunk > ullRiffEnd - ibBody)
      return Fail("chunk '" + tag + "' of " + std::to_string(cbChunk) + " bytes runs past the end of the RIFF data");
    if (tag == "fmt ") {
      if (bFormat) return Fail("the file has two fmt chunks");
      if (FAILED(ParseFormat(pbImage + ibBody, size_t(cbChunk)))) return E_FAIL;
      bFormat = true;
    } else if (tag == "data") {
      if (bData) return Fail("the file has two data chunks");
      bData = true;
      ibData = size_t(ibBody);
      cbData = cbChunk;
    }
    ib = ibBody + cbChunk + (cbChunk & 1);  // chunks are padded to even sizes
  }
  if (!bFormat) return Fail("the file has no fmt chunk");
  if (!bData) return Fail("the file has no data chunk");

  WavFormat format = m_format;
  m_vbImage.assign(pbImage, pbImage + cbImage);
  m_ibData = ibData;
  m_ullFrames = cbData / (ULONGLONG(format.wChannels) * format.wContainerBits / 8);
  return S_OK;
}

HRESULT CWavFile::Load(const char* pszPath) {
  std::vector<BYTE> vb;
  std::string strError;
  if (FAILED(ReadWholeFile(pszPath, kLoadLimit, &vb, &strError))) return Fail(strError);
  return Parse(vb.data(), vb.size());
}

LONG CWavFile::Sample(ULONGLONG ullFrame, UINT nChannel) const {
  if (ullFrame >= m_ullFrames || nChannel >= m_format.wChannels) return 0;
  UINT nBytes = m_format.wContainerBits / 8;
  const BYTE* pb = m_vbImage.data() + m_ibData + (ullFrame * m_format.wChannels + nChannel) * nBytes;
  DWORD dw = 0;
  for (UINT i = 0; i < nBytes; ++i) dw |= DWORD(pb[i]) << (8 * (4 - nBytes + i));
  return static_cast<LONG>(dw);
}

HRESULT BuildWavImage(const WavFormat& format, const BYTE* pbData, size_t cbData, std::vector<BYTE>* pvbImage) {
  WORD wBits = format.wContainerBits;
  if (!pvbImage || format.wChannels == 0 || format.dwSampleRate == 0 ||
      (wBits != 8 && wBits != 16 && wBits != 24 && wBits != 32) || format.wValidBits > wBits ||
      (cbData && !pbData))
    return E_INVALIDARG;
  DWORD dwFrameBytes = DWORD(format.wChannels) * wBits / 8;
  if (cbData % dwFrameBytes != 0 || cbData > 0xFFFFFFFFull - 80) return E_INVALIDARG;
  WORD wValid = format.wValidBits ? format.wValidBits : wBits;
  bool bExtensible = format.wChannels > 2 || wValid != wBits || wBits > 16 || format.dwChannelMask != 0;
  DWORD cbFormat = bExtensible ? 40 : 16;
  DWORD cbPad = DWORD(cbData & 1);

  std::vector<BYTE>& vb = *pvbImage;
  vb.clear();
  vb.reserve(20 + cbFormat + 8 + cbData + cbPad);
  PutTag(vb, "RIFF");
  Put32(vb, DWORD(4 + 8 + cbFormat + 8 + cbData + cbPad));
  PutTag(vb, "WAVE");
  PutTag(vb, "fmt ");
  Put32(vb, cbFormat);
  Put16(vb, bExtensible ? kFormatExtensible : kFormatPcm);
  Put16(vb, format.wChannels);
  Put32(vb, format.dwSampleRate);
  Put32(vb, dwFrameBytes * format.dwSampleRate);
  Put16(vb, WORD(dwFrameBytes));
  Put16(vb, wBits);
  if (bExtensible) {
    Put16(vb, 22);
    Put16(vb, wValid);
    Put32(vb, format.dwChannelMask);
    vb.insert(vb.end(), kSubtypePcm, kSubtypePcm + 16);
  }
  PutTag(vb, "data");
  Put32(vb, DWORD(cbData));
  vb.insert(vb.end(), pbData, pbData + cbData);
  if (cbPad) vb.push_back(0);
  return S_OK;
}

HRESULT WriteWavFile(const char* pszPath, const WavFormat& format, const BYTE* pbData, size_t cbData) {
  std::vector<BYTE> vb;
  HRESULT hr = BuildWavImage(format, pbData, cbData, &vb);
  if (FAILED(hr)) return hr;
  FILE* file = std::fopen(pszPath, "wb");
  if (!file) return E_FAIL;
  bool bWritten = std::fwrite(vb.data(), 1, vb.size(), file) == vb.size();
  bWritten = std::fclose(file) == 0 && bWritten;
  return bWritten ? S_OK : E_FAIL;
}

HRESULT ReadWholeFile(const char* pszPath, size_t cbLimit, std::vector<BYTE>* pvb, std::string* pstrError) {
  FILE* file = pszPath ? std::fopen(pszPath, "rb") : nullptr;
  if (!file) {
    *pstrError = std::string("cannot open ") + (pszPath ? pszPath : "(no path)") + ": " + std::strerror(errno);
    return E_FAIL;
  }
  pvb->clear();
  BYTE buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    if (pvb->size() + n > cbLimit) {
      std::fclose(file);
      *pstrError = std::string(pszPath) + " is larger than " + std::to_string(cbLimit >> 20) + " MiB";
      return E_FAIL;
    }
    pvb->insert(pvb->end(), buffer, buffer + n);
  }
  bool bError = std::ferror(file) != 0;
  std::fclose(file);
  if (bError) {
    *pstrError = std::string("cannot read ") + pszPath;
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace t32host
