// A pin instance of the emulated device: its KS state, its queue of stream requests, and
// the stream position on the device clock. Render instances play (record) the data of
// each queued header; capture instances fill them from the capture source. Every request
// completes through its own OVERLAPPED when its frames are done.
#pragma once

#include <deque>
#include <memory>

#include "emulator/device_core.h"

namespace t32emu {

class CEmuPin : public t32posix::CFileObject {
 public:
  CEmuPin(std::shared_ptr<CDeviceCore> pCore, size_t nFilter, ULONG ulPinId, bool bRender,
          const WAVEFORMATEXTENSIBLE& wfx, std::shared_ptr<CRecording> pRecording);

  BOOL IoControl(DWORD dwCode, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut, LPDWORD pcbReturned,
                 LPOVERLAPPED pOverlapped) override;
  BOOL Cancel() override;
  void OnLastHandleClosed() override;

  // With the core lock held: play or capture what the device clock allows by now.
  void AdvanceLocked(ULONGLONG ullNowNs);
  // With the core lock held: when the request at the head of the queue will be done.
  bool NextDeadlineLocked(ULONGLONG* pullDeviceNs) const;
  // With the core lock held, on unplug: queued requests are forgotten, never completed.
  void DropRequestsLocked() { m_qRequests.clear(); }
  // With the core lock held, after a stall: play on from now instead of catching up.
  void ReanchorLocked() { m_bAnchored = false; }

  size_t FilterIndex() const { return m_nFilter; }
  ULONG PinId() const { return m_ulPinId; }
  KSSTATE StateLocked() const { return m_eState; }

 private:
  struct CStreamRequest {
    PKSSTREAM_HEADER pHeader;
    LPOVERLAPPED pOverlapped;
    DWORD cbOut;
    ULONG ulFrames;
    ULONG ulDone;
  };
  CRequestOutcome PropertyLocked(LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut);
  CRequestOutcome QueueLocked(DWORD dwCode, LPVOID pOut, DWORD cbOut, LPOVERLAPPED pOverlapped, bool* pbQueued);
  void SetStateLocked(KSSTATE eState);
  void TransferLocked(CStreamRequest& request, ULONG ulFrames);
  void CompleteLocked(CStreamRequest& request, DWORD dwError);
  void AbortRequestsLocked();

  std::shared_ptr<CDeviceCore> m_pCore;
  size_t m_nFilter;
  ULONG m_ulPinId;
  bool m_bRender;
  WAVEFORMATEXTENSIBLE m_wfx;
  ULONG m_ulBlockAlign;
  ULONG m_ulRate;
  std::shared_ptr<CRecording> m_pRecording;
  KSSTATE m_eState = KSSTATE_STOP;
  bool m_bResetting = false;
  bool m_bClosed = false;
  std::deque<CStreamRequest> m_qRequests;
  // The stream position: frames done since the last stop, and the device time at which
  // the current run of back-to-back requests started.
  bool m_bAnchored = false;
  ULONGLONG m_ullAnchorNs = 0;
  ULONGLONG m_ullAnchorFrames = 0;
  ULONGLONG m_ullFrames = 0;
};

}  // namespace t32emu
