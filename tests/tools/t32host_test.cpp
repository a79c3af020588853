// The host against a fake driver module registered the way the real driver registers:
// found through the registry, created through COM, driven through one playback. What the
// host wrote must reach the driver in the driver's sample type bit for bit; the report must
// show what the driver did; reset requests, stalls and refusals end the run cleanly. The
// t32host program itself is run for its command line and exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/test_hooks.h"
#include "support/fresh_root.h"
#include "tools/t32host/asio_host.h"
#include "tools/t32host/dsf_file.h"
#include "tools/t32host/sample_format.h"
#include "tools/t32host/signal_source.h"
#include "tools/t32host/wav_file.h"

namespace {

using namespace t32host;

typedef BOOL (*FakeOutputProc)(LONG, std::vector<BYTE>*);
typedef void (*FakeCallsProc)(std::string*);
typedef LONG (*FakeLiveProc)();
typedef HRESULT (*RegisterProc)();

const char* const kFakeVariables[] = {"T32_FAKE_ASIO_INPUTS", "T32_FAKE_ASIO_OUTPUTS", "T32_FAKE_ASIO_SPEED",
                                      "T32_FAKE_ASIO_RESET_AFTER", "T32_FAKE_ASIO_STALL_AFTER",
                                      "T32_FAKE_ASIO_FAIL_INIT"};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* psz : kFakeVariables) unsetenv(psz);
    m_hFake = LoadLibraryA(T32_FAKE_ASIO);
    ASSERT_NE(m_hFake, nullptr);
    m_pfnOutput = reinterpret_cast<FakeOutputProc>(GetProcAddress(m_hFake, "FakeAsioOutput"));
    m_pfnCalls = reinterpret_cast<FakeCallsProc>(GetProcAddress(m_hFake, "FakeAsioCalls"));
    m_pfnLive = reinterpret_cast<FakeLiveProc>(GetProcAddress(m_hFake, "FakeAsioLiveObjects"));
    auto pfnRegister = reinterpret_cast<RegisterProc>(GetProcAddress(m_hFake, "DllRegisterServer"));
    ASSERT_TRUE(m_pfnOutput && m_pfnCalls && m_pfnLive && pfnRegister);
    ASSERT_EQ(pfnRegister(), S_OK);
    std::string calls;
    m_pfnCalls(&calls);
  }
  void TearDown() override {
    for (const char* psz : kFakeVariables) unsetenv(psz);
    if (m_hFake) FreeLibrary(m_hFake);
  }

  static void SetBits(DWORD dwBits) {
    HKEY hKey;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ASIO\\Ternix32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &hKey, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(hKey, "BitsPerSample", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwBits), 4);
    RegCloseKey(hKey);
  }

  // Loads, prepares and runs ullFrames of the source; returns Run's result.
  HRESULT Play(CAsioHost& host, const CSignalSource& source, ULONGLONG ullFrames, HostSettings settings = {}) {
    HRESULT hr = host.Load("Ternix32");
    if (SUCCEEDED(hr)) hr = host.Init();
    if (SUCCEEDED(hr)) hr = host.Prepare(settings);
    if (SUCCEEDED(hr)) hr = host.Run(source, ullFrames, nullptr);
    return hr;
  }

  std::vector<BYTE> Output(LONG lChannel) {
    std::vector<BYTE> vb;
    EXPECT_TRUE(m_pfnOutput(lChannel, &vb));
    return vb;
  }

  t32test::FreshRoot m_root;
  HMODULE m_hFake = nullptr;
  FakeOutputProc m_pfnOutput = nullptr;
  FakeCallsProc m_pfnCalls = nullptr;
  FakeLiveProc m_pfnLive = nullptr;
};

std::shared_ptr<CWavFile> MakeWav(WORD wChannels, WORD wBits, size_t nFrames) {
  WavFormat format{wChannels, 48000, wBits, wBits, 0};
  std::vector<BYTE> vbData(nFrames * wChannels * wBits / 8);
  uint32_t x = wBits * 7919u + wChannels;
  for (BYTE& b : vbData) {
    x = x * 1664525u + 1013904223u;
    b = BYTE(x >> 24);
  }
  std::vector<BYTE> vbImage;
  EXPECT_EQ(BuildWavImage(format, vbData.data(), vbData.size(), &vbImage), S_OK);
  auto pFile = std::make_shared<CWavFile>();
  EXPECT_EQ(pFile->Parse(vbImage.data(), vbImage.size()), S_OK);
  return pFile;
}

TEST_F(HostTest, WavSamplesReachTheDriverInItsSampleTypeBitForBit) {
  const size_t nFrames = 2000;  // four buffers and a part
  for (DWORD dwDriverBits : {16u, 24u, 32u}) {
    SetBits(dwDriverBits);
    for (WORD wChannels : {WORD(1), WORD(2)}) {
      for (WORD wFileBits : {WORD(16), WORD(24), WORD(32)}) {
        SCOPED_TRACE(std::to_string(wFileBits) + "-bit file, " + std::to_string(wChannels) + " channels, driver " +
                     std::to_string(dwDriverBits) + " bits");
        auto pFile = MakeWav(wChannels, wFileBits, nFrames);
        CWavSource source(pFile, "test.wav");
        CAsioHost host;
        ASSERT_EQ(Play(host, source, kEndless), S_OK) << host.Error();
        const HostReport& r = host.Report();
        EXPECT_EQ(r.ullFramesPlayed, nFrames);
        ASIOSampleType type = r.outputType;
        UINT nBytes = PcmSampleBytes(type);
        EXPECT_EQ(nBytes * 8, dwDriverBits);
        host.Unload();
        for (LONG c = 0; c < 2; ++c) {
          std::vector<BYTE> vb = Output(c);
          ASSERT_GE(vb.size(), nFrames * nBytes);
          for (size_t f = 0; f < nFrames; ++f) {
            BYTE expected[4];
            StorePcmSample(pFile->Sample(f, wChannels == 1 ? 0 : UINT(c)), type, expected);
            ASSERT_EQ(0, std::memcmp(&vb[f * nBytes], expected, nBytes)) << "channel " << c << " frame " << f;
          }
          // After the file, silence to the end of the last buffer and through the tail.
          for (size_t i = nFrames * nBytes; i < vb.size(); ++i) ASSERT_EQ(vb[i], 0) << "byte " << i;
        }
      }
    }
  }
}

TEST_F(HostTest, ReportShowsPositionsFlagsAndTheCallsInProtocolOrder) {
  for (bool bTimeInfo : {true, false}) {
    SCOPED_TRACE(bTimeInfo ? "with time info" : "without time info");
    CSineSource source(48000, 1000, -6, kEndless);
    CAsioHost host;
    HostSettings settings;
    settings.dSampleRate = 44100;
    settings.lBufferSize = 441;
    settings.bTimeInfo = bTimeInfo;
    ASSERT_EQ(Play(host, source, 441 * 20, settings), S_OK) << host.Error();
    const HostReport& r = host.Report();
    EXPECT_EQ(r.strDriverName, "Fake Ternix32");
    EXPECT_EQ(r.lDriverVersion, 7);
    EXPECT_EQ(r.strClockSource, "Fake clock");
    EXPECT_EQ(r.dSampleRate, 44100.0);
    EXPECT_EQ(r.lActiveOutputs, 2);
    EXPECT_EQ(r.lActiveInputs, 2);
    // 20 buffers of the sine, then a tail of silence for the output latency.
    EXPECT_GE(r.nBufferSwitches, 20u);
    EXPECT_EQ(r.vullFirstPositions, (std::vector<ULONGLONG>{0, 441, 882, 1323, 1764, 2205, 2646, 3087}));
    EXPECT_EQ(r.ullLastPosition, ULONGLONG(r.nBufferSwitches - 1) * 441);
    EXPECT_EQ(r.nIrregularSteps, 0u);
    EXPECT_EQ(r.nPositionsUnknown, 0u);
    EXPECT_EQ(r.nResetRequests, 0u);
    if (bTimeInfo) {
      // The first buffer switch after the rate change carries kSampleRateChanged.
      ASSERT_EQ(r.vFlags.size(), 2u);
      EXPECT_EQ(r.vFlags[0], std::make_pair(ULONG(0x17), ULONG(1)));
      EXPECT_EQ(r.vFlags[1], std::make_pair(ULONG(0x7), r.nBufferSwitches - 1));
      EXPECT_EQ(r.nTimeInfoSwitches, r.nBufferSwitches);
    } else {
      EXPECT_TRUE(r.vFlags.empty());
      EXPECT_EQ(r.nTimeInfoSwitches, 0u);
    }
    EXPECT_NE(std::find(r.vlSelectorsAsked.begin(), r.vlSelectorsAsked.end(), kAsioEngineVersion),
              r.vlSelectorsAsked.end());
    EXPECT_TRUE(r.bInputAnalysed);
    EXPECT_GT(r.lInputPeak, 0);
    host.Unload();
    EXPECT_EQ(m_pfnLive(), 0);
    std::string calls;
    m_pfnCalls(&calls);
    EXPECT_EQ(calls, "init,setSampleRate,createBuffers,start,stop,disposeBuffers,Release");
  }
}

TEST_F(HostTest, DsdBytesReachTheDriverUnchangedAtTheDsdRate) {
  const ULONGLONG ullSamples = 28224 * 3 + 800;
  std::vector<std::vector<BYTE>> vvb(2);
  for (size_t c = 0; c < 2; ++c)
    for (size_t i = 0; i < ullSamples / 8; ++i) vvb[c].push_back(BYTE(i * 13 + c * 101));
  CDsdSource source(vvb, ullSamples, 2822400, "dsd test bytes");
  CAsioHost host;
  HostSettings settings;
  settings.bDsd = true;
  ASSERT_EQ(Play(host, source, kEndless, settings), S_OK) << host.Error();
  const HostReport& r = host.Report();
  EXPECT_EQ(r.dSampleRate, 2822400.0);
  EXPECT_EQ(r.outputType, ASIOSTDSDInt8MSB1);
  EXPECT_EQ(r.lBufferSize, 28224);
  EXPECT_EQ(r.eSetDsdFormat, ASE_SUCCESS);
  EXPECT_FALSE(r.bInputAnalysed);
  host.Unload();
  std::string calls;
  m_pfnCalls(&calls);
  EXPECT_EQ(calls, "init,setIoFormat,setSampleRate,createBuffers,start,stop,disposeBuffers,Release");
  for (LONG c = 0; c < 2; ++c) {
    std::vector<BYTE> vb = Output(c);
    ASSERT_GE(vb.size(), vvb[c].size());
    EXPECT_TRUE(std::equal(vvb[c].begin(), vvb[c].end(), vb.begin())) << "channel " << c;
    for (size_t i = vvb[c].size(); i < vb.size(); ++i) ASSERT_EQ(vb[i], kDsdSilence) << "byte " << i;
  }
}

TEST_F(HostTest, AResetRequestStopsTheRunAndAStallEndsIt) {
  CSineSource source(48000, 1000, -6, kEndless);
  {
    setenv("T32_FAKE_ASIO_RESET_AFTER", "5", 1);
    CAsioHost host;
    ASSERT_EQ(Play(host, source, 48000 * 60), S_OK) << host.Error();
    EXPECT_EQ(host.Report().nResetRequests, 1u);
    EXPECT_TRUE(host.Report().bResetStopped);
    EXPECT_EQ(host.Report().nBufferSwitches, 5u);
    host.Unload();
    EXPECT_EQ(m_pfnLive(), 0);
  }
  {
    unsetenv("T32_FAKE_ASIO_RESET_AFTER");
    setenv("T32_FAKE_ASIO_STALL_AFTER", "3", 1);
    CAsioHost host;
    HostSettings settings;
    settings.dwStallMs = 200;
    EXPECT_EQ(Play(host, source, 48000 * 60, settings), E_FAIL);
    EXPECT_TRUE(host.Report().bStalled);
    EXPECT_EQ(host.Report().nBufferSwitches, 3u);
    EXPECT_NE(host.Error().find("no buffer switch"), std::string::npos) << host.Error();
    host.Unload();
    EXPECT_EQ(m_pfnLive(), 0);
  }
}

TEST_F(HostTest, RefusalsEndWithAReasonAndReleaseTheDriver) {
  CSineSource sine(48000, 1000, -6, kEndless);
  struct Case {
    const char* pszName;
    std::function<void()> fnArrange;
    HostSettings settings;
    const char* pszReason;
  } cases[] = {
      {"init fails", [] { setenv("T32_FAKE_ASIO_FAIL_INIT", "1", 1); }, {}, "the fake was told to fail"},
      {"a rate the driver cannot run", [] {}, HostSettings{22050}, "cannot run 22050 Hz"},
      {"a buffer the driver refuses", [] {}, HostSettings{48000, false, 5}, "createBuffers"},
      {"no outputs", [] { setenv("T32_FAKE_ASIO_OUTPUTS", "0", 1); }, {}, "no output channels"},
      {"a DSD buffer of part bytes", [] {}, HostSettings{0, true, 28227}, "multiple of 8"},
  };
  for (const Case& c : cases) {
    for (const char* psz : kFakeVariables) unsetenv(psz);
    c.fnArrange();
    CAsioHost host;
    EXPECT_EQ(host.Load("Ternix32"), S_OK);
    HRESULT hr = host.Init();
    if (SUCCEEDED(hr)) hr = host.Prepare(c.settings);
    EXPECT_TRUE(FAILED(hr)) << c.pszName;
    EXPECT_NE(host.Error().find(c.pszReason), std::string::npos) << c.pszName << ": " << host.Error();
    host.Unload();
    EXPECT_EQ(m_pfnLive(), 0) << c.pszName;
  }
  // A PCM source cannot play in DSD mode.
  for (const char* psz : kFakeVariables) unsetenv(psz);
  CAsioHost host;
  HostSettings dsd;
  dsd.bDsd = true;
  EXPECT_EQ(Play(host, sine, 1000, dsd), E_INVALIDARG);
}

TEST_F(HostTest, TheDriverIsFoundOnlyThroughItsRegistration) {
  CAsioHost host;
  EXPECT_EQ(host.Load("NoSuchDriver"), REGDB_E_CLASSNOTREG);
  EXPECT_NE(host.Error().find("Software\\ASIO\\NoSuchDriver"), std::string::npos) << host.Error();

  HKEY hKey;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Broken", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(hKey, "CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>("{not a guid}"), 13);
  RegCloseKey(hKey);
  EXPECT_EQ(host.Load("Broken"), CO_E_CLASSSTRING);

  // A registration whose class key is gone: COM cannot find the module.
  GUID clsid;
  CoCreateGuid(&clsid);
  WCHAR text[39];
  StringFromGUID2(clsid, text, 39);
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\ASIO\\Stale", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
  RegSetValueExW(hKey, L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
  RegCloseKey(hKey);
  EXPECT_EQ(host.Load("Stale"), REGDB_E_CLASSNOTREG);
  EXPECT_NE(host.Error().find("0x80040154"), std::string::npos) << host.Error();
}

// Runs the t32host program; returns its exit code and output.
int RunHost(const std::string& arguments, std::string* pOutput) {
  std::string command = std::string(T32_HOST_PROGRAM) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  pOutput->clear();
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) pOutput->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HostTest, TheProgramPlaysFilesAndSinesAndSaysHowItEnded) {
  std::string out;
  EXPECT_EQ(RunHost("--quiet --duration 0.1 --rate 96000 --bits 16 --buffer 960", &out), 0) << out;
  EXPECT_NE(out.find("ASIOSTInt16LSB, buffers of 960 frames (10.0 ms)"), std::string::npos) << out;
  EXPECT_NE(out.find("sample positions   0, 960, 1920"), std::string::npos) << out;
  EXPECT_NE(out.find("reset requests     0"), std::string::npos) << out;

  // A WAV file plays at its own rate; a malformed one is refused with its reason.
  auto pFile = MakeWav(2, 24, 4800);
  std::string wav = m_root.Path() + "/tone.wav";
  std::vector<BYTE> vbData(4800 * 6, 0x11);
  ASSERT_EQ(WriteWavFile(wav.c_str(), pFile->Format(), vbData.data(), vbData.size()), S_OK);
  EXPECT_EQ(RunHost("--quiet \"" + wav + "\"", &out), 0) << out;
  EXPECT_NE(out.find("frames played      4800 (0.10 s)"), std::string::npos) << out;
  std::string bad = m_root.Path() + "/bad.wav";
  FILE* file = fopen(bad.c_str(), "wb");
  fputs("RIFF\xff\xff\xff\x7fWAVE", file);
  fclose(file);
  EXPECT_EQ(RunHost("\"" + bad + "\"", &out), 1) << out;
  EXPECT_NE(out.find("truncated"), std::string::npos) << out;

  setenv("T32_FAKE_ASIO_RESET_AFTER", "4", 1);
  EXPECT_EQ(RunHost("--quiet --duration 10", &out), 3) << out;
  EXPECT_NE(out.find("reset requests     1 (the run stopped on it)"), std::string::npos) << out;
  unsetenv("T32_FAKE_ASIO_RESET_AFTER");

  EXPECT_EQ(RunHost("--bits 20", &out), 2) << out;
  EXPECT_EQ(RunHost("--record-wav x.wav", &out), 2) << out;
  EXPECT_EQ(RunHost("--quiet --driver Absent", &out), 1) << out;
  EXPECT_NE(out.find("no ASIO driver \"Absent\" is registered"), std::string::npos) << out;
}

}  // namespace
