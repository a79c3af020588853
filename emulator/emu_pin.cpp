#include "emulator/emu_pin.h"

#include <algorithm>

#include "emulator/test_signal.h"

namespace t32emu {

CEmuPin::CEmuPin(std::shared_ptr<CDeviceCore> pCore, size_t nFilter, ULONG ulPinId, bool bRender,
                 const WAVEFORMATEXTENSIBLE& wfx, std::shared_ptr<CRecording> pRecording)
    : m_pCore(std::move(pCore)),
      m_nFilter(nFilter),
      m_ulPinId(ulPinId),
      m_bRender(bRender),
      m_wfx(wfx),
      m_ulBlockAlign(wfx.Format.nBlockAlign),
      m_ulRate(wfx.Format.nSamplesPerSec),
      m_pRecording(std::move(pRecording)) {}

BOOL CEmuPin::IoControl(DWORD dwCode, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut, LPDWORD pcbReturned,
                        LPOVERLAPPED pOverlapped) {
  CRequestOutcome outcome;
  bool bMayPend = false;
  {
    std::lock_guard<std::mutex> guard(m_pCore->m_lock);
    if (!m_pCore->m_bPlugged || m_bClosed) {
      outcome = Fail(ERROR_DEVICE_NOT_CONNECTED);
    } else if (dwCode == IOCTL_KS_PROPERTY) {
      outcome = PropertyLocked(pIn, cbIn, pOut, cbOut);
      bMayPend = true;
    } else if (dwCode == IOCTL_KS_RESET_STATE) {
      KSRESET eReset;
      if (pIn == nullptr || cbIn < sizeof(KSRESET)) {
        outcome = Fail(ERROR_INVALID_PARAMETER);
      } else {
        memcpy(&eReset, pIn, sizeof(eReset));
        if (eReset == KSRESET_BEGIN) {
          m_bResetting = true;
          AbortRequestsLocked();
        } else if (eReset == KSRESET_END) {
          m_bResetting = false;
        } else {
          outcome = Fail(ERROR_INVALID_PARAMETER);
        }
      }
    } else if (dwCode == IOCTL_KS_WRITE_STREAM || dwCode == IOCTL_KS_READ_STREAM) {
      bool bQueued = false;
      outcome = QueueLocked(dwCode, pOut, cbOut, pOverlapped, &bQueued);
      if (bQueued) {
        // Requests of an unthrottled device complete right here; others on the clock.
        AdvanceLocked(m_pCore->m_clock.NowNs());
        m_pCore->WakeLocked();
        if (pcbReturned) *pcbReturned = 0;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
      }
    } else {
      outcome = Fail(ERROR_INVALID_FUNCTION);
    }
  }
  return m_pCore->Deliver(outcome, bMayPend, pcbReturned, pOverlapped);
}

CRequestOutcome CEmuPin::PropertyLocked(LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut) {
  KSPROPERTY ksProperty;
  if (pIn == nullptr || cbIn < sizeof(KSPROPERTY)) return Fail(ERROR_INVALID_PARAMETER);
  memcpy(&ksProperty, pIn, sizeof(ksProperty));
  if (!IsEqualGUID(ksProperty.Set, KSPROPSETID_Connection)) return Fail(ERROR_SET_NOT_FOUND);
  if (ksProperty.Id != KSPROPERTY_CONNECTION_STATE) return Fail(ERROR_NOT_FOUND);
  if (ksProperty.Flags == KSPROPERTY_TYPE_GET) {
    ULONG ulState = m_eState;
    return AnswerBytes(&ulState, sizeof(ulState), pOut, cbOut, m_pCore->m_desc.bZeroSizeQuery);
  }
  if (ksProperty.Flags != KSPROPERTY_TYPE_SET) return Fail(ERROR_NOT_FOUND);
  ULONG ulState;
  if (pOut == nullptr || cbOut < sizeof(ulState)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(&ulState, pOut, sizeof(ulState));
  if (ulState > KSSTATE_RUN) return Fail(ERROR_INVALID_PARAMETER);
  SetStateLocked((KSSTATE)ulState);
  return CRequestOutcome();
}

void CEmuPin::SetStateLocked(KSSTATE eState) {
  if (eState == m_eState) return;
  if (m_eState == KSSTATE_RUN) {
    AdvanceLocked(m_pCore->m_clock.NowNs());  // what was played up to now counts
    m_bAnchored = false;
  }
  m_eState = eState;
  if (eState == KSSTATE_STOP) {
    // Stopping flushes the queue and rewinds the stream position.
    AbortRequestsLocked();
    m_ullFrames = 0;
  }
  if (eState == KSSTATE_RUN) {
    AdvanceLocked(m_pCore->m_clock.NowNs());
    m_pCore->WakeLocked();
  }
}

CRequestOutcome CEmuPin::QueueLocked(DWORD dwCode, LPVOID pOut, DWORD cbOut, LPOVERLAPPED pOverlapped,
                                     bool* pbQueued) {
  *pbQueued = false;
  if ((dwCode == IOCTL_KS_WRITE_STREAM) != m_bRender) return Fail(ERROR_INVALID_FUNCTION);
  if (pOverlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  // One header per request.
  if (pOut == nullptr || cbOut < sizeof(KSSTREAM_HEADER)) return Fail(ERROR_INVALID_USER_BUFFER);
  PKSSTREAM_HEADER pHeader = static_cast<PKSSTREAM_HEADER>(pOut);
  if (pHeader->Size < sizeof(KSSTREAM_HEADER) || pHeader->Size != cbOut) return Fail(ERROR_INVALID_PARAMETER);
  if (m_eState == KSSTATE_STOP) return Fail(ERROR_INVALID_DEVICE_STATE);
  if (m_bResetting) return Fail(ERROR_OPERATION_ABORTED);
  ULONG cbData = m_bRender ? pHeader->DataUsed : pHeader->FrameExtent;
  if (m_bRender && pHeader->DataUsed > pHeader->FrameExtent) return Fail(ERROR_INVALID_PARAMETER);
  if (cbData != 0 && pHeader->Data == nullptr) return Fail(ERROR_INVALID_PARAMETER);

  CStreamRequest request;
  request.pHeader = pHeader;
  request.pOverlapped = pOverlapped;
  request.cbOut = cbOut;
  // A render header plays every byte it carries (a partial last frame counts as a frame);
  // a capture header is filled with whole frames.
  request.ulFrames = m_bRender ? (cbData + m_ulBlockAlign - 1) / m_ulBlockAlign : cbData / m_ulBlockAlign;
  request.ulDone = 0;
  if (!m_bRender) pHeader->DataUsed = 0;
  t32posix::BeginOverlapped(pOverlapped);
  m_qRequests.push_back(request);
  *pbQueued = true;
  return CRequestOutcome();
}

void CEmuPin::AdvanceLocked(ULONGLONG ullNowNs) {
  if (m_eState != KSSTATE_RUN || m_pCore->m_desc.bStall || !m_pCore->m_bPlugged) return;
  bool bUnthrottled = m_pCore->m_clock.IsUnthrottled();
  while (!m_qRequests.empty()) {
    CStreamRequest& request = m_qRequests.front();
    if (!m_bAnchored) {
      // The device starts playing this request now; back-to-back requests keep the pace.
      m_bAnchored = true;
      m_ullAnchorNs = ullNowNs;
      m_ullAnchorFrames = m_ullFrames;
    }
    ULONGLONG ullAvailable = ~0ull;
    if (!bUnthrottled) {
      unsigned __int128 due = (unsigned __int128)(ullNowNs - m_ullAnchorNs) * m_ulRate / 1000000000u;
      ULONGLONG ullDue = m_ullAnchorFrames + (ULONGLONG)due;
      ullAvailable = ullDue > m_ullFrames ? ullDue - m_ullFrames : 0;
    }
    ULONG ulNeed = request.ulFrames - request.ulDone;
    ULONG ulTake = (ULONG)std::min<ULONGLONG>(ulNeed, ullAvailable);
    if (ulTake > 0) TransferLocked(request, ulTake);
    if (request.ulDone < request.ulFrames) break;
    CompleteLocked(request, ERROR_SUCCESS);
    m_qRequests.pop_front();
  }
  // A starved stream waits for the next request and starts again from its arrival.
  if (m_qRequests.empty()) m_bAnchored = false;
}

bool CEmuPin::NextDeadlineLocked(ULONGLONG* pullDeviceNs) const {
  if (m_eState != KSSTATE_RUN || m_pCore->m_desc.bStall || m_qRequests.empty() || !m_bAnchored) return false;
  const CStreamRequest& request = m_qRequests.front();
  ULONGLONG ullEndFrame = m_ullFrames + (request.ulFrames - request.ulDone);
  unsigned __int128 ns = (unsigned __int128)(ullEndFrame - m_ullAnchorFrames) * 1000000000u + (m_ulRate - 1);
  *pullDeviceNs = m_ullAnchorNs + (ULONGLONG)(ns / m_ulRate);
  return true;
}

void CEmuPin::TransferLocked(CStreamRequest& request, ULONG ulFrames) {
  BYTE* pbData = static_cast<BYTE*>(request.pHeader->Data);
  size_t cbBegin = (size_t)request.ulDone * m_ulBlockAlign;
  size_t cbEnd = (size_t)(request.ulDone + ulFrames) * m_ulBlockAlign;
  if (m_bRender) {
    cbEnd = std::min<size_t>(cbEnd, request.pHeader->DataUsed);
    if (m_pRecording && m_pCore->m_desc.bRecord)
      m_pRecording->vbData.insert(m_pRecording->vbData.end(), pbData + cbBegin, pbData + cbEnd);
  } else {
    CaptureSource eSource = m_pCore->m_desc.eCaptureSource;
    std::shared_ptr<CRecording> pLoop;
    if (eSource == CaptureSource::kLoopback) {
      // The render stream of the same filter, frame for frame, when its format matches.
      for (const auto& entry : m_pCore->m_mapRecordings)
        if (entry.first.first == m_nFilter && entry.second->wfx.Format.nBlockAlign == m_ulBlockAlign &&
            entry.second->wfx.Format.wBitsPerSample == m_wfx.Format.wBitsPerSample)
          pLoop = entry.second;
    }
    if (eSource == CaptureSource::kSilence || (eSource == CaptureSource::kLoopback && !pLoop)) {
      memset(pbData + cbBegin, m_wfx.Format.wBitsPerSample == 8 ? 0x80 : 0, cbEnd - cbBegin);
    } else {
      for (ULONG f = 0; f < ulFrames; ++f) {
        BYTE* pbFrame = pbData + cbBegin + (size_t)f * m_ulBlockAlign;
        ULONGLONG ullFrame = m_ullFrames + f;
        if (eSource == CaptureSource::kTestSignal) {
          WriteTestSignalFrame(ullFrame, m_wfx, pbFrame);
        } else if (pLoop && (ullFrame + 1) * m_ulBlockAlign <= pLoop->vbData.size()) {
          memcpy(pbFrame, pLoop->vbData.data() + ullFrame * m_ulBlockAlign, m_ulBlockAlign);
        } else {
          memset(pbFrame, m_wfx.Format.wBitsPerSample == 8 ? 0x80 : 0, m_ulBlockAlign);
        }
      }
    }
    request.pHeader->DataUsed = (ULONG)cbEnd;
  }
  request.ulDone += ulFrames;
  m_ullFrames += ulFrames;
}

void CEmuPin::CompleteLocked(CStreamRequest& request, DWORD dwError) {
  t32posix::CompleteOverlapped(request.pOverlapped, dwError, request.cbOut);
}

void CEmuPin::AbortRequestsLocked() {
  while (!m_qRequests.empty()) {
    CompleteLocked(m_qRequests.front(), ERROR_OPERATION_ABORTED);
    m_qRequests.pop_front();
  }
  m_bAnchored = false;
}

BOOL CEmuPin::Cancel() {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  if (m_pCore->m_bPlugged) AbortRequestsLocked();
  return TRUE;
}

void CEmuPin::OnLastHandleClosed() {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  m_bClosed = true;
  if (m_pCore->m_bPlugged) AbortRequestsLocked();
  m_qRequests.clear();
  auto key = std::make_pair(m_nFilter, m_ulPinId);
  if (m_pCore->m_mapInstanceCounts[key] > 0) --m_pCore->m_mapInstanceCounts[key];
  m_pCore->RemovePinLocked(this);
}

}  // namespace t32emu
