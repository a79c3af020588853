// The host's file readers: WAV images written and read back in each supported format, DSF
// block layouts, and files whose sizes lie or whose chunks are cut, which must be refused
// with a reason rather than read past their end.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/t32host/dsf_file.h"
#include "tools/t32host/wav_file.h"

namespace {

using t32host::BuildWavImage;
using t32host::CDsfFile;
using t32host::CWavFile;
using t32host::WavFormat;

std::vector<BYTE> Noise(size_t cb, uint32_t uState) {
  std::vector<BYTE> vb(cb);
  for (BYTE& b : vb) {
    uState = uState * 1664525u + 1013904223u;
    b = BYTE(uState >> 24);
  }
  return vb;
}

void Put32(std::vector<BYTE>& vb, size_t ib, DWORD dw) {
  for (int i = 0; i < 4; ++i) vb[ib + i] = BYTE(dw >> (8 * i));
}
void Put16(std::vector<BYTE>& vb, size_t ib, WORD w) {
  vb[ib] = BYTE(w);
  vb[ib + 1] = BYTE(w >> 8);
}

TEST(WavFile, WrittenImagesReadBackSampleForSample) {
  struct Case {
    WORD wChannels, wBits, wValid;
    DWORD dwMask;
  } cases[] = {{1, 16, 16, 0}, {2, 16, 16, 0}, {2, 24, 24, 3}, {2, 32, 32, 0}, {6, 24, 20, 0x3F}, {2, 32, 24, 3}};
  for (const Case& c : cases) {
    WavFormat format;
    format.wChannels = c.wChannels;
    format.dwSampleRate = 48000;
    format.wContainerBits = c.wBits;
    format.wValidBits = c.wValid;
    format.dwChannelMask = c.dwMask;
    const size_t nFrames = 101;  // an odd count, so 24-bit mono data needs the pad byte
    std::vector<BYTE> vbData = Noise(nFrames * c.wChannels * c.wBits / 8, c.wBits + c.wChannels);
    std::vector<BYTE> vbImage;
    ASSERT_EQ(BuildWavImage(format, vbData.data(), vbData.size(), &vbImage), S_OK);
    CWavFile file;
    ASSERT_EQ(file.Parse(vbImage.data(), vbImage.size()), S_OK) << file.Error();
    SCOPED_TRACE(std::to_string(c.wChannels) + " channels, " + std::to_string(c.wBits) + " bits");
    EXPECT_EQ(file.Format().wChannels, c.wChannels);
    EXPECT_EQ(file.Format().dwSampleRate, 48000u);
    EXPECT_EQ(file.Format().wContainerBits, c.wBits);
    EXPECT_EQ(file.Format().wValidBits, c.wValid);
    EXPECT_EQ(file.Format().dwChannelMask, c.dwMask);
    ASSERT_EQ(file.FrameCount(), nFrames);
    UINT nBytes = c.wBits / 8;
    for (size_t f = 0; f < nFrames; ++f)
      for (UINT ch = 0; ch < c.wChannels; ++ch) {
        const BYTE* pb = &vbData[(f * c.wChannels + ch) * nBytes];
        DWORD expected = 0;
        for (UINT i = 0; i < nBytes; ++i) expected |= DWORD(pb[i]) << (8 * (4 - nBytes + i));
        ASSERT_EQ(DWORD(file.Sample(f, ch)), expected) << "frame " << f << " channel " << ch;
      }
    EXPECT_EQ(file.Sample(nFrames, 0), 0);
    EXPECT_EQ(file.Sample(0, c.wChannels), 0);
  }
}

TEST(WavFile, UnknownChunksAreSkippedAndAPartialLastFrameLeftOut) {
  WavFormat format{2, 44100, 16, 16, 0};
  std::vector<BYTE> vbData = Noise(4 * 10, 7);
  std::vector<BYTE> vbImage;
  ASSERT_EQ(BuildWavImage(format, vbData.data(), vbData.size(), &vbImage), S_OK);
  // An odd-sized LIST chunk (with its pad byte) before fmt, and three stray data bytes.
  std::vector<BYTE> vbList = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  vbImage.insert(vbImage.begin() + 12, vbList.begin(), vbList.end());
  size_t ibDataSize = vbImage.size() - vbData.size() - 4;
  vbImage.insert(vbImage.end(), {1, 2, 3, 0});
  Put32(vbImage, ibDataSize, DWORD(vbData.size() + 3));
  Put32(vbImage, 4, DWORD(vbImage.size() - 8));
  CWavFile file;
  ASSERT_EQ(file.Parse(vbImage.data(), vbImage.size()), S_OK) << file.Error();
  EXPECT_EQ(file.FrameCount(), 10u);
}

TEST(WavFile, MalformedFilesAreRefusedWithAReason) {
  WavFormat format{2, 48000, 24, 24, 0};
  std::vector<BYTE> vbData = Noise(6 * 20, 3);
  std::vector<BYTE> good;
  ASSERT_EQ(BuildWavImage(format, vbData.data(), vbData.size(), &good), S_OK);
  // The extensible header: fmt at 12 (40 bytes of body), data header at 60.
  ASSERT_EQ(good.size(), 68u + vbData.size());
  struct Case {
    const char* pszName;
    std::function<void(std::vector<BYTE>&)> fnBreak;
  } cases[] = {
      {"truncated file", [](std::vector<BYTE>& vb) { vb.resize(vb.size() - 1); }},
      {"cut inside the headers", [](std::vector<BYTE>& vb) { vb.resize(30); }},
      {"too short for RIFF", [](std::vector<BYTE>& vb) { vb.resize(11); }},
      {"not RIFF", [](std::vector<BYTE>& vb) { vb[0] = 'X'; }},
      {"not WAVE", [](std::vector<BYTE>& vb) { vb[8] = 'X'; }},
      {"RIFF size too small", [](std::vector<BYTE>& vb) { Put32(vb, 4, 3); }},
      {"RIFF size huge", [](std::vector<BYTE>& vb) { Put32(vb, 4, 0xFFFFFFFF); }},
      {"data size past the end", [](std::vector<BYTE>& vb) { Put32(vb, 64, 0xFFFFFFF0); }},
      {"fmt size past the end", [](std::vector<BYTE>& vb) { Put32(vb, 16, 0x7FFFFFFF); }},
      {"no data chunk", [](std::vector<BYTE>& vb) { vb[60] = 'x'; }},
      {"no fmt chunk", [](std::vector<BYTE>& vb) { vb[12] = 'x'; }},
      {"fmt too short", [](std::vector<BYTE>& vb) { Put32(vb, 16, 14); }},
      {"extensible fmt too short", [](std::vector<BYTE>& vb) { Put32(vb, 16, 16); }},
      {"float samples", [](std::vector<BYTE>& vb) { Put16(vb, 20, 3); }},
      {"unknown tag", [](std::vector<BYTE>& vb) { Put16(vb, 20, 0x55); }},
      {"non-PCM subformat", [](std::vector<BYTE>& vb) { vb[44] = 3; }},
      {"no channels", [](std::vector<BYTE>& vb) { Put16(vb, 22, 0); }},
      {"rate 0", [](std::vector<BYTE>& vb) { Put32(vb, 24, 0); }},
      {"block align wrong", [](std::vector<BYTE>& vb) { Put16(vb, 32, 5); }},
      {"8-bit samples", [](std::vector<BYTE>& vb) { Put16(vb, 34, 8); }},
      {"valid bits above the container", [](std::vector<BYTE>& vb) { Put16(vb, 38, 25); }},
      {"valid bits 0", [](std::vector<BYTE>& vb) { Put16(vb, 38, 0); }},
      {"two fmt chunks", [](std::vector<BYTE>& vb) {
         std::vector<BYTE> fmt(vb.begin() + 12, vb.begin() + 60);
         vb.insert(vb.begin() + 60, fmt.begin(), fmt.end());
         Put32(vb, 4, DWORD(vb.size() - 8));
       }},
  };
  for (const Case& c : cases) {
    std::vector<BYTE> vb = good;
    c.fnBreak(vb);
    CWavFile file;
    EXPECT_EQ(file.Parse(vb.data(), vb.size()), E_FAIL) << c.pszName;
    EXPECT_FALSE(file.Error().empty()) << c.pszName;
    EXPECT_EQ(file.FrameCount(), 0u) << c.pszName;
    EXPECT_EQ(file.Sample(0, 0), 0) << c.pszName;
  }
  CWavFile file;
  EXPECT_EQ(file.Parse(nullptr, 100), E_FAIL);
  EXPECT_EQ(file.Load("/nonexistent/t32host.wav"), E_FAIL);
  EXPECT_NE(file.Error().find("/nonexistent/t32host.wav"), std::string::npos);
}

TEST(WavFile, FormatsThatCannotBeWrittenAreRefused) {
  std::vector<BYTE> vb;
  BYTE data[6] = {};
  EXPECT_EQ(BuildWavImage(WavFormat{0, 48000, 16, 16, 0}, data, 0, &vb), E_INVALIDARG);
  EXPECT_EQ(BuildWavImage(WavFormat{2, 48000, 20, 20, 0}, data, 0, &vb), E_INVALIDARG);
  EXPECT_EQ(BuildWavImage(WavFormat{2, 48000, 16, 16, 0}, data, 6, &vb), E_INVALIDARG);  // not whole frames
  EXPECT_EQ(BuildWavImage(WavFormat{2, 48000, 16, 16, 0}, nullptr, 4, &vb), E_INVALIDARG);
}

// A DSF image: 'samples' one-bit samples per channel, channel c's byte i being
// Pattern(c, i) in the file's bit order.
BYTE Pattern(DWORD c, size_t i) { return BYTE(i * 7 + c * 91 + (i >> 8)); }

std::vector<BYTE> DsfImage(DWORD dwChannels, DWORD dwType, DWORD dwBits, ULONGLONG ullSamples, DWORD dwBlock,
                           ULONGLONG ullBlocksPerChannel) {
  std::vector<BYTE> vb(28 + 52 + 12 + dwChannels * dwBlock * ullBlocksPerChannel, 0);
  auto put64 = [&](size_t ib, ULONGLONG v) {
    Put32(vb, ib, DWORD(v));
    Put32(vb, ib + 4, DWORD(v >> 32));
  };
  std::memcpy(&vb[0], "DSD ", 4);
  put64(4, 28);
  put64(12, vb.size());
  std::memcpy(&vb[28], "fmt ", 4);
  put64(32, 52);
  Put32(vb, 40, 1);
  Put32(vb, 44, 0);
  Put32(vb, 48, dwType);
  Put32(vb, 52, dwChannels);
  Put32(vb, 56, 2822400);
  Put32(vb, 60, dwBits);
  put64(64, ullSamples);
  Put32(vb, 72, dwBlock);
  std::memcpy(&vb[80], "data", 4);
  put64(84, 12 + ULONGLONG(dwChannels) * dwBlock * ullBlocksPerChannel);
  size_t cbPerChannel = size_t((ullSamples + 7) / 8);
  for (DWORD c = 0; c < dwChannels; ++c)
    for (size_t i = 0; i < cbPerChannel; ++i)
      vb[92 + ((i / dwBlock) * dwChannels + c) * dwBlock + i % dwBlock] = Pattern(c, i);
  return vb;
}

BYTE Reverse(BYTE b) {
  BYTE r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1 << i)) r |= BYTE(0x80 >> i);
  return r;
}

TEST(DsfFile, BlocksAreDeinterleavedAndOneBitSamplesTurnedMostSignificantFirst) {
  struct Case {
    DWORD dwChannels, dwType, dwBits;
    ULONGLONG ullSamples;
    DWORD dwBlock;
  } cases[] = {
      {2, 2, 1, 4096 * 8 * 2 + 8 * 5 + 3, 4096},  // three blocks per channel, the last padded, a partial byte
      {1, 1, 1, 800, 4096},
      {2, 2, 8, 64 * 8, 64},  // MSB-first bytes are taken as they are
      {6, 7, 1, 8 * 300, 128},
  };
  for (const Case& c : cases) {
    ULONGLONG cbPerChannel = (c.ullSamples + 7) / 8;
    ULONGLONG ullBlocks = (cbPerChannel + c.dwBlock - 1) / c.dwBlock;
    std::vector<BYTE> vb = DsfImage(c.dwChannels, c.dwType, c.dwBits, c.ullSamples, c.dwBlock, ullBlocks);
    CDsfFile file;
    ASSERT_EQ(file.Parse(vb.data(), vb.size()), S_OK) << file.Error();
    EXPECT_EQ(file.Info().dwChannels, c.dwChannels);
    EXPECT_EQ(file.Info().dwSampleRate, 2822400u);
    EXPECT_EQ(file.Info().ullSamples, c.ullSamples);
    for (DWORD ch = 0; ch < c.dwChannels; ++ch) {
      const std::vector<BYTE>& v = file.Channel(ch);
      ASSERT_EQ(v.size(), cbPerChannel);
      for (size_t i = 0; i < v.size(); ++i) {
        BYTE expected = c.dwBits == 1 ? Reverse(Pattern(ch, i)) : Pattern(ch, i);
        ASSERT_EQ(v[i], expected) << "channel " << ch << " byte " << i;
      }
    }
    EXPECT_TRUE(file.Channel(c.dwChannels).empty());
  }
}

TEST(DsfFile, MalformedFilesAreRefusedWithAReason) {
  const std::vector<BYTE> good = DsfImage(2, 2, 1, 4096 * 8, 4096, 1);
  CDsfFile check;
  ASSERT_EQ(check.Parse(good.data(), good.size()), S_OK) << check.Error();
  auto put64 = [](std::vector<BYTE>& vb, size_t ib, ULONGLONG v) {
    Put32(vb, ib, DWORD(v));
    Put32(vb, ib + 4, DWORD(v >> 32));
  };
  struct Case {
    const char* pszName;
    std::function<void(std::vector<BYTE>&)> fnBreak;
  } cases[] = {
      {"truncated file", [](std::vector<BYTE>& vb) { vb.resize(vb.size() - 1); }},
      {"cut in the headers", [](std::vector<BYTE>& vb) { vb.resize(60); }},
      {"not DSF", [](std::vector<BYTE>& vb) { vb[0] = 'X'; }},
      {"DSD chunk size", [&](std::vector<BYTE>& vb) { put64(vb, 4, 29); }},
      {"file size too small", [&](std::vector<BYTE>& vb) { put64(vb, 12, 20); }},
      {"fmt missing", [](std::vector<BYTE>& vb) { vb[28] = 'x'; }},
      {"fmt size short", [&](std::vector<BYTE>& vb) { put64(vb, 32, 40); }},
      {"fmt size huge", [&](std::vector<BYTE>& vb) { put64(vb, 32, ~0ull - 10); }},
      {"version", [](std::vector<BYTE>& vb) { Put32(vb, 40, 2); }},
      {"format id", [](std::vector<BYTE>& vb) { Put32(vb, 44, 1); }},
      {"channel type against count", [](std::vector<BYTE>& vb) { Put32(vb, 48, 1); }},
      {"channel type unknown", [](std::vector<BYTE>& vb) { Put32(vb, 48, 8); }},
      {"no channels", [](std::vector<BYTE>& vb) { Put32(vb, 52, 0); }},
      {"rate", [](std::vector<BYTE>& vb) { Put32(vb, 56, 48000); }},
      {"bits per sample", [](std::vector<BYTE>& vb) { Put32(vb, 60, 4); }},
      {"more samples than blocks", [&](std::vector<BYTE>& vb) { put64(vb, 64, 4096 * 8 + 1); }},
      {"a sample count that would overflow", [&](std::vector<BYTE>& vb) { put64(vb, 64, ~0ull); }},
      {"block size 0", [](std::vector<BYTE>& vb) { Put32(vb, 72, 0); }},
      {"block size huge", [](std::vector<BYTE>& vb) { Put32(vb, 72, 0x7FFFFFFF); }},
      {"data missing", [](std::vector<BYTE>& vb) { vb[80] = 'x'; }},
      {"data size past the end", [&](std::vector<BYTE>& vb) { put64(vb, 84, 13 + 2 * 4096); }},
      {"data size below its header", [&](std::vector<BYTE>& vb) { put64(vb, 84, 11); }},
  };
  for (const Case& c : cases) {
    std::vector<BYTE> vb = good;
    c.fnBreak(vb);
    CDsfFile file;
    EXPECT_EQ(file.Parse(vb.data(), vb.size()), E_FAIL) << c.pszName;
    EXPECT_FALSE(file.Error().empty()) << c.pszName;
    EXPECT_TRUE(file.Channel(0).empty()) << c.pszName;
  }
}

}  // namespace
