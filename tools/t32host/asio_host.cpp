#include "tools/t32host/asio_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/t32host/sample_format.h"

namespace t32host {
namespace {

// ASIO's callbacks carry no context: the host that runs is found here, as in every host.
std::atomic<CAsioHost*> g_pActiveHost{nullptr};

constexpr size_t kFirstPositions = 8;
constexpr size_t kFlagKinds = 8;
constexpr size_t kSelectorsKept = 16;
const double kProbeRates[] = {32000, 44100, 48000, 88200, 96000, 176400, 192000, 2822400};

std::string Hex(LONG l) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(l));
  return text;
}

std::string AsioErrorName(ASIOError e) {
  switch (e) {
    case ASE_OK: return "ASE_OK";
    case ASE_SUCCESS: return "ASE_SUCCESS";
    case ASE_NotPresent: return "ASE_NotPresent";
    case ASE_HWMalfunction: return "ASE_HWMalfunction";
    case ASE_InvalidParameter: return "ASE_InvalidParameter";
    case ASE_InvalidMode: return "ASE_InvalidMode";
    case ASE_SPNotAdvancing: return "ASE_SPNotAdvancing";
    case ASE_NoClock: return "ASE_NoClock";
    case ASE_NoMemory: return "ASE_NoMemory";
    default: return "ASIO error " + std::to_string(e);
  }
}

std::string CreateFailureHint(HRESULT hr) {
  switch (hr) {
    case E_FAIL: return " (E_FAIL: the driver's factory refused, which it does when no device is present)";
    case REGDB_E_CLASSNOTREG: return " (REGDB_E_CLASSNOTREG: the class or its module is not registered or not loadable)";
    case E_NOINTERFACE: return " (E_NOINTERFACE)";
    case CO_E_NOTINITIALIZED: return " (CO_E_NOTINITIALIZED)";
    default: return "";
  }
}

ULONGLONG Join(ULONG hi, ULONG lo) { return ULONGLONG(hi) << 32 | lo; }

}  // namespace

std::string AsioErrorText(ASIOError e) { return AsioErrorName(e); }

CAsioHost::CAsioHost() {
  m_hDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  m_callbacks.bufferSwitch = &CAsioHost::BufferSwitch;
  m_callbacks.sampleRateDidChange = &CAsioHost::SampleRateDidChange;
  m_callbacks.asioMessage = &CAsioHost::AsioMessage;
  m_callbacks.bufferSwitchTimeInfo = &CAsioHost::BufferSwitchTimeInfo;
  // The buffer switch fills these without allocating.
  m_report.vullFirstPositions.reserve(kFirstPositions);
  m_report.vFlags.reserve(kFlagKinds);
  m_report.vlSelectorsAsked.reserve(kSelectorsKept);
}

CAsioHost::~CAsioHost() {
  Unload();
  if (m_hDone) CloseHandle(m_hDone);
}

HRESULT CAsioHost::Fail(HRESULT hr, const std::string& strWhy) {
  m_strError = strWhy;
  return hr;
}

HRESULT CAsioHost::Load(const char* pszDriverName) {
  if (m_pDriver) return Fail(E_UNEXPECTED, "a driver is already loaded");
  m_bComInitialized = SUCCEEDED(CoInitialize(nullptr));
  std::string key = std::string("Software\\ASIO\\") + pszDriverName;
  HKEY hKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
    return Fail(REGDB_E_CLASSNOTREG, "no ASIO driver \"" + std::string(pszDriverName) +
                                         "\" is registered (HKEY_LOCAL_MACHINE\\" + key + " is missing)");
  WCHAR text[64] = {};
  DWORD cb = sizeof(text) - sizeof(WCHAR);
  DWORD dwType = 0;
  LONG status = RegQueryValueExW(hKey, L"CLSID", nullptr, &dwType, reinterpret_cast<BYTE*>(text), &cb);
  RegCloseKey(hKey);
  if (status != ERROR_SUCCESS || dwType != REG_SZ)
    return Fail(REGDB_E_CLASSNOTREG, "HKEY_LOCAL_MACHINE\\" + key + " has no CLSID text value");
  CLSID clsid;
  if (FAILED(CLSIDFromString(text, &clsid)))
    return Fail(CO_E_CLASSSTRING, "HKEY_LOCAL_MACHINE\\" + key + " \"CLSID\" is not a class identifier");
  void* pv = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &pv);
  if (FAILED(hr) || !pv)
    return Fail(FAILED(hr) ? hr : E_POINTER,
                "CoCreateInstance of the driver's class failed with " + Hex(hr) + CreateFailureHint(hr));
  m_pDriver = static_cast<IASIO*>(pv);
  return S_OK;
}

HRESULT CAsioHost::Init() {
  if (!m_pDriver) return Fail(E_UNEXPECTED, "no driver is loaded");
  if (m_pDriver->init(nullptr) != ASIOTrue) {
    char message[128] = {};
    m_pDriver->getErrorMessage(message);
    message[sizeof(message) - 1] = 0;
    return Fail(E_FAIL, std::string("the driver's init failed") + (message[0] ? std::string(": ") + message : ""));
  }
  m_bInitialized = true;
  char name[33] = {};
  m_pDriver->getDriverName(name);
  name[32] = 0;
  m_report.strDriverName = name;
  m_report.lDriverVersion = m_pDriver->getDriverVersion();
  return S_OK;
}

HRESULT CAsioHost::Prepare(const HostSettings& settings) {
  if (!m_bInitialized) return Fail(E_UNEXPECTED, "the driver is not initialised");
  if (m_bPrepared) return Fail(E_UNEXPECTED, "the buffers exist already");
  m_settings = settings;
  HostReport& r = m_report;

  ASIOClockSource clocks[4] = {};
  LONG nClocks = 4;
  if (m_pDriver->getClockSources(clocks, &nClocks) == ASE_OK && nClocks > 0) {
    clocks[0].name[31] = 0;
    r.strClockSource = clocks[0].name;
  }
  r.vdRates.clear();
  for (double dRate : kProbeRates)
    if (m_pDriver->canSampleRate(dRate) == ASE_OK) r.vdRates.push_back(dRate);

  double dRate = settings.dSampleRate;
  if (settings.bDsd) {
    ASIOIoFormat format = {};
    format.FormatType = kASIODSDFormat;
    r.eCanDoDsdFormat = m_pDriver->future(kAsioCanDoIoFormat, &format);
    format.FormatType = kASIODSDFormat;
    r.eSetDsdFormat = m_pDriver->future(kAsioSetIoFormat, &format);
    dRate = 2822400.0;
  }
  if (dRate > 0) {
    ASIOError e = m_pDriver->canSampleRate(dRate);
    if (e != ASE_OK) return Fail(E_FAIL, "the driver cannot run " + std::to_string(LONG(dRate)) + " Hz (canSampleRate: " +
                                             AsioErrorName(e) + ")");
    e = m_pDriver->setSampleRate(dRate);
    if (e != ASE_OK) return Fail(E_FAIL, "setSampleRate(" + std::to_string(LONG(dRate)) + ") failed: " + AsioErrorName(e));
  }
  ASIOError e = m_pDriver->getChannels(&r.lInputChannels, &r.lOutputChannels);
  if (e != ASE_OK) return Fail(E_FAIL, "getChannels failed: " + AsioErrorName(e));
  e = m_pDriver->getBufferSize(&r.lMinSize, &r.lMaxSize, &r.lPreferredSize, &r.lGranularity);
  if (e != ASE_OK) return Fail(E_FAIL, "getBufferSize failed: " + AsioErrorName(e));
  e = m_pDriver->getSampleRate(&r.dSampleRate);
  if (e != ASE_OK) return Fail(E_FAIL, "getSampleRate failed: " + AsioErrorName(e));
  if (dRate > 0 && r.dSampleRate != dRate)
    return Fail(E_FAIL, "the driver runs " + std::to_string(r.dSampleRate) + " Hz after setSampleRate(" +
                            std::to_string(dRate) + ")");

  LONG nOutputs = std::min(settings.lOutputs, r.lOutputChannels);
  LONG nInputs = settings.bInputs ? r.lInputChannels : 0;
  if (nOutputs <= 0) return Fail(E_FAIL, "the driver has no output channels");
  r.vChannels.clear();
  for (int nPass = 0; nPass < 2; ++nPass) {
    LONG nCount = nPass == 0 ? nOutputs : nInputs;
    for (LONG c = 0; c < nCount; ++c) {
      ChannelReport channel = {};
      channel.info.channel = c;
      channel.info.isInput = nPass == 1 ? ASIOTrue : ASIOFalse;
      e = m_pDriver->getChannelInfo(&channel.info);
      if (e != ASE_OK)
        return Fail(E_FAIL, "getChannelInfo of " + std::string(nPass ? "input " : "output ") + std::to_string(c) +
                                " failed: " + AsioErrorName(e));
      channel.info.name[31] = 0;
      r.vChannels.push_back(channel);
    }
  }
  r.outputType = r.vChannels[0].info.type;
  bool bTypeOk = settings.bDsd ? IsDsdSampleType(r.outputType) : IsPcmSampleType(r.outputType);
  if (!bTypeOk) return Fail(E_FAIL, "the driver's output type " + SampleTypeName(r.outputType) + " is not one the host fills");
  for (LONG c = 1; c < nOutputs; ++c)
    if (r.vChannels[c].info.type != r.outputType) return Fail(E_FAIL, "the output channels differ in sample type");

  LONG lSize = settings.lBufferSize > 0 ? settings.lBufferSize : r.lPreferredSize;
  if (lSize <= 0) return Fail(E_FAIL, "the driver prefers a buffer of " + std::to_string(lSize) + " frames");
  if (settings.bDsd && lSize % 8 != 0) return Fail(E_INVALIDARG, "a DSD buffer must hold whole bytes (a multiple of 8 frames)");

  m_vBuffers.assign(size_t(nOutputs + nInputs), ASIOBufferInfo{});
  for (LONG i = 0; i < nOutputs + nInputs; ++i) {
    m_vBuffers[i].isInput = i >= nOutputs ? ASIOTrue : ASIOFalse;
    m_vBuffers[i].channelNum = i >= nOutputs ? i - nOutputs : i;
  }
  CAsioHost* pExpected = nullptr;
  if (!g_pActiveHost.compare_exchange_strong(pExpected, this) && pExpected != this)
    return Fail(E_UNEXPECTED, "another host is running in this process");
  e = m_pDriver->createBuffers(m_vBuffers.data(), nOutputs + nInputs, lSize, &m_callbacks);
  if (e != ASE_OK) {
    g_pActiveHost = nullptr;
    return Fail(E_FAIL, "createBuffers(" + std::to_string(nOutputs + nInputs) + " channels, " + std::to_string(lSize) +
                            " frames) failed: " + AsioErrorName(e));
  }
  m_bPrepared = true;
  r.lBufferSize = lSize;
  r.lActiveOutputs = nOutputs;
  r.lActiveInputs = nInputs;
  for (const ASIOBufferInfo& b : m_vBuffers)
    if (!b.buffers[0] || !b.buffers[1]) return Fail(E_FAIL, "createBuffers gave a channel without its two buffers");
  // Channels report whether they are active once their buffers exist.
  for (ChannelReport& channel : r.vChannels) {
    m_pDriver->getChannelInfo(&channel.info);
    channel.info.name[31] = 0;
  }
  size_t cbHalf = BufferBytes(r.outputType, lSize);
  for (LONG i = 0; i < nOutputs; ++i)
    for (void* pv : m_vBuffers[i].buffers) std::memset(pv, settings.bDsd ? kDsdSilence : 0, cbHalf);
  m_pDriver->getLatencies(&r.lInputLatency, &r.lOutputLatency);
  return S_OK;
}

HRESULT CAsioHost::Run(const CSignalSource& source, ULONGLONG ullFrames,
                       const std::function<void(const Progress&)>& fnProgress) {
  if (!m_bPrepared) return Fail(E_UNEXPECTED, "the buffers do not exist");
  if (source.IsDsd() != m_settings.bDsd)
    return Fail(E_INVALIDARG, source.IsDsd() ? "a DSD source needs the driver in DSD mode" : "a PCM source cannot play in DSD mode");
  ULONGLONG ullTarget = std::min(ullFrames, source.FrameCount());
  if (ullTarget == kEndless) return Fail(E_INVALIDARG, "an endless source needs a duration");
  HostReport& r = m_report;
  r.strSource = source.Describe();
  r.bStalled = false;
  r.bResetStopped = false;

  // Everything the buffer switch reads is in place before start.
  m_pSource = &source;
  m_ullTarget = ullTarget;
  LONG lSize = r.lBufferSize;
  m_nTailBuffers = ULONG((std::max<LONG>(r.lOutputLatency, 0) + lSize - 1) / lSize) + 3;
  m_nTail = 0;
  m_ullRendered = 0;
  m_nSwitches = 0;
  m_bResetRequested = false;
  m_dwLastSwitchTick = GetTickCount();
  ResetEvent(m_hDone);

  ASIOError e = m_pDriver->start();
  if (e != ASE_OK) return Fail(E_FAIL, "start failed: " + AsioErrorName(e));
  m_bRunning = true;
  DWORD dwStarted = GetTickCount();
  for (;;) {
    DWORD dwWait = WaitForSingleObject(m_hDone, 100);
    if (fnProgress)
      fnProgress(Progress{std::min<ULONGLONG>(m_ullRendered, ullTarget), ullTarget, m_nSwitches, m_ullLastPosition});
    if (dwWait == WAIT_OBJECT_0) break;
    DWORD dwSince = m_nSwitches ? m_dwLastSwitchTick.load() : dwStarted;
    if (GetTickCount() - dwSince > m_settings.dwStallMs) {
      r.bStalled = true;
      break;
    }
  }
  m_pDriver->stop();
  m_bRunning = false;
  m_pSource = nullptr;
  r.ullFramesPlayed = std::min<ULONGLONG>(m_ullRendered, ullTarget);
  r.nBufferSwitches = m_nSwitches;
  r.ullLastPosition = m_ullLastPosition;
  r.bResetStopped = m_bResetRequested;
  if (r.bStalled)
    return Fail(E_FAIL, "no buffer switch for " + std::to_string(m_settings.dwStallMs / 1000.0).substr(0, 3) + " s; stopped");
  return S_OK;
}

void CAsioHost::Unload() {
  if (m_pDriver) {
    if (m_bRunning) m_pDriver->stop();
    if (m_bPrepared) m_pDriver->disposeBuffers();
    m_pDriver->Release();
    m_pDriver = nullptr;
  }
  m_bRunning = m_bPrepared = m_bInitialized = false;
  CAsioHost* pSelf = this;
  g_pActiveHost.compare_exchange_strong(pSelf, nullptr);
  if (m_bComInitialized) CoUninitialize();
  m_bComInitialized = false;
}

void CAsioHost::OnBufferSwitch(LONG lIndex, const ASIOTime* pTime) {
  HostReport& r = m_report;
  ULONG n = m_nSwitches;
  ULONGLONG ullPosition = 0;
  bool bKnown = false;
  if (pTime) {
    ++r.nTimeInfoSwitches;
    ULONG flags = pTime->timeInfo.flags;
    bool bCounted = false;
    for (auto& kind : r.vFlags)
      if (kind.first == flags) {
        ++kind.second;
        bCounted = true;
      }
    if (!bCounted && r.vFlags.size() < kFlagKinds) r.vFlags.emplace_back(flags, 1);
    ullPosition = Join(pTime->timeInfo.samplePosition.hi, pTime->timeInfo.samplePosition.lo);
    bKnown = (flags & kSamplePositionValid) != 0;
  } else {
    ASIOSamples samples = {};
    ASIOTimeStamp stamp = {};
    if (m_pDriver->getSamplePosition(&samples, &stamp) == ASE_OK) {
      ullPosition = Join(samples.hi, samples.lo);
      bKnown = true;
    }
  }
  if (!bKnown) {
    ++r.nPositionsUnknown;
  } else {
    if (r.vullFirstPositions.size() < kFirstPositions) r.vullFirstPositions.push_back(ullPosition);
    if (n > 0 && ullPosition - m_ullPreviousPosition != ULONGLONG(r.lBufferSize)) {
      if (r.nIrregularSteps++ == 0) {
        r.ullFirstIrregularFrom = m_ullPreviousPosition;
        r.ullFirstIrregularTo = ullPosition;
      }
    }
    m_ullPreviousPosition = ullPosition;
    m_ullLastPosition = ullPosition;
  }

  if (lIndex != 0 && lIndex != 1) {
    ++r.nBadIndexes;
  } else if (m_pSource) {
    LONG lSize = r.lBufferSize;
    ULONGLONG ullRendered = m_ullRendered;
    ULONGLONG ullLeft = ullRendered < m_ullTarget ? m_ullTarget - ullRendered : 0;
    LONG nFrames = LONG(std::min<ULONGLONG>(ullLeft, ULONGLONG(lSize)));
    if (m_settings.bDsd) nFrames &= ~7;
    size_t cbDone = BufferBytes(r.outputType, nFrames);
    size_t cbHalf = BufferBytes(r.outputType, lSize);
    for (LONG c = 0; c < r.lActiveOutputs; ++c) {
      BYTE* pb = static_cast<BYTE*>(m_vBuffers[c].buffers[lIndex]);
      if (nFrames > 0) m_pSource->Render(ullRendered, nFrames, UINT(c), r.outputType, pb);
      std::memset(pb + cbDone, m_settings.bDsd ? kDsdSilence : 0, cbHalf - cbDone);
    }
    if (!m_settings.bDsd) {
      r.bInputAnalysed = r.lActiveInputs > 0;
      ASIOSampleType inputType = r.lActiveInputs ? r.vChannels[r.lActiveOutputs].info.type : 0;
      UINT nBytes = PcmSampleBytes(inputType);
      for (LONG c = 0; nBytes && c < r.lActiveInputs; ++c) {
        const BYTE* pb = static_cast<const BYTE*>(m_vBuffers[r.lActiveOutputs + c].buffers[lIndex]);
        for (LONG i = 0; i < lSize; ++i, pb += nBytes) {
          LONG l = LoadPcmSample(pb, inputType);
          LONG lMagnitude = l == LONG(0x80000000) ? 0x7FFFFFFF : (l < 0 ? -l : l);
          r.lInputPeak = std::max(r.lInputPeak, lMagnitude);
        }
      }
    }
    m_ullRendered = ullRendered + ULONGLONG(lSize);
    if (ullRendered + ULONGLONG(lSize) >= m_ullTarget && ++m_nTail >= m_nTailBuffers) SetEvent(m_hDone);
  }
  m_pDriver->outputReady();
  m_dwLastSwitchTick = GetTickCount();
  m_nSwitches = n + 1;
}

LONG CAsioHost::OnMessage(LONG lSelector, LONG lValue) {
  HostReport& r = m_report;
  switch (lSelector) {
    case kAsioSelectorSupported:
      if (std::find(r.vlSelectorsAsked.begin(), r.vlSelectorsAsked.end(), lValue) == r.vlSelectorsAsked.end() &&
          r.vlSelectorsAsked.size() < kSelectorsKept)
        r.vlSelectorsAsked.push_back(lValue);
      return (lValue == kAsioEngineVersion || lValue == kAsioResetRequest || lValue == kAsioResyncRequest ||
              lValue == kAsioLatenciesChanged || lValue == kAsioSupportsTimeInfo)
                 ? 1
                 : 0;
    case kAsioEngineVersion:
      return 2;
    case kAsioResetRequest:
      // A host reloads the driver after a reset request; this one reports it and stops.
      ++r.nResetRequests;
      m_bResetRequested = true;
      SetEvent(m_hDone);
      return 1;
    case kAsioResyncRequest:
      ++r.nResyncRequests;
      return 1;
    case kAsioLatenciesChanged:
      ++r.nLatencyChanges;
      return 1;
    case kAsioSupportsTimeInfo:
      return m_settings.bTimeInfo ? 1 : 0;
    default:
      return 0;
  }
}

void CAsioHost::OnRateChange(double dRate) {
  ++m_report.nRateChanges;
  m_report.dLastRateChange = dRate;
}

void CAsioHost::BufferSwitch(LONG lIndex, ASIOBool bDirect) {
  if (CAsioHost* pHost = g_pActiveHost) pHost->OnBufferSwitch(lIndex, nullptr);
}

ASIOTime* CAsioHost::BufferSwitchTimeInfo(ASIOTime* pTime, LONG lIndex, ASIOBool bDirect) {
  if (CAsioHost* pHost = g_pActiveHost) pHost->OnBufferSwitch(lIndex, pTime);
  return nullptr;
}

void CAsioHost::SampleRateDidChange(ASIOSampleRate dRate) {
  if (CAsioHost* pHost = g_pActiveHost) pHost->OnRateChange(dRate);
}

LONG CAsioHost::AsioMessage(LONG lSelector, LONG lValue, void* pMessage, double* pdOpt) {
  CAsioHost* pHost = g_pActiveHost;
  return pHost ? pHost->OnMessage(lSelector, lValue) : 0;
}

}  // namespace t32host
