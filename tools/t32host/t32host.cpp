// t32host: an ASIO host for the demo and the tests. It finds the driver through the
// registry as hosts do, plays a WAV file, a DSF file (DSD64, in DSD mode) or a generated
// sine, shows a progress line and reports what happened.
//
//   t32host [options] [FILE]
//
// With --emulate it plugs the emulated Ternix-32 into its own process first, and with
// --record-wav it writes what that device received to a WAV file afterwards.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/registry_names.h"
#include "common/status_block_view.h"
#include "emulator/emulated_device.h"
#include "tools/dsdgen/dsd_generator.h"
#include "tools/t32host/asio_host.h"
#include "tools/t32host/dsf_file.h"
#include "tools/t32host/sample_format.h"
#include "tools/t32host/wav_file.h"

namespace {

using namespace t32host;

enum ExitCode { kExitPlayed = 0, kExitFailed = 1, kExitUsage = 2, kExitReset = 3 };

struct Options {
  std::string strFile;
  std::string strDriver = "Ternix32";
  bool bDsd = false;
  double dRate = 0;
  DWORD dwBits = 0;
  LONG lBufferSize = 0;
  double dSeconds = 0;
  double dFrequency = 1000;
  double dLevelDb = -6;
  bool bInputs = true;
  bool bTimeInfo = true;
  bool bEmulate = false;
  double dSpeed = 1.0;
  t32emu::CaptureSource eCapture = t32emu::CaptureSource::kLoopback;
  std::string strRecordWav;
  bool bQuiet = false;
};

int Usage(const char* pszWhy) {
  if (pszWhy) std::fprintf(stderr, "t32host: %s\n", pszWhy);
  std::fprintf(stderr,
               "usage: t32host [options] [FILE]\n"
               "  FILE               a WAV file (16/24/32-bit PCM) or a DSF file (DSD64); without one a sine\n"
               "  --driver NAME      the driver's name under HKEY_LOCAL_MACHINE\\Software\\ASIO (Ternix32)\n"
               "  --dsd              play the generated signal as DSD64 (2822400 Hz, one-bit buffers)\n"
               "  --rate HZ          rate of the generated sine (48000); a file plays at its own rate\n"
               "  --bits N           preferred bits per sample (16, 24, 32), given to the driver as the panel does\n"
               "  --buffer FRAMES    frames per buffer half (the driver's preferred size)\n"
               "  --duration SECONDS how long to play (5 for a generated signal, the whole file otherwise)\n"
               "  --freq HZ          sine frequency on the left, 1.5 times it on the right (1000)\n"
               "  --level DB         sine level in dB below full scale (-6; DSD: at most -3)\n"
               "  --no-inputs        create no input buffers\n"
               "  --no-time-info     tell the driver time info is not supported (plain bufferSwitch)\n"
               "  --emulate[=SPEED]  plug the emulated Ternix-32 into this process, SPEED x real time (1)\n"
               "  --capture SOURCE   what the emulated device records: silence, signal, loopback (loopback)\n"
               "  --record-wav PATH  write what the emulated device received to a WAV file (with --emulate)\n"
               "  --quiet            no progress line\n"
               "exit codes: 0 played, 1 failed, 2 bad command line, 3 stopped by a reset request\n");
  return kExitUsage;
}

bool ParseNumber(const char* psz, double dMin, double dMax, double* pd) {
  char* pEnd = nullptr;
  double d = std::strtod(psz, &pEnd);
  if (!psz[0] || *pEnd || !(d >= dMin && d <= dMax)) return false;
  *pd = d;
  return true;
}

bool EndsWith(const std::string& s, const char* pszTail) {
  size_t n = std::strlen(pszTail);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, pszTail) == 0;
}

// Hands the preferred bit depth to the driver the way the control panel does: in the
// settings key, and in the shared status block when one exists (a driver takes the
// block's value over the key's once the block has been loaded).
void SetPreferredBits(DWORD dwBits) {
  HKEY hKey;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, t32::kAsioDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                      nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(hKey, t32::kValueBitsPerSample, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwBits), 4);
    RegCloseKey(hKey);
  }
  t32::CStatusBlockView view;
  if (view.OpenExisting() && view.IsValid()) t32::CStatusBlockView::Store(&view.Block()->PreferredBits, dwBits);
}

std::string Join(const std::vector<ULONGLONG>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
  return s;
}

void PrintSetup(const HostReport& r, const CSignalSource& source) {
  std::printf("t32host: driver \"%s\" version %d, clock source \"%s\"\n", r.strDriverName.c_str(),
              static_cast<int>(r.lDriverVersion), r.strClockSource.c_str());
  std::string rates;
  for (double d : r.vdRates) rates += " " + std::to_string(static_cast<long long>(d));
  std::printf("t32host: rates it accepts:%s\n", rates.empty() ? " none" : rates.c_str());
  std::printf("t32host: %d inputs, %d outputs; buffer sizes min %d, max %d, preferred %d, granularity %d\n",
              static_cast<int>(r.lInputChannels), static_cast<int>(r.lOutputChannels), static_cast<int>(r.lMinSize),
              static_cast<int>(r.lMaxSize), static_cast<int>(r.lPreferredSize), static_cast<int>(r.lGranularity));
  for (const ChannelReport& c : r.vChannels)
    std::printf("  %s %d  \"%s\"  group %d  %s  %s\n", c.info.isInput ? "input " : "output", static_cast<int>(c.info.channel),
                c.info.name, static_cast<int>(c.info.channelGroup), SampleTypeName(c.info.type).c_str(),
                c.info.isActive ? "active" : "inactive");
  std::printf("t32host: playing %s\n", source.Describe().c_str());
  std::printf("t32host: at %.0f Hz, %s, buffers of %d frames (%.1f ms), latencies: input %d, output %d frames\n",
              r.dSampleRate, SampleTypeName(r.outputType).c_str(), static_cast<int>(r.lBufferSize),
              r.lBufferSize * 1000.0 / r.dSampleRate, static_cast<int>(r.lInputLatency),
              static_cast<int>(r.lOutputLatency));
  std::fflush(stdout);
}

void PrintReport(const HostReport& r) {
  std::printf("t32host: report\n");
  std::printf("  buffer switches    %u (%u with time info)\n", r.nBufferSwitches, r.nTimeInfoSwitches);
  std::printf("  frames played      %llu (%.2f s)\n", static_cast<unsigned long long>(r.ullFramesPlayed),
              r.ullFramesPlayed / r.dSampleRate);
  std::printf("  sample positions   %s%s last %llu", Join(r.vullFirstPositions).c_str(),
              r.nBufferSwitches > r.vullFirstPositions.size() ? ", ...," : ";",
              static_cast<unsigned long long>(r.ullLastPosition));
  if (r.nIrregularSteps == 0)
    std::printf(" (every step %d)\n", static_cast<int>(r.lBufferSize));
  else
    std::printf(" (%u steps other than %d, the first from %llu to %llu)\n", r.nIrregularSteps,
                static_cast<int>(r.lBufferSize), static_cast<unsigned long long>(r.ullFirstIrregularFrom),
                static_cast<unsigned long long>(r.ullFirstIrregularTo));
  if (r.nPositionsUnknown) std::printf("  positions unknown  %u buffer switches\n", r.nPositionsUnknown);
  std::string flags;
  for (const auto& kind : r.vFlags) {
    char text[48];
    std::snprintf(text, sizeof(text), "%s0x%X x%u", flags.empty() ? "" : ", ", kind.first, kind.second);
    flags += text;
  }
  std::printf("  time info flags    %s\n", flags.empty() ? "none (plain bufferSwitch)" : flags.c_str());
  std::printf("  reset requests     %u%s\n", r.nResetRequests, r.bResetStopped ? " (the run stopped on it)" : "");
  if (r.nResyncRequests || r.nLatencyChanges || r.nRateChanges)
    std::printf("  other messages     resync %u, latencies changed %u, sample rate changed %u\n", r.nResyncRequests,
                r.nLatencyChanges, r.nRateChanges);
  if (r.nBadIndexes) std::printf("  bad buffer indexes %u\n", r.nBadIndexes);
  if (r.bInputAnalysed && r.lInputPeak)
    std::printf("  input peak         %.1f dBFS\n", 20 * std::log10(r.lInputPeak / 2147483648.0));
  else if (r.bInputAnalysed)
    std::printf("  input peak         silence\n");
}

int Run(const Options& o) {
  std::unique_ptr<t32emu::CEmulatedDevice> pDevice;
  if (o.bEmulate) {
    t32emu::DeviceDescription desc = t32emu::Ternix32Description();
    desc.dClockSpeed = o.dSpeed;
    desc.eCaptureSource = o.eCapture;
    pDevice = t32emu::Plug(desc);
    std::printf("t32host: the emulated Ternix-32 is plugged in (clock %g x real time)\n", o.dSpeed);
  }
  if (o.dwBits) SetPreferredBits(o.dwBits);

  // The source, and with it the mode and the rate.
  std::unique_ptr<CSignalSource> pSource;
  bool bDsd = o.bDsd;
  double dRate = o.dRate;
  if (EndsWith(o.strFile, ".dsf")) {
    auto pFile = std::make_unique<CDsfFile>();
    if (FAILED(pFile->Load(o.strFile.c_str()))) {
      std::fprintf(stderr, "t32host: %s: %s\n", o.strFile.c_str(), pFile->Error().c_str());
      return kExitFailed;
    }
    const DsfInfo& info = pFile->Info();
    if (info.dwSampleRate != 2822400) {
      std::fprintf(stderr, "t32host: %s is DSD at %u Hz; the driver plays DSD64 (2822400 Hz) only\n",
                   o.strFile.c_str(), info.dwSampleRate);
      return kExitFailed;
    }
    std::vector<std::vector<BYTE>> vvb;
    for (UINT c = 0; c < info.dwChannels; ++c) vvb.push_back(pFile->Channel(c));
    char text[96];
    std::snprintf(text, sizeof(text), " (DSD64, %u channels, %.1f s)", info.dwChannels, info.ullSamples / 2822400.0);
    pSource = std::make_unique<CDsdSource>(std::move(vvb), info.ullSamples, info.dwSampleRate, o.strFile + text);
    bDsd = true;
  } else if (!o.strFile.empty()) {
    auto pFile = std::make_shared<CWavFile>();
    if (FAILED(pFile->Load(o.strFile.c_str()))) {
      std::fprintf(stderr, "t32host: %s: %s\n", o.strFile.c_str(), pFile->Error().c_str());
      return kExitFailed;
    }
    if (dRate > 0 && dRate != pFile->Format().dwSampleRate) {
      std::fprintf(stderr, "t32host: %s is at %u Hz; it cannot play at %.0f Hz (no resampling)\n", o.strFile.c_str(),
                   pFile->Format().dwSampleRate, dRate);
      return kExitFailed;
    }
    dRate = pFile->Format().dwSampleRate;
    pSource = std::make_unique<CWavSource>(pFile, o.strFile);
  } else if (bDsd) {
    // A sine on each side as DSD64, made by the sigma-delta modulator of the test-signal
    // generator; as long as asked for (5 s unless told otherwise).
    double dLength = o.dSeconds > 0 ? o.dSeconds : 5.0;
    ULONGLONG ullSamples = ULONGLONG(dLength * 2822400 + 0.5) & ~7ull;
    std::vector<std::vector<BYTE>> vvb;
    for (double dFrequency : {o.dFrequency, o.dFrequency * 1.5}) {
      std::vector<uint8_t> vb = DsdSine(dFrequency, o.dLevelDb, size_t(ullSamples / 8));
      vvb.emplace_back(vb.begin(), vb.end());
    }
    char text[128];
    std::snprintf(text, sizeof(text), "DSD64 sine %.0f Hz left, %.0f Hz right, %.1f dBFS", o.dFrequency,
                  o.dFrequency * 1.5, o.dLevelDb);
    pSource = std::make_unique<CDsdSource>(std::move(vvb), ullSamples, 2822400, text);
  } else {
    if (dRate <= 0) dRate = 48000;
    pSource = std::make_unique<CSineSource>(DWORD(dRate), o.dFrequency, o.dLevelDb, kEndless);
  }
  double dSeconds = o.dSeconds > 0 ? o.dSeconds : (pSource->FrameCount() == kEndless ? 5.0 : 0);
  ULONGLONG ullFrames = dSeconds > 0 ? ULONGLONG(dSeconds * pSource->SampleRate() + 0.5) : pSource->FrameCount();

  CAsioHost host;
  HostSettings settings;
  settings.dSampleRate = bDsd ? 0 : dRate;
  settings.bDsd = bDsd;
  settings.lBufferSize = o.lBufferSize;
  settings.bInputs = o.bInputs;
  settings.bTimeInfo = o.bTimeInfo;
  HRESULT hr = host.Load(o.strDriver.c_str());
  if (SUCCEEDED(hr)) hr = host.Init();
  if (SUCCEEDED(hr)) hr = host.Prepare(settings);
  if (FAILED(hr)) {
    std::fprintf(stderr, "t32host: %s\n", host.Error().c_str());
    return kExitFailed;
  }
  PrintSetup(host.Report(), *pSource);

  bool bProgress = !o.bQuiet;
  bool bTerminal = isatty(STDOUT_FILENO);
  DWORD dwLastLine = 0;
  auto fnProgress = [&](const Progress& p) {
    if (!bProgress) return;
    double dRateNow = host.Report().dSampleRate;
    DWORD dwNow = GetTickCount();
    if (!bTerminal && dwNow - dwLastLine < 1000) return;
    dwLastLine = dwNow;
    std::printf("%s  %6.2f / %.2f s   buffer switches %6u   sample position %llu%s", bTerminal ? "\r" : "",
                p.ullFramesPlayed / dRateNow, p.ullFramesTotal / dRateNow, p.nBufferSwitches,
                static_cast<unsigned long long>(p.ullLastPosition), bTerminal ? "  " : "\n");
    std::fflush(stdout);
  };
  hr = host.Run(*pSource, ullFrames, fnProgress);
  if (bProgress && bTerminal) std::printf("\n");
  HostReport report = host.Report();
  std::string strError = host.Error();
  host.Unload();
  PrintReport(report);
  if (FAILED(hr)) std::fprintf(stderr, "t32host: %s\n", strError.c_str());

  if (!o.strRecordWav.empty() && pDevice) {
    WAVEFORMATEXTENSIBLE wfx = {};
    if (!pDevice->RecordingFormat(0, 0, &wfx)) {
      std::fprintf(stderr, "t32host: the device received nothing to write to %s\n", o.strRecordWav.c_str());
      return kExitFailed;
    }
    std::vector<BYTE> vbData = pDevice->Recording(0, 0);
    WavFormat format;
    format.wChannels = wfx.Format.nChannels;
    format.dwSampleRate = wfx.Format.nSamplesPerSec;
    format.wContainerBits = wfx.Format.wBitsPerSample;
    format.wValidBits = wfx.Format.cbSize >= 22 ? wfx.Samples.wValidBitsPerSample : wfx.Format.wBitsPerSample;
    format.dwChannelMask = wfx.Format.cbSize >= 22 ? wfx.dwChannelMask : 0;
    size_t cbFrame = size_t(format.wChannels) * format.wContainerBits / 8;
    if (cbFrame) vbData.resize(vbData.size() - vbData.size() % cbFrame);
    if (FAILED(WriteWavFile(o.strRecordWav.c_str(), format, vbData.data(), vbData.size()))) {
      std::fprintf(stderr, "t32host: cannot write %s\n", o.strRecordWav.c_str());
      return kExitFailed;
    }
    std::printf("t32host: wrote what the device received (%zu frames, %u Hz, %u bits, %u channels) to %s\n",
                cbFrame ? vbData.size() / cbFrame : 0, format.dwSampleRate, format.wValidBits, format.wChannels,
                o.strRecordWav.c_str());
  }
  if (FAILED(hr)) return kExitFailed;
  return report.bResetStopped ? kExitReset : kExitPlayed;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* pszName) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)pszName;
      return argv[++i];
    };
    double d = 0;
    const char* psz = nullptr;
    if (arg == "--driver") {
      if (!(psz = value("--driver"))) return Usage("--driver needs a name");
      o.strDriver = psz;
    } else if (arg == "--dsd") {
      o.bDsd = true;
    } else if (arg == "--rate") {
      if (!(psz = value("")) || !ParseNumber(psz, 1000, 10000000, &d)) return Usage("--rate needs a rate in Hz");
      o.dRate = d;
    } else if (arg == "--bits") {
      if (!(psz = value("")) || !ParseNumber(psz, 16, 32, &d) || (d != 16 && d != 24 && d != 32))
        return Usage("--bits takes 16, 24 or 32");
      o.dwBits = DWORD(d);
    } else if (arg == "--buffer") {
      if (!(psz = value("")) || !ParseNumber(psz, 1, 1 << 24, &d) || d != std::floor(d))
        return Usage("--buffer needs a frame count");
      o.lBufferSize = LONG(d);
    } else if (arg == "--duration") {
      if (!(psz = value("")) || !ParseNumber(psz, 0.001, 86400, &d)) return Usage("--duration needs seconds");
      o.dSeconds = d;
    } else if (arg == "--freq") {
      if (!(psz = value("")) || !ParseNumber(psz, 1, 40000, &d)) return Usage("--freq needs a frequency in Hz");
      o.dFrequency = d;
    } else if (arg == "--level") {
      if (!(psz = value("")) || !ParseNumber(psz, -200, 0, &d)) return Usage("--level needs dB at or below 0");
      o.dLevelDb = d;
    } else if (arg == "--no-inputs") {
      o.bInputs = false;
    } else if (arg == "--no-time-info") {
      o.bTimeInfo = false;
    } else if (arg == "--emulate") {
      o.bEmulate = true;
    } else if (arg.compare(0, 10, "--emulate=") == 0) {
      if (!ParseNumber(arg.c_str() + 10, 0.01, 10000, &d)) return Usage("--emulate=SPEED needs a speed");
      o.bEmulate = true;
      o.dSpeed = d;
    } else if (arg == "--capture") {
      if (!(psz = value(""))) return Usage("--capture needs a source");
      std::string source = psz;
      if (source == "silence") o.eCapture = t32emu::CaptureSource::kSilence;
      else if (source == "signal") o.eCapture = t32emu::CaptureSource::kTestSignal;
      else if (source == "loopback") o.eCapture = t32emu::CaptureSource::kLoopback;
      else return Usage("--capture takes silence, signal or loopback");
    } else if (arg == "--record-wav") {
      if (!(psz = value(""))) return Usage("--record-wav needs a path");
      o.strRecordWav = psz;
    } else if (arg == "--quiet") {
      o.bQuiet = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage(nullptr);
      return kExitPlayed;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else if (o.strFile.empty()) {
      o.strFile = arg;
    } else {
      return Usage("only one file can be played");
    }
  }
  // The sigma-delta modulator is stable up to -3 dBFS.
  if (o.bDsd && o.strFile.empty() && o.dLevelDb > -3) return Usage("a DSD sine can be at most -3 dBFS");
  if (!o.strRecordWav.empty() && !o.bEmulate) return Usage("--record-wav needs --emulate (the device must be in this process)");
  return Run(o);
}
