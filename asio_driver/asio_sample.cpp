// The driver object's life: construction, discovery, init, destruction and the identity
// operations. The IASIO queries, the buffer operations and the streaming engine are in
// their own files.
#include "asio_driver/asio_sample.h"

#include "asio_driver/device_discovery.h"
#include "common/driver_state.h"
#include "common/settings_store.h"
#include "common/text_copy.h"

namespace t32asio {
namespace {

const DSD_ALLOCATOR kModuleDsdAllocator = {ModuleAlloc, ModuleFree};
constexpr char kDefaultDeviceName[] = "Ternix32";

}  // namespace

CAsioSample::CAsioSample(IUnknown* pUnkOuter, HRESULT* phr)
    : CUnknown(pUnkOuter), m_aDsd{CDsdConverter(&kModuleDsdAllocator), CDsdConverter(&kModuleDsdAllocator)} {
  m_clsid = GUID_NULL;
  m_bWidthMask = 0;
  m_szSymbolicLink[0] = 0;
  m_szDeviceName[0] = 0;
  m_nState = t32::kStateUnloaded;
  m_pRenderFilter = nullptr;
  m_pCaptureFilter = nullptr;
  m_bRecords = 0;
  m_nBits = 0;
  m_ulDeviceRate = 0;
  m_nRequestedRate = 0;
  m_bDsdReady = FALSE;
  m_pDsdScratch = nullptr;
  m_llBufferTime = 0;
  m_ulBufferSize = 0;
  m_bRateChanged = 0;
  m_ulMinBufferIndex = 0;
  m_ulQueueDepth = kQueueDepth;
  ZeroMemory(m_aTables, sizeof(m_aTables));
  m_apCurrent[0] = m_apCurrent[1] = nullptr;
  m_apActive[0] = m_apActive[1] = nullptr;
  ZeroMemory(&m_callbacks, sizeof(m_callbacks));
  m_bHaveCallbacks = FALSE;
  m_pSysHandle = nullptr;
  for (HANDLE& h : m_ahCommands) h = nullptr;
  m_hRelayCancel = m_hWatchdogTimer = m_hStateAck = nullptr;
  m_hStreamThread = m_hRelayThread = nullptr;
  m_bEngineObjects = FALSE;
  m_ullRunningPosition = m_ullTimeStamp = m_ullSwitchCount = 0;
  m_ullReportedPosition = m_ullReportedTimeStamp = 0;
  ZeroMemory(m_anCapabilities, sizeof(m_anCapabilities));
  ZeroMemory(m_anHostSupport, sizeof(m_anHostSupport));
  m_bTimeCodeRead = 0;
  m_nIoFormat = kASIOPCMFormat;
  m_bTimerPeriod = FALSE;

  // The first object to open the block creates it and seeds it from the settings key.
  BOOL bCreated = FALSE;
  if (m_block.OpenOrCreate(&bCreated) && bCreated) t32::LoadDriverSettings(Block(), &m_ulDeviceRate);
  if (phr) *phr = S_OK;
}

CAsioSample::~CAsioSample() {
  if (m_bTimerPeriod) timeEndPeriod(1);
  m_bTimerPeriod = FALSE;
  // A running driver is stopped, disposed and saved in turn.
  if (m_nState == t32::kStateRunning) {
    stop();
    m_nState = t32::kStatePrepared;
  }
  if (m_nState == t32::kStatePrepared) {
    disposeBuffers();
    m_nState = t32::kStateInitialized;
  }
  if (m_nState == t32::kStateInitialized) {
    SaveSettings();
    m_nState = t32::kStateLoaded;
  }
  CloseEngineObjects();
  delete m_pRenderFilter;
  delete m_pCaptureFilter;
  m_pRenderFilter = nullptr;
  m_pCaptureFilter = nullptr;
  m_nState = t32::kStateUnloaded;
  m_block.ReleaseIfOwned(m_clsid);
  for (CDsdConverter& converter : m_aDsd) converter.Release();
  ModuleFree(m_pDsdScratch);
  m_pDsdScratch = nullptr;
}

HRESULT STDMETHODCALLTYPE CAsioSample::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown)) return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  if (!IsEqualGUID(m_clsid, GUID_NULL) && IsEqualGUID(riid, m_clsid)) {
    *ppv = static_cast<IASIO*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT CAsioSample::Discover(REFCLSID clsid) {
  CDeviceInfo info;
  ZeroMemory(&info, sizeof(info));
  BOOL bLoaded = FALSE;
  HRESULT hr = DiscoverDevice(clsid, &m_block, &info, &bLoaded);
  if (bLoaded) {
    m_nState = t32::kStateLoaded;
    m_clsid = clsid;
    m_bRecords = 0;
  }
  if (FAILED(hr)) return E_FAIL;
  m_bWidthMask = info.m_bWidthMask;
  CopyMemory(m_szSymbolicLink, info.m_szSymbolicLink, sizeof(m_szSymbolicLink));
  CopyMemory(m_szDeviceName, info.m_szDeviceName, sizeof(m_szDeviceName));
  m_szSymbolicLink[MAX_PATH - 1] = 0;
  m_szDeviceName[MAX_PATH - 1] = 0;
  if (!m_szDeviceName[0]) t32::CopyText(m_szDeviceName, sizeof(m_szDeviceName), kDefaultDeviceName);
  m_bRecords = info.m_bRecords;
  m_bTimerPeriod = TRUE;
  return S_OK;
}

void CAsioSample::SelectCurrentEntries() {
  m_apCurrent[0] = m_ulDeviceRate ? FindRateEntry(m_aTables[0], m_ulDeviceRate) : nullptr;
  m_apCurrent[1] = m_ulDeviceRate ? FindRateEntry(m_aTables[1], m_ulDeviceRate) : nullptr;
}

void CAsioSample::SaveSettings() { t32::SaveDriverSettings(Block(), m_ulDeviceRate); }

ASIOBool CAsioSample::init(void* sysHandle) {
  m_pSysHandle = sysHandle;

  // The filters are opened again here; discovery deleted the ones it probed. A failure
  // keeps what was created until destruction and leaves the state LOADED.
  if (!m_pRenderFilter) {
    HRESULT hr = E_FAIL;
    m_pRenderFilter = new CKsAudRenFilter(m_szSymbolicLink, m_szDeviceName, &hr);
    if (!m_pRenderFilter || FAILED(hr)) return ASIOFalse;
    if (FAILED(m_pRenderFilter->Instantiate()) || FAILED(m_pRenderFilter->EnumerateNodes()) ||
        FAILED(m_pRenderFilter->EnumeratePins()))
      return ASIOFalse;
  }
  if (m_bRecords && !m_pCaptureFilter) {
    HRESULT hr = E_FAIL;
    m_pCaptureFilter = new CKsAudCapFilter(m_szSymbolicLink, m_szDeviceName, &hr);
    if (!m_pCaptureFilter || FAILED(hr)) return ASIOFalse;
    if (FAILED(m_pCaptureFilter->Instantiate()) || FAILED(m_pCaptureFilter->EnumerateNodes()) ||
        FAILED(m_pCaptureFilter->EnumeratePins()))
      return ASIOFalse;
  }

  if (!CreateEngineObjects()) return ASIOFalse;

  t32::LoadDriverSettings(Block(), &m_ulDeviceRate);
  LONG nBits = 0;
  if (OwnsBlock()) {
    m_llBufferTime = static_cast<LONGLONG>(Block()->PreferredBufferTime) * 1000;
    nBits = static_cast<LONG>(Block()->PreferredBits);
  } else {
    m_llBufferTime = 0;
  }
  if (!(t32::WidthMaskBit(static_cast<DWORD>(nBits)) & m_bWidthMask)) nBits = static_cast<LONG>(t32::WidestBits(m_bWidthMask));
  m_nBits = nBits;

  BuildFormatTable(m_aTables[0], &m_pRenderFilter->m_listRenderSinkPins, static_cast<ULONG>(m_nBits));
  BuildFormatTable(m_aTables[1], m_pCaptureFilter ? &m_pCaptureFilter->m_listCaptureSinkPins : nullptr,
                   static_cast<ULONG>(m_nBits));

  if (m_llBufferTime == 0) m_llBufferTime = 100000;
  m_ulQueueDepth = kQueueDepth;

  // The stored rate stays when both directions carry it; otherwise the lowest that both do.
  auto bothSupported = [this](ULONG ulRate) {
    CRateEntry* render = FindRateEntry(m_aTables[0], ulRate);
    CRateEntry* capture = FindRateEntry(m_aTables[1], ulRate);
    return render && capture && render->m_bSupported && capture->m_bSupported;
  };
  if (!bothSupported(m_ulDeviceRate)) {
    m_ulDeviceRate = 0;
    for (DWORD rate : t32::kRateTable)
      if (bothSupported(rate)) {
        m_ulDeviceRate = rate;
        break;
      }
  }

  if (OwnsBlock()) {
    t32::StatusBlock* block = Block();
    block->CurrentBuffer = static_cast<DWORD>(m_llBufferTime / 1000);
    block->CurrentSampleRate = m_ulDeviceRate;
    block->CurrentBits = static_cast<DWORD>(m_nBits);
    m_block.MarkChanged();
  }
  SelectCurrentEntries();

  static const LONG kCapabilities[kCapCount] = {0, 1, 0, 0, 0, 0, 0, 0, 1};
  CopyMemory(m_anCapabilities, kCapabilities, sizeof(m_anCapabilities));
  m_nIoFormat = kASIOPCMFormat;

  m_nState = t32::kStateInitialized;
  if (OwnsBlock()) {
    DWORD rateMask = 0;
    for (int i = 0; i < t32::kRateCount; ++i)
      if (bothSupported(t32::kRateTable[i])) rateMask |= t32::RateMaskBit(i);
    t32::StatusBlock* block = Block();
    block->DriverState = t32::kStateInitialized;
    block->SupportedWidthMask = m_bWidthMask & 0x0F;
    block->SupportedRateMask = rateMask;
    m_block.MarkChanged();
  }
  return ASIOTrue;
}

void CAsioSample::getDriverName(char* name) {
  // Hosts give a 32-byte buffer: the name is cut to 31 characters and its zero.
  t32::CopyText(name, 32, m_szDeviceName);
}

LONG CAsioSample::getDriverVersion() { return 2; }

void CAsioSample::getErrorMessage(char*) {
  // No text is ever written: the host's buffer keeps what it held.
}

}  // namespace t32asio
