// The streaming engine: one time-critical stream thread owns all pin I/O. It keeps a ring
// of eight packets per pin, two queued ahead, waits for their completions, and when both
// directions have finished a half buffer it calls the host's buffer switch. A relay thread
// turns the two-second watchdog timer into a command, so a stalled device ends in a reset
// request to the host instead of silence.
#include <initializer_list>

#include "asio_driver/asio_sample.h"
#include "common/driver_state.h"

namespace t32asio {
namespace {

constexpr DWORD kRenderBase = kCmdCount;                                 // 4
constexpr DWORD kCaptureBase = kCmdCount + kMaxPinSlots * kPacketsPerPin;  // 28

ULONGLONG NowNanoseconds() { return static_cast<ULONGLONG>(timeGetTime()) * 1000000ull; }

template <class T>
void Split(ULONGLONG value, T* out) {
  out->hi = static_cast<ULONG>(value >> 32);
  out->lo = static_cast<ULONG>(value & 0xFFFFFFFFu);
}

// Moves one sample of 2, 3 or 4 bytes; a library call per sample would cost more than the
// copy itself on the streaming path.
inline void CopySample(BYTE* pTarget, const BYTE* pSource, ULONG cbSample) {
  switch (cbSample) {
    case 4: pTarget[3] = pSource[3]; [[fallthrough]];
    case 3: pTarget[2] = pSource[2]; [[fallthrough]];
    case 2:
      pTarget[1] = pSource[1];
      pTarget[0] = pSource[0];
      break;
    default: CopyMemory(pTarget, pSource, cbSample);
  }
}

// Calls f on every opened pin slot of an entry, in slot order.
template <class F>
void ForEachOpened(CRateEntry* pEntry, F f) {
  if (!pEntry) return;
  for (LONG k = 0; k < pEntry->m_nPinCount; ++k)
    if (pEntry->m_aPinSlots[k].m_bOpened) f(pEntry->m_aPinSlots[k]);
}

}  // namespace

BOOL CAsioSample::CreateEngineObjects() {
  if (m_bEngineObjects) return TRUE;
  for (HANDLE& h : m_ahCommands) {
    h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!h) return FALSE;
  }
  m_hRelayCancel = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  m_hWatchdogTimer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  m_hStateAck = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!m_hRelayCancel || !m_hWatchdogTimer || !m_hStateAck) return FALSE;
  if (!CreatePacketEvents(m_aTables[0]) || !CreatePacketEvents(m_aTables[1])) return FALSE;
  m_bEngineObjects = TRUE;
  return TRUE;
}

void CAsioSample::CloseEngineObjects() {
  for (HANDLE& h : m_ahCommands) {
    if (h) CloseHandle(h);
    h = nullptr;
  }
  for (HANDLE* p : {&m_hRelayCancel, &m_hWatchdogTimer, &m_hStateAck}) {
    if (*p) CloseHandle(*p);
    *p = nullptr;
  }
  ClosePacketEvents(m_aTables[0]);
  ClosePacketEvents(m_aTables[1]);
  m_bEngineObjects = FALSE;
}

ASIOError CAsioSample::StartThreads() {
  m_hStreamThread = CreateThread(nullptr, 0, StreamThreadProc, this, CREATE_SUSPENDED, nullptr);
  m_hRelayThread = CreateThread(nullptr, 0, RelayThreadProc, this, CREATE_SUSPENDED, nullptr);
  if (!m_hStreamThread || !m_hRelayThread) {
    // A thread that was made never ran: closing its handle is all there is to undo.
    if (m_hStreamThread) CloseHandle(m_hStreamThread);
    if (m_hRelayThread) CloseHandle(m_hRelayThread);
    m_hStreamThread = m_hRelayThread = nullptr;
    return ASE_NoMemory;
  }
  DWORD_PTR processMask = 0, systemMask = 0;
  GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
  for (HANDLE h : {m_hStreamThread, m_hRelayThread}) {
    if (processMask) SetThreadAffinityMask(h, processMask);
    SetThreadPriority(h, THREAD_PRIORITY_TIME_CRITICAL);
    SetThreadPriorityBoost(h, FALSE);
    ResumeThread(h);
  }
  return ASE_OK;
}

void CAsioSample::StopThreads() {
  // The relay first, then the stream thread, which takes its pins down on the way out.
  // Waiting on the thread gives the same moment as polling its exit code, without spinning.
  struct {
    HANDLE* phThread;
    HANDLE hEvent;
  } order[] = {{&m_hRelayThread, m_hRelayCancel}, {&m_hStreamThread, m_ahCommands[kCmdQuit]}};
  for (auto& step : order) {
    if (!*step.phThread) continue;
    SetEvent(step.hEvent);
    WaitForSingleObject(*step.phThread, INFINITE);
    CloseHandle(*step.phThread);
    *step.phThread = nullptr;
  }
}

DWORD WINAPI CAsioSample::StreamThreadProc(LPVOID pv) {
  static_cast<CAsioSample*>(pv)->StreamThreadMain();
  return 0;
}

DWORD WINAPI CAsioSample::RelayThreadProc(LPVOID pv) {
  static_cast<CAsioSample*>(pv)->RelayThreadMain();
  return 0;
}

void CAsioSample::RelayThreadMain() {
  HANDLE handles[2] = {m_hRelayCancel, m_hWatchdogTimer};
  if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) SetEvent(m_ahCommands[kCmdWatchdog]);
  CancelWaitableTimer(m_hWatchdogTimer);
}

void CAsioSample::ArmWatchdog() {
  LARGE_INTEGER due;
  due.QuadPart = kWatchdogDue;
  SetWaitableTimer(m_hWatchdogTimer, &due, 0, nullptr, nullptr, FALSE);
}

void CAsioSample::SendResetRequest() {
  if (m_callbacks.asioMessage) m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

void CAsioSample::StreamThreadMain() {
  HANDLE wait[kWaitHandles];
  for (int i = 0; i < kCmdCount; ++i) wait[i] = m_ahCommands[i];
  for (int d = 0; d < 2; ++d) {
    // Without an active entry the events of an unused one stand in; they never fire.
    CRateEntry* entry = m_apActive[d] ? m_apActive[d] : &m_aTables[d][0];
    const DWORD base = d == 0 ? kRenderBase : kCaptureBase;
    for (int s = 0; s < kMaxPinSlots; ++s)
      for (int i = 0; i < kPacketsPerPin; ++i) {
        HANDLE h = entry->m_aPinSlots[s].m_aPackets[i].m_ovl.hEvent;
        wait[base + s * kPacketsPerPin + i] = h;
        ResetEvent(h);
      }
  }
  CStreamState st;
  ZeroMemory(&st, sizeof(st));
  if (m_apActive[0] && m_apActive[0]->m_nOpenedMask) st.m_ulActiveDirections |= 1;
  if (m_apActive[1] && m_apActive[1]->m_nOpenedMask) st.m_ulActiveDirections |= 2;

  for (;;) {
    DWORD result = WaitForMultipleObjects(kWaitHandles, wait, FALSE, INFINITE);
    if (result == WAIT_FAILED || result == WAIT_TIMEOUT || result >= WAIT_OBJECT_0 + kWaitHandles) break;
    const DWORD index = result - WAIT_OBJECT_0;
    bool bQuit = false;
    switch (index) {
      case kCmdQuit:
        CancelWaitableTimer(m_hWatchdogTimer);
        bQuit = true;
        break;
      case kCmdStart:
        if (st.m_nEngineState == 0)
          StartSequence(st);
        else
          SetEvent(m_hStateAck);  // already running: the caller must not wait forever
        ArmWatchdog();
        break;
      case kCmdStop:
        TakePinsDown(st);
        CancelWaitableTimer(m_hWatchdogTimer);
        st.m_nEngineState = 0;
        SetEvent(m_hStateAck);
        break;
      case kCmdWatchdog:
        ArmWatchdog();
        if (m_bRateChanged) {
          if (m_callbacks.sampleRateDidChange) m_callbacks.sampleRateDidChange(static_cast<double>(m_ulDeviceRate));
          m_bRateChanged = 0;
        }
        SendResetRequest();
        break;
      default:
        CompletionStep(st, index);
        break;
    }
    if (OwnsBlock() && Block()->ResetRequest != 0) {
      Block()->ResetRequest = 0;
      SendResetRequest();
    }
    if (bQuit) break;
  }
  TakePinsDown(st);
}

void CAsioSample::SetPinStates(KSSTATE ksState) {
  // Capture first, then render: the capture side is running before render data arrives.
  ForEachOpened(m_apActive[1], [&](CPinSlot& slot) { slot.m_pPin->SetState(ksState); });
  ForEachOpened(m_apActive[0], [&](CPinSlot& slot) { slot.m_pPin->SetState(ksState); });
}

void CAsioSample::TakePinsDown(CStreamState& st) {
  if (st.m_nEngineState != 3) return;
  SetPinStates(KSSTATE_PAUSE);
  SetPinStates(KSSTATE_ACQUIRE);
  SetPinStates(KSSTATE_STOP);
  st.m_nEngineState = 0;
}

void CAsioSample::StartSequence(CStreamState& st) {
  ZeroMemory(st.m_aulDirectionReady, sizeof(st.m_aulDirectionReady));
  ZeroMemory(st.m_aulRenderDone, sizeof(st.m_aulRenderDone));
  ZeroMemory(st.m_aulCaptureDone, sizeof(st.m_aulCaptureDone));
  // Completions of requests the last stop aborted must not count toward this run.
  for (int d = 0; d < 2; ++d)
    ForEachOpened(m_apActive[d], [](CPinSlot& slot) {
      for (CPacket& packet : slot.m_aPackets) ResetEvent(packet.m_ovl.hEvent);
    });
  SetPinStates(KSSTATE_ACQUIRE);
  SetPinStates(KSSTATE_PAUSE);

  m_ullSwitchCount = 0;
  m_ullReportedPosition = 0;
  m_ullRunningPosition = 0;
  m_ullTimeStamp = NowNanoseconds();

  for (ULONG i = 0; i < m_ulQueueDepth; ++i) {
    ForEachOpened(m_apActive[0], [&](CPinSlot& slot) {
      CPacket& packet = slot.m_aPackets[i];
      if (packet.m_ksHeader.Data) ZeroMemory(packet.m_ksHeader.Data, packet.m_ksHeader.FrameExtent);
    });
    ForEachOpened(m_apActive[1], [&](CPinSlot& slot) {
      CPacket& packet = slot.m_aPackets[i];
      packet.m_ksHeader.DataUsed = 0;
      slot.m_pPin->ReadData(&packet.m_ksHeader, &packet.m_ovl);
    });
    ForEachOpened(m_apActive[0], [&](CPinSlot& slot) {
      CPacket& packet = slot.m_aPackets[i];
      slot.m_pPin->WriteData(&packet.m_ksHeader, &packet.m_ovl);
    });
  }
  Sleep(10);
  SetPinStates(KSSTATE_RUN);
  st.m_nEngineState = 3;
  SetEvent(m_hStateAck);
}

void CAsioSample::CompletionStep(CStreamState& st, DWORD dwIndex) {
  if (st.m_nEngineState == 3) ArmWatchdog();
  const bool bRender = dwIndex < kCaptureBase;
  const DWORD offset = dwIndex - (bRender ? kRenderBase : kCaptureBase);
  const ULONG slot = offset / kPacketsPerPin;
  const ULONG half = offset % 2;
  CRateEntry* entry = m_apActive[bRender ? 0 : 1];
  const ULONG opened = entry ? static_cast<ULONG>(entry->m_nOpenedMask) : 0;
  ULONG* done = bRender ? &st.m_aulRenderDone[half] : &st.m_aulCaptureDone[half];
  *done |= 1u << slot;
  if ((*done & opened) != opened) return;
  if (st.m_nEngineState == 3) {
    if (!bRender && m_ullSwitchCount >= m_ulQueueDepth && m_ulBufferSize) {
      const ULONG packet = static_cast<ULONG>((m_ullRunningPosition / m_ulBufferSize + 1) % kPacketsPerPin);
      InputCopy(packet, packet % 2);
    }
    st.m_aulDirectionReady[half] |= bRender ? 1u : 2u;
    if ((st.m_aulDirectionReady[half] & st.m_ulActiveDirections) == st.m_ulActiveDirections) {
      ProcessHalf(half);
      st.m_aulDirectionReady[half] = 0;
    }
  }
  *done = 0;
}

void CAsioSample::ProcessHalf(ULONG ulHalf) {
  if (m_ullSwitchCount != 0) m_ullRunningPosition += m_ulBufferSize;
  // The host's half is that of the buffer being switched to. It equals the completed
  // packet's half while the engine keeps up; when completions of both halves are pending
  // at once the wait reports the lower-numbered packet first, and taking its half would
  // hand the host the half that the output copy does not read.
  ulHalf = static_cast<ULONG>((m_ullRunningPosition / m_ulBufferSize) % 2);
  m_ullTimeStamp = NowNanoseconds();
  const ULONG packet = static_cast<ULONG>((m_ullRunningPosition / m_ulBufferSize + m_ulQueueDepth) % kPacketsPerPin);
  ForEachOpened(m_apActive[1], [&](CPinSlot& slot) {
    CPacket& p = slot.m_aPackets[packet];
    p.m_ksHeader.DataUsed = 0;
    slot.m_pPin->ReadData(&p.m_ksHeader, &p.m_ovl);
  });
  BufferSwitch(ulHalf);
  ForEachOpened(m_apActive[0], [&](CPinSlot& slot) {
    CPacket& p = slot.m_aPackets[packet];
    slot.m_pPin->WriteData(&p.m_ksHeader, &p.m_ovl);
  });
}

void CAsioSample::BufferSwitch(ULONG ulHalf) {
  m_ullReportedPosition = m_ullRunningPosition;
  m_ullReportedTimeStamp = m_ullTimeStamp;
  ++m_ullSwitchCount;
  const bool bTimeInfo = m_anCapabilities[kCapTimeInfo] && m_anHostSupport[kHostTimeInfo];
  if ((bTimeInfo && m_callbacks.bufferSwitchTimeInfo) || !m_callbacks.bufferSwitch) {
    ASIOTime time;
    ZeroMemory(&time, sizeof(time));
    time.timeInfo.speed = 1.0;
    Split(m_ullReportedTimeStamp, &time.timeInfo.systemTime);
    Split(m_ullReportedPosition, &time.timeInfo.samplePosition);
    time.timeInfo.sampleRate = static_cast<double>(m_ulDeviceRate);
    time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    if (m_bRateChanged) {
      time.timeInfo.flags |= kSampleRateChanged;
      m_bRateChanged = 0;
    }
    m_callbacks.bufferSwitchTimeInfo(&time, static_cast<LONG>(ulHalf), ASIOTrue);
  } else {
    m_callbacks.bufferSwitch(static_cast<LONG>(ulHalf), ASIOTrue);
  }
}

void CAsioSample::InputCopy(ULONG ulPacket, ULONG ulHalf) {
  CRateEntry* entry = m_apActive[1];
  if (!entry) return;
  const ULONG bytes = static_cast<ULONG>(m_nBits) / 8;
  for (LONG c = 0; c < entry->m_nChannelSlotCount; ++c) {
    CChannelSlot& channel = entry->m_aChannelSlots[c];
    CPinSlot* slot = channel.m_pPinSlot;
    if (!slot || !slot->m_bOpened || !channel.m_apBuffers[ulHalf]) continue;
    const KSSTREAM_HEADER& header = slot->m_aPackets[ulPacket].m_ksHeader;
    const ULONG frame = slot->m_ulChannels * bytes;
    if (header.DataUsed == 0 || frame == 0 || !header.Data) continue;
    // A device that reports more data than the packet holds is believed only up to the
    // packet, and never more than the host's half can take.
    ULONG samples = (header.DataUsed < header.FrameExtent ? header.DataUsed : header.FrameExtent) / frame;
    if (samples > m_ulBufferSize) samples = m_ulBufferSize;
    const BYTE* source = static_cast<const BYTE*>(header.Data) + channel.m_ulIndex * bytes;
    BYTE* target = channel.m_apBuffers[ulHalf];
    for (ULONG n = 0; n < samples; ++n, source += frame, target += bytes) CopySample(target, source, bytes);
  }
}

void CAsioSample::OutputCopy() {
  CRateEntry* entry = m_apActive[0];
  if (!entry || m_ulBufferSize == 0) return;
  const ULONGLONG n = m_ullReportedPosition / m_ulBufferSize;
  const ULONG half = static_cast<ULONG>(n % 2);
  const ULONG packet = static_cast<ULONG>((n + m_ulQueueDepth) % kPacketsPerPin);
  const ULONG bytes = static_cast<ULONG>(m_nBits) / 8;
  const bool bDsd = IsDsdMode() && m_bDsdReady && m_pDsdScratch;
  const ULONG dsdBytes = m_ulBufferSize / 8;  // one host half of DSD, and the scratch's size
  for (LONG c = 0; c < entry->m_nChannelSlotCount; ++c) {
    CChannelSlot& channel = entry->m_aChannelSlots[c];
    CPinSlot* slot = channel.m_pPinSlot;
    if (!slot || !slot->m_bOpened || !channel.m_apBuffers[half]) continue;
    KSSTREAM_HEADER& header = slot->m_aPackets[packet].m_ksHeader;
    const ULONG frame = slot->m_ulChannels * bytes;
    if (header.FrameExtent == 0 || frame == 0 || !header.Data) continue;
    ULONG samples = header.FrameExtent / frame;
    const BYTE* source = channel.m_apBuffers[half];
    if (bDsd) {
      // Two converters serve output channels 0 and 1; further channels carry silence.
      bool bSilent = c >= 2;
      if (!bSilent) {
        const ULONG probe = dsdBytes < 32 ? dsdBytes : 32;
        bSilent = true;
        for (ULONG i = 0; i < probe && bSilent; ++i) bSilent = source[i] == 0;
      }
      if (bSilent || FAILED(m_aDsd[c].Convert(source, static_cast<int>(dsdBytes), m_pDsdScratch)))
        ZeroMemory(m_pDsdScratch, dsdBytes);
      source = m_pDsdScratch;
      const ULONG available = dsdBytes / bytes;
      if (samples > available) samples = available;
    } else if (samples > m_ulBufferSize) {
      samples = m_ulBufferSize;
    }
    BYTE* target = static_cast<BYTE*>(header.Data) + channel.m_ulIndex * bytes;
    for (ULONG i = 0; i < samples; ++i, source += bytes, target += frame) CopySample(target, source, bytes);
  }
}

}  // namespace t32asio
