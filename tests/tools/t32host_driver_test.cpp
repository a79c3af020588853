// The demo's road end to end with the real driver module: registered through "RegSvr32.exe",
// found by t32host, playing into the emulated Ternix-32 on its fast clock, and what the
// device received written to a WAV file. A WAV's samples come back bit for bit; a DSD64
// sine comes back as 88200 Hz PCM carrying the two sines at their frequencies and level.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/status_block_view.h"
#include "support/fresh_root.h"
#include "tools/dsdgen/signal_analysis.h"
#include "tools/t32host/wav_file.h"

namespace {

using t32host::CWavFile;
using t32host::WavFormat;

int RunCommand(const std::string& command, std::string* pOutput) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  pOutput->clear();
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) pOutput->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class DemoRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("T32_MODULE_PATH", T32_REGSVR32_FOLDER, 1);
    std::string out;
    ASSERT_EQ(RunCommand(std::string(T32_SHELLEXEC) + " --verb runas RegSvr32.exe '\"" + T32_DRIVER_MODULE + "\" /s'", &out), 0)
        << out;
  }
  std::string Host(const std::string& arguments) {
    return std::string(T32_HOST_PROGRAM) + " --emulate=20 --quiet " + arguments;
  }
  t32test::FreshRoot m_root;
};

TEST_F(DemoRoad, AWavFileArrivesBitForBitAndIsWrittenBack) {
  const size_t nFrames = 48000 / 2;
  WavFormat format{2, 48000, 24, 24, 0};
  std::vector<BYTE> vbData(nFrames * 6);
  uint32_t x = 12345;
  for (BYTE& b : vbData) {
    x = x * 1664525u + 1013904223u;
    b = BYTE(x >> 24);
  }
  std::string played = m_root.Path() + "/played.wav";
  std::string received = m_root.Path() + "/received.wav";
  ASSERT_EQ(t32host::WriteWavFile(played.c_str(), format, vbData.data(), vbData.size()), S_OK);
  std::string out;
  ASSERT_EQ(RunCommand(Host("--bits 24 --buffer 480 --record-wav " + received + " " + played), &out), 0) << out;
  EXPECT_NE(out.find("reset requests     0"), std::string::npos) << out;

  CWavFile file;
  ASSERT_EQ(file.Load(received.c_str()), S_OK) << file.Error();
  EXPECT_EQ(file.Format().dwSampleRate, 48000u);
  EXPECT_EQ(file.Format().wChannels, 2u);
  EXPECT_EQ(file.Format().wValidBits, 24u);
  // The output starts a whole number of buffers in (the packets queued ahead are silent),
  // then comes every sample of the file, then silence.
  ULONGLONG ullStart = 0;
  while (ullStart < file.FrameCount() && file.Sample(ullStart, 0) == 0 && file.Sample(ullStart, 1) == 0) ++ullStart;
  ASSERT_GE(file.FrameCount(), ullStart + nFrames);
  EXPECT_EQ(ullStart % 480, 0u) << ullStart;
  CWavFile original;
  ASSERT_EQ(original.Load(played.c_str()), S_OK);
  for (size_t f = 0; f < nFrames; ++f)
    for (UINT c = 0; c < 2; ++c)
      ASSERT_EQ(file.Sample(ullStart + f, c), original.Sample(f, c)) << "frame " << f << " channel " << c;
  for (ULONGLONG f = ullStart + nFrames; f < file.FrameCount(); ++f) ASSERT_EQ(file.Sample(f, 0), 0) << f;
}

TEST_F(DemoRoad, BitsReachADriverWhoseStatusBlockIsAlreadyLoaded) {
  // Someone (the panel, a watcher) holds a block whose preferences were loaded: the
  // driver then takes the block's bit depth, not the key's, so --bits must go there too.
  t32::CStatusBlockView view;
  BOOL bCreated = FALSE;
  ASSERT_TRUE(view.OpenOrCreate(&bCreated));
  view.Block()->SettingsLoaded = 1;
  view.Block()->PreferredBufferTime = 100;
  view.Block()->PreferredBits = 16;
  std::string out;
  ASSERT_EQ(RunCommand(Host("--bits 24 --duration 0.1"), &out), 0) << out;
  EXPECT_NE(out.find("at 48000 Hz, ASIOSTInt24LSB"), std::string::npos) << out;
  EXPECT_EQ(view.Block()->PreferredBits, 24u);
}

TEST_F(DemoRoad, ADsdSineArrivesAsPcmAt88200Hz) {
  // The analysis wants whole cycles in its record: an even number of them on the left
  // makes the right side's 1.5 times as many whole too.
  const size_t nSamples = 32768;
  const double dLeft = 372 * 88200.0 / nSamples;
  char frequency[32];
  std::snprintf(frequency, sizeof(frequency), "%.9f", dLeft);
  std::string received = m_root.Path() + "/dsd.wav";
  std::string out;
  ASSERT_EQ(RunCommand(Host(std::string("--dsd --duration 1 --level -6 --freq ") + frequency + " --record-wav " + received),
                &out),
            0)
      << out;
  CWavFile file;
  ASSERT_EQ(file.Load(received.c_str()), S_OK) << file.Error();
  EXPECT_EQ(file.Format().dwSampleRate, 88200u);
  EXPECT_EQ(file.Format().wValidBits, 32u);
  ASSERT_EQ(file.Format().wChannels, 2u);
  // Analyse samples from the middle of the sine.
  ASSERT_GE(file.FrameCount(), 88200u / 4 + nSamples);
  for (UINT c = 0; c < 2; ++c) {
    std::vector<double> vd(nSamples);
    for (size_t i = 0; i < nSamples; ++i) vd[i] = file.Sample(88200 / 4 + i, c) / 2147483648.0;
    double dFrequency = c ? dLeft * 1.5 : dLeft;
    SINE_ANALYSIS a = AnalyzeSine(vd.data(), nSamples, 88200.0, dFrequency);
    EXPECT_NEAR(a.dFrequency, dFrequency, 88200.0 / nSamples) << "channel " << c;
    EXPECT_NEAR(a.dLevelDb, -6.0, 0.5) << "channel " << c;
  }
}

}  // namespace
