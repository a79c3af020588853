// CAsioSample: the ASIO driver object a host receives. It implements IASIO on top of the
// device's KS render and capture filters: it keeps the driver state, builds the format
// tables, owns the host's channel buffers, drives the streaming engine, and publishes its
// state in the shared status block for the control panel.
#pragma once

#include "asio_driver/dsd_converter.h"
#include "asio_driver/format_table.h"
#include "asio_driver/unknown.h"
#include "common/status_block_view.h"
#include "kslib/kslib.h"
#include "platform/asio/iasio.h"
#include "platform/win32.h"

namespace t32asio {

// Answers to future()'s capability questions, in the order of kAsioCanInputMonitor ...
enum {
  kCapInputMonitor,
  kCapTimeInfo,
  kCapTimeCode,
  kCapTransport,
  kCapInputGain,
  kCapInputMeter,
  kCapOutputGain,
  kCapOutputMeter,
  kCapDsdIoFormat,
  kCapCount
};
// What the host said it supports, asked at createBuffers.
enum {
  kHostTimeInfo,
  kHostTimeCode,
  kHostInputMonitor,
  kHostInputGain,
  kHostInputMeter,
  kHostOutputGain,
  kHostOutputMeter,
  kHostCount
};

// Indexes of the stream thread's command events in its wait array.
enum { kCmdQuit, kCmdStart, kCmdStop, kCmdWatchdog, kCmdCount };
constexpr int kWaitHandles = kCmdCount + 2 * kMaxPinSlots * kPacketsPerPin;  // 52
constexpr LONGLONG kWatchdogDue = -20000000;                                    // 2 s, relative
constexpr ULONG kQueueDepth = 2;

class CAsioSample : public IASIO, public CUnknown {
 public:
  // Opens or creates the shared block; when this object created it, loads the settings.
  CAsioSample(IUnknown* pUnkOuter, HRESULT* phr);
  ~CAsioSample() override;

  T32_DECLARE_FORWARDING_IUNKNOWN
  // IID_IUnknown, and the class identifier the object was created with (its interface
  // identifier); anything else E_NOINTERFACE with a null pointer.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Finds the device (HID presence query, KS filter search and width probe) and claims
  // the block. S_OK or E_FAIL.
  HRESULT Discover(REFCLSID clsid);

  // IASIO
  ASIOBool init(void* sysHandle) override;
  void getDriverName(char* name) override;
  LONG getDriverVersion() override;
  void getErrorMessage(char* string) override;
  ASIOError start() override;
  ASIOError stop() override;
  ASIOError getChannels(LONG* numInputChannels, LONG* numOutputChannels) override;
  ASIOError getLatencies(LONG* inputLatency, LONG* outputLatency) override;
  ASIOError getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize, LONG* granularity) override;
  ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
  ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getClockSources(ASIOClockSource* clocks, LONG* numSources) override;
  ASIOError setClockSource(LONG reference) override;
  ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
  ASIOError getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels, LONG bufferSize,
                          ASIOCallbacks* callbacks) override;
  ASIOError disposeBuffers() override;
  ASIOError controlPanel() override;
  ASIOError future(LONG selector, void* opt) override;
  ASIOError outputReady() override;

  BOOL IsDsdMode() const { return m_nRequestedRate == static_cast<LONG>(t32::kDsdRate); }

  // ---- state, in the order of the driver's data model ----
  GUID m_clsid;
  BYTE m_bWidthMask;
  CHAR m_szSymbolicLink[MAX_PATH];
  CHAR m_szDeviceName[MAX_PATH];
  LONG m_nState;
  CKsAudRenFilter* m_pRenderFilter;
  CKsAudCapFilter* m_pCaptureFilter;
  LONG m_bRecords;
  LONG m_nBits;
  ULONG m_ulDeviceRate;
  LONG m_nRequestedRate;
  CDsdConverter m_aDsd[2];  // output channels 0 and 1
  LONG m_bDsdReady;
  BYTE* m_pDsdScratch;
  LONGLONG m_llBufferTime;  // 100-ns units; 0 while not set
  ULONG m_ulBufferSize;     // frames per half buffer
  LONG m_bRateChanged;
  ULONG m_ulMinBufferIndex;
  ULONG m_ulQueueDepth;
  CFormatTable m_aTables[2];  // 0 render, 1 capture
  CRateEntry* m_apCurrent[2];
  CRateEntry* m_apActive[2];
  ASIOCallbacks m_callbacks;
  BOOL m_bHaveCallbacks;
  void* m_pSysHandle;

  // Streaming engine objects.
  HANDLE m_ahCommands[kCmdCount];
  HANDLE m_hRelayCancel;
  HANDLE m_hWatchdogTimer;
  HANDLE m_hStateAck;
  HANDLE m_hStreamThread;
  HANDLE m_hRelayThread;
  BOOL m_bEngineObjects;

  // Counters (stream thread writes, host calls read).
  ULONGLONG m_ullRunningPosition;
  ULONGLONG m_ullTimeStamp;
  ULONGLONG m_ullSwitchCount;
  ULONGLONG m_ullReportedPosition;
  ULONGLONG m_ullReportedTimeStamp;

  LONG m_anCapabilities[kCapCount];
  LONG m_anHostSupport[kHostCount];
  LONG m_bTimeCodeRead;
  LONG m_nIoFormat;
  BOOL m_bTimerPeriod;  // timeBeginPeriod(1) is in force

  t32::CStatusBlockView m_block;

  // Publishing: write only when this object owns the block.
  BOOL OwnsBlock() const { return m_block.IsOwnedBy(m_clsid); }
  t32::StatusBlock* Block() const { return m_block.Block(); }

  // The stream thread's own state, touched by nothing else.
  struct CStreamState {
    LONG m_nEngineState;  // 0 stopped, 3 running
    ULONG m_ulActiveDirections;  // bit 0 render, bit 1 capture
    ULONG m_aulDirectionReady[2];
    ULONG m_aulRenderDone[2];
    ULONG m_aulCaptureDone[2];
  };

 private:
  // Streaming engine (stream_engine.cpp).
  BOOL CreateEngineObjects();
  void CloseEngineObjects();
  ASIOError StartThreads();
  void StopThreads();
  void OutputCopy();
  static DWORD WINAPI StreamThreadProc(LPVOID pv);
  static DWORD WINAPI RelayThreadProc(LPVOID pv);
  void StreamThreadMain();
  void RelayThreadMain();
  void ArmWatchdog();
  void SetPinStates(KSSTATE ksState);
  void StartSequence(CStreamState& st);
  void TakePinsDown(CStreamState& st);
  void CompletionStep(CStreamState& st, DWORD dwIndex);
  void ProcessHalf(ULONG ulHalf);
  void BufferSwitch(ULONG ulHalf);
  void InputCopy(ULONG ulPacket, ULONG ulHalf);
  void SendResetRequest();
  // Settings and helpers.
  void SelectCurrentEntries();
  void SaveSettings();
};

}  // namespace t32asio
