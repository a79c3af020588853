// The ASIO host: finds a driver through the registry as ASIO hosts do, takes it through
// one playback (init, the queries, createBuffers, start, buffer switches that fill the
// outputs and call outputReady, stop, disposeBuffers, Release) and keeps what it saw for
// the report: buffer switches, sample positions, time info flags, the driver's messages.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/asio/iasio.h"
#include "tools/t32host/signal_source.h"

namespace t32host {

struct HostSettings {
  double dSampleRate = 0;  // 0: keep the driver's rate
  bool bDsd = false;       // run at 2822400 Hz with one-bit buffers
  LONG lBufferSize = 0;    // frames per half buffer; 0: the driver's preferred size
  LONG lOutputs = 2;       // at most as many as the driver has
  bool bInputs = true;     // buffers for every input the driver has
  bool bTimeInfo = true;   // answer kAsioSupportsTimeInfo with 1
  DWORD dwStallMs = 5000;  // a run with no buffer switch for this long ends
};

struct ChannelReport {
  ASIOChannelInfo info;
};

struct HostReport {
  std::string strDriverName;
  LONG lDriverVersion = 0;
  std::string strClockSource;
  std::vector<double> vdRates;  // rates canSampleRate accepts, of the ones asked
  ASIOError eCanDoDsdFormat = ASE_NotPresent;
  ASIOError eSetDsdFormat = ASE_NotPresent;
  LONG lInputChannels = 0, lOutputChannels = 0;
  LONG lMinSize = 0, lMaxSize = 0, lPreferredSize = 0, lGranularity = 0;
  double dSampleRate = 0;
  std::vector<ChannelReport> vChannels;  // outputs, then inputs
  LONG lBufferSize = 0;
  LONG lActiveOutputs = 0, lActiveInputs = 0;
  ASIOSampleType outputType = 0;
  LONG lInputLatency = 0, lOutputLatency = 0;
  std::string strSource;

  // The run.
  ULONG nBufferSwitches = 0;
  ULONG nTimeInfoSwitches = 0;
  ULONG nBadIndexes = 0;
  std::vector<ULONGLONG> vullFirstPositions;  // of the first few buffer switches
  ULONGLONG ullLastPosition = 0;
  ULONG nPositionsUnknown = 0;  // buffer switches whose position could not be had
  ULONG nIrregularSteps = 0;    // positions that did not advance by the buffer size
  ULONGLONG ullFirstIrregularFrom = 0, ullFirstIrregularTo = 0;
  std::vector<std::pair<ULONG, ULONG>> vFlags;  // time info flags seen, and how often
  ULONG nResetRequests = 0, nResyncRequests = 0, nLatencyChanges = 0, nRateChanges = 0;
  double dLastRateChange = 0;
  std::vector<LONG> vlSelectorsAsked;  // selectors the driver asked kAsioSelectorSupported about
  LONG lInputPeak = 0;                 // largest input sample magnitude, left-justified
  bool bInputAnalysed = false;
  ULONGLONG ullFramesPlayed = 0;  // source frames handed to the driver
  bool bStalled = false;
  bool bResetStopped = false;
};

struct Progress {
  ULONGLONG ullFramesPlayed;
  ULONGLONG ullFramesTotal;
  ULONG nBufferSwitches;
  ULONGLONG ullLastPosition;
};

// The name of an ASIO error code ("ASE_NotPresent").
std::string AsioErrorText(ASIOError e);

class CAsioHost {
 public:
  CAsioHost();
  ~CAsioHost();
  CAsioHost(const CAsioHost&) = delete;
  CAsioHost& operator=(const CAsioHost&) = delete;

  // Reads HKEY_LOCAL_MACHINE\Software\ASIO\<name> "CLSID" and creates the driver with
  // CoCreateInstance, the class identifier doubling as the interface identifier.
  HRESULT Load(const char* pszDriverName);
  HRESULT Init();
  // Sets the rate (DSD: the I/O format and 2822400 Hz), asks channels, sizes, rates and
  // channel types, and creates the buffers.
  HRESULT Prepare(const HostSettings& settings);
  // Starts, plays ullFrames frames of the source (at most its length; then a few buffers
  // of silence so the last output reaches the device), and stops; also ends on a reset
  // request or when buffer switches stall. fnProgress is called about ten times a second.
  HRESULT Run(const CSignalSource& source, ULONGLONG ullFrames, const std::function<void(const Progress&)>& fnProgress);
  // Stops, disposes the buffers, releases the driver. Safe to call in any state.
  void Unload();

  IASIO* Driver() const { return m_pDriver; }
  const HostReport& Report() const { return m_report; }
  const std::string& Error() const { return m_strError; }

 private:
  HRESULT Fail(HRESULT hr, const std::string& strWhy);
  void OnBufferSwitch(LONG lIndex, const ASIOTime* pTime);
  LONG OnMessage(LONG lSelector, LONG lValue);
  void OnRateChange(double dRate);

  static void BufferSwitch(LONG lIndex, ASIOBool bDirect);
  static ASIOTime* BufferSwitchTimeInfo(ASIOTime* pTime, LONG lIndex, ASIOBool bDirect);
  static void SampleRateDidChange(ASIOSampleRate dRate);
  static LONG AsioMessage(LONG lSelector, LONG lValue, void* pMessage, double* pdOpt);

  IASIO* m_pDriver = nullptr;
  bool m_bComInitialized = false;
  bool m_bInitialized = false;
  bool m_bPrepared = false;
  bool m_bRunning = false;
  HostSettings m_settings;
  std::vector<ASIOBufferInfo> m_vBuffers;  // outputs first
  HANDLE m_hDone = nullptr;
  ASIOCallbacks m_callbacks;
  HostReport m_report;
  std::string m_strError;

  // Shared with the driver's stream thread during a run.
  const CSignalSource* m_pSource = nullptr;
  ULONGLONG m_ullTarget = 0;
  ULONG m_nTailBuffers = 0;
  ULONG m_nTail = 0;
  ULONGLONG m_ullPreviousPosition = 0;
  std::atomic<ULONGLONG> m_ullRendered{0};
  std::atomic<ULONG> m_nSwitches{0};
  std::atomic<ULONGLONG> m_ullLastPosition{0};
  std::atomic<DWORD> m_dwLastSwitchTick{0};
  std::atomic<bool> m_bResetRequested{false};
};

}  // namespace t32host
