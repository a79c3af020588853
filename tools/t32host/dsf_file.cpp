// The published DSF layout, all numbers little-endian:
//   "DSD " chunk: id, chunk size (8 bytes, 28), total file size (8), metadata offset (8);
//   "fmt " chunk: id, chunk size (8, 52), format version (4, 1), format id (4, 0 = raw
//     DSD), channel type (4), channel count (4), sampling frequency (4), bits per sample
//     (4, 1 or 8), sample count per channel (8), block size per channel (4), reserved (4);
//   "data" chunk: id, chunk size (8, 12 + data bytes), then the blocks: channel 0's first
//     block, channel 1's first block, ..., channel 0's second block, and so on.
#include "tools/t32host/dsf_file.h"

#include <algorithm>
#include <cstring>

#include "tools/t32host/wav_file.h"

namespace t32host {
namespace {

constexpr ULONGLONG kDsdChunkSize = 28;
constexpr ULONGLONG kFmtChunkSize = 52;
constexpr ULONGLONG kDataHeaderSize = 12;
constexpr DWORD kMaxBlockSize = 1u << 20;
constexpr size_t kLoadLimit = size_t(2) << 30;

DWORD Le32(const BYTE* pb) { return DWORD(pb[0]) | DWORD(pb[1]) << 8 | DWORD(pb[2]) << 16 | DWORD(pb[3]) << 24; }
ULONGLONG Le64(const BYTE* pb) { return ULONGLONG(Le32(pb)) | ULONGLONG(Le32(pb + 4)) << 32; }

BYTE Reversed(BYTE b) {
  b = BYTE((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = BYTE((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return BYTE((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Channels each channel type stands for.
DWORD ChannelsOfType(DWORD dwType) {
  static const DWORD kChannels[] = {0, 1, 2, 3, 4, 4, 5, 6};
  return dwType < 8 ? kChannels[dwType] : 0;
}

}  // namespace

HRESULT CDsfFile::Fail(const std::string& strWhy) {
  m_strError = strWhy;
  m_info = DsfInfo();
  m_vvbChannels.clear();
  return E_FAIL;
}

HRESULT CDsfFile::Parse(const BYTE* pbImage, size_t cbImage) {
  m_strError.clear();
  m_info = DsfInfo();
  m_vvbChannels.clear();
  if (!pbImage || cbImage < kDsdChunkSize + kFmtChunkSize + kDataHeaderSize)
    return Fail("the file is too short for the DSF headers");
  if (std::memcmp(pbImage, "DSD ", 4) != 0) return Fail("not a DSF file");
  if (Le64(pbImage + 4) != kDsdChunkSize) return Fail("the DSD chunk's size is not 28");
  ULONGLONG ullTotal = Le64(pbImage + 12);
  if (ullTotal > cbImage)
    return Fail("the header says " + std::to_string(ullTotal) + " bytes, the file has " + std::to_string(cbImage) +
                " (truncated?)");
  if (ullTotal < kDsdChunkSize + kFmtChunkSize + kDataHeaderSize)
    return Fail("the header's file size " + std::to_string(ullTotal) + " is too small for the DSF headers");

  const BYTE* pbFmt = pbImage + kDsdChunkSize;
  if (std::memcmp(pbFmt, "fmt ", 4) != 0) return Fail("the fmt chunk does not follow the DSD chunk");
  ULONGLONG ullFmtSize = Le64(pbFmt + 4);
  if (ullFmtSize < kFmtChunkSize || ullFmtSize > ullTotal - kDsdChunkSize - kDataHeaderSize)
    return Fail("the fmt chunk's size " + std::to_string(ullFmtSize) + " is wrong");
  DsfInfo info;
  DWORD dwVersion = Le32(pbFmt + 12);
  DWORD dwFormatId = Le32(pbFmt + 16);
  info.dwChannelType = Le32(pbFmt + 20);
  info.dwChannels = Le32(pbFmt + 24);
  info.dwSampleRate = Le32(pbFmt + 28);
  info.dwBitsPerSample = Le32(pbFmt + 32);
  info.ullSamples = Le64(pbFmt + 36);
  info.dwBlockSize = Le32(pbFmt + 44);
  if (dwVersion != 1) return Fail("format version " + std::to_string(dwVersion) + " is not 1");
  if (dwFormatId != 0) return Fail("format id " + std::to_string(dwFormatId) + " is not raw DSD");
  if (info.dwChannels == 0 || ChannelsOfType(info.dwChannelType) != info.dwChannels)
    return Fail("channel type " + std::to_string(info.dwChannelType) + " does not go with " +
                std::to_string(info.dwChannels) + " channels");
  if (info.dwSampleRate == 0 || info.dwSampleRate % 44100 != 0)
    return Fail("sampling frequency " + std::to_string(info.dwSampleRate) + " is not a DSD rate");
  if (info.dwBitsPerSample != 1 && info.dwBitsPerSample != 8)
    return Fail("bits per sample " + std::to_string(info.dwBitsPerSample) + " is neither 1 nor 8");
  if (info.dwBlockSize == 0 || info.dwBlockSize > kMaxBlockSize)
    return Fail("block size " + std::to_string(info.dwBlockSize) + " is out of range");

  ULONGLONG ibData = kDsdChunkSize + ullFmtSize;
  const BYTE* pbData = pbImage + ibData;
  if (std::memcmp(pbData, "data", 4) != 0) return Fail("the data chunk does not follow the fmt chunk");
  ULONGLONG ullDataSize = Le64(pbData + 4);
  if (ullDataSize < kDataHeaderSize || ullDataSize > ullTotal - ibData)
    return Fail("the data chunk's size " + std::to_string(ullDataSize) + " runs past the end of the file");
  ULONGLONG cbBlocks = ullDataSize - kDataHeaderSize;

  // Every channel needs whole blocks for its samples; check before multiplying, so a
  // sample count that lies cannot overflow.
  ULONGLONG cbPerChannel = info.ullSamples / 8 + (info.ullSamples % 8 ? 1 : 0);
  ULONGLONG ullBlocks = cbPerChannel / info.dwBlockSize + (cbPerChannel % info.dwBlockSize ? 1 : 0);
  ULONGLONG ullBlocksInData = cbBlocks / info.dwBlockSize / info.dwChannels;
  if (ullBlocks > ullBlocksInData)
    return Fail(std::to_string(info.ullSamples) + " samples per channel need " + std::to_string(ullBlocks) +
                " blocks per channel; the data chunk holds " + std::to_string(ullBlocksInData));

  BYTE abMap[256];
  for (int v = 0; v < 256; ++v) abMap[v] = info.dwBitsPerSample == 1 ? Reversed(BYTE(v)) : BYTE(v);
  m_vvbChannels.assign(info.dwChannels, std::vector<BYTE>(size_t(cbPerChannel)));
  const BYTE* pbBlocks = pbData + kDataHeaderSize;
  for (ULONGLONG ullBlock = 0; ullBlock < ullBlocks; ++ullBlock) {
    ULONGLONG ibOut = ullBlock * info.dwBlockSize;
    size_t cbCopy = size_t(std::min<ULONGLONG>(info.dwBlockSize, cbPerChannel - ibOut));
    for (DWORD c = 0; c < info.dwChannels; ++c) {
      const BYTE* pbIn = pbBlocks + (ullBlock * info.dwChannels + c) * info.dwBlockSize;
      BYTE* pbOut = m_vvbChannels[c].data() + ibOut;
      for (size_t i = 0; i < cbCopy; ++i) pbOut[i] = abMap[pbIn[i]];
    }
  }
  m_info = info;
  return S_OK;
}

HRESULT CDsfFile::Load(const char* pszPath) {
  std::vector<BYTE> vb;
  std::string strError;
  if (FAILED(ReadWholeFile(pszPath, kLoadLimit, &vb, &strError))) return Fail(strError);
  return Parse(vb.data(), vb.size());
}

const std::vector<BYTE>& CDsfFile::Channel(UINT nChannel) const {
  static const std::vector<BYTE> kEmpty;
  return nChannel < m_vvbChannels.size() ? m_vvbChannels[nChannel] : kEmpty;
}

}  // namespace t32host
