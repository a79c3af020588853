// A fake ASIO driver module for the host's tests. It registers and is created like the real
// driver (the same registry keys, DllGetClassObject with any class identifier, the class
// identifier as interface identifier) and runs a fake clock: on start a thread calls the
// host's buffer switch over and over, with time info when the host supports it. What the
// host hands over through outputReady is kept per output channel.
//
// The environment shapes it, read when an object is created:
//   T32_FAKE_ASIO_INPUTS, T32_FAKE_ASIO_OUTPUTS  channel counts (2 and 2)
//   T32_FAKE_ASIO_SPEED         the clock's speed against real time; 0 (default) as fast
//                               as the host returns from its buffer switches
//   T32_FAKE_ASIO_RESET_AFTER   after that many buffer switches, ask for a reset and stop
//                               calling, as a driver does when its device stalls
//   T32_FAKE_ASIO_STALL_AFTER   after that many buffer switches, stop calling
//   T32_FAKE_ASIO_FAIL_INIT     1: init fails
// Bit depth: HKEY_CURRENT_USER\Software\ASIO\Ternix32 "BitsPerSample" (16, 24, 32; else 32).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/asio/iasio.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

HMODULE g_hModule = nullptr;
std::atomic<LONG> g_nLiveObjects{0};
std::mutex g_lock;  // guards the two below
std::vector<std::vector<BYTE>> g_vvbOutput;
std::string g_strCalls;

const char kAsioKey[] = "Software\\ASIO\\Ternix32";
const double kRates[] = {44100, 48000, 88200, 96000};
constexpr double kDsdRate = 2822400;
constexpr LONG kDsdBuffer = 28224;

LONG EnvNumber(const char* pszName, LONG lDefault) {
  const char* psz = std::getenv(pszName);
  return psz && *psz ? std::atol(psz) : lDefault;
}

void Note(const char* pszCall) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (!g_strCalls.empty()) g_strCalls += ",";
  g_strCalls += pszCall;
}

class CFakeAsio final : public IASIO {
 public:
  explicit CFakeAsio(REFCLSID clsid) : m_clsid(clsid) {
    ++g_nLiveObjects;
    m_lInputs = EnvNumber("T32_FAKE_ASIO_INPUTS", 2);
    m_lOutputs = EnvNumber("T32_FAKE_ASIO_OUTPUTS", 2);
    m_dSpeed = std::atof(std::getenv("T32_FAKE_ASIO_SPEED") ? std::getenv("T32_FAKE_ASIO_SPEED") : "0");
    m_lResetAfter = EnvNumber("T32_FAKE_ASIO_RESET_AFTER", -1);
    m_lStallAfter = EnvNumber("T32_FAKE_ASIO_STALL_AFTER", -1);
    m_bFailInit = EnvNumber("T32_FAKE_ASIO_FAIL_INIT", 0) == 1;
  }
  ~CFakeAsio() {
    StopClock();
    FreeBuffers();
    --g_nLiveObjects;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, m_clsid)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++m_nRefs); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = --m_nRefs;
    if (n == 0) {
      Note("Release");
      delete this;
    }
    return ULONG(n);
  }

  ASIOBool init(void*) override {
    Note("init");
    if (m_bFailInit) return ASIOFalse;
    DWORD dwBits = 0, cb = 4;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAsioKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
      RegQueryValueExA(hKey, "BitsPerSample", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwBits), &cb);
      RegCloseKey(hKey);
    }
    m_lBits = dwBits == 16 || dwBits == 24 ? LONG(dwBits) : 32;
    return ASIOTrue;
  }
  void getDriverName(char* name) override { std::strcpy(name, "Fake Ternix32"); }
  LONG getDriverVersion() override { return 7; }
  void getErrorMessage(char* string) override { std::strcpy(string, m_bFailInit ? "the fake was told to fail" : ""); }
  ASIOError start() override {
    Note("start");
    if (!m_bBuffers) return ASE_InvalidMode;
    StopClock();
    m_bStop = false;
    m_clock = std::thread([this] { RunClock(); });
    return ASE_OK;
  }
  ASIOError stop() override {
    Note("stop");
    StopClock();
    return ASE_OK;
  }
  ASIOError getChannels(LONG* pIn, LONG* pOut) override {
    if (pIn) *pIn = m_lInputs;
    if (pOut) *pOut = m_lOutputs;
    return ASE_OK;
  }
  ASIOError getLatencies(LONG* pIn, LONG* pOut) override {
    LONG l = m_lBufferSize ? m_lBufferSize : LONG(m_dRate / 100);
    if (pIn) *pIn = l;
    if (pOut) *pOut = l;
    return ASE_OK;
  }
  ASIOError getBufferSize(LONG* pMin, LONG* pMax, LONG* pPreferred, LONG* pGranularity) override {
    bool bDsd = m_dRate == kDsdRate;
    if (pMin) *pMin = bDsd ? kDsdBuffer : LONG(m_dRate * 2 / 1000);
    if (pMax) *pMax = bDsd ? 10 * kDsdBuffer : LONG(m_dRate * 600 / 1000);
    if (pPreferred) *pPreferred = bDsd ? kDsdBuffer : LONG(m_dRate / 100);
    if (pGranularity) *pGranularity = bDsd ? kDsdBuffer : LONG(m_dRate / 1000);
    return ASE_OK;
  }
  ASIOError canSampleRate(ASIOSampleRate rate) override {
    if (rate == kDsdRate) return ASE_OK;
    for (double d : kRates)
      if (d == rate) return ASE_OK;
    return ASE_NoClock;
  }
  ASIOError getSampleRate(ASIOSampleRate* pRate) override {
    if (pRate) *pRate = m_dRate;
    return ASE_OK;
  }
  ASIOError setSampleRate(ASIOSampleRate rate) override {
    Note("setSampleRate");
    if (canSampleRate(rate) != ASE_OK) return ASE_NoClock;
    if (rate != m_dRate) m_bRateChanged = true;
    m_dRate = rate;
    return ASE_OK;
  }
  ASIOError getClockSources(ASIOClockSource* pClocks, LONG* pnSources) override {
    if (*pnSources > 0) {
      std::memset(pClocks, 0, sizeof(*pClocks));
      pClocks->isCurrentSource = ASIOTrue;
      std::strcpy(pClocks->name, "Fake clock");
    }
    *pnSources = 1;
    return ASE_OK;
  }
  ASIOError setClockSource(LONG) override { return ASE_OK; }
  ASIOError getSamplePosition(ASIOSamples* pPos, ASIOTimeStamp* pStamp) override {
    ULONGLONG ull = m_ullPosition;
    if (pPos) *pPos = ASIOSamples{ULONG(ull >> 32), ULONG(ull)};
    if (pStamp) *pStamp = ASIOTimeStamp{0, 0};
    return ASE_OK;
  }
  ASIOError getChannelInfo(ASIOChannelInfo* pInfo) override {
    LONG lCount = pInfo->isInput ? m_lInputs : m_lOutputs;
    if (pInfo->channel < 0 || pInfo->channel >= lCount) return ASE_InvalidParameter;
    pInfo->isActive = m_bBuffers ? ASIOTrue : ASIOFalse;
    pInfo->channelGroup = pInfo->isInput ? 1 : 0;
    pInfo->type = SampleType();
    std::snprintf(pInfo->name, sizeof(pInfo->name), "Fake_%s_%d", pInfo->isInput ? "IN" : "OUT",
                  static_cast<int>(pInfo->channel));
    return ASE_OK;
  }
  ASIOError createBuffers(ASIOBufferInfo* pInfos, LONG nChannels, LONG lSize, ASIOCallbacks* pCallbacks) override {
    Note("createBuffers");
    if (!pInfos || nChannels <= 0 || !pCallbacks || m_bBuffers) return ASE_InvalidParameter;
    LONG lMin, lMax;
    getBufferSize(&lMin, &lMax, nullptr, nullptr);
    if (lSize < lMin || lSize > lMax) return ASE_InvalidMode;
    for (LONG i = 0; i < nChannels; ++i)
      if (pInfos[i].channelNum < 0 || pInfos[i].channelNum >= (pInfos[i].isInput ? m_lInputs : m_lOutputs))
        return ASE_InvalidParameter;
    m_lBufferSize = lSize;
    m_callbacks = *pCallbacks;
    size_t cbHalf = HalfBytes();
    for (LONG i = 0; i < nChannels; ++i) {
      m_vBuffers.push_back(pInfos[i]);
      for (void*& pv : pInfos[i].buffers) pv = std::calloc(1, cbHalf);
      m_vBuffers.back() = pInfos[i];
    }
    {
      std::lock_guard<std::mutex> guard(g_lock);
      g_vvbOutput.assign(size_t(m_lOutputs), std::vector<BYTE>());
    }
    m_bTimeInfo = false;
    if (m_callbacks.asioMessage && m_callbacks.asioMessage(kAsioSelectorSupported, kAsioEngineVersion, nullptr, nullptr) &&
        m_callbacks.asioMessage(kAsioEngineVersion, 0, nullptr, nullptr) > 1)
      m_bTimeInfo = m_callbacks.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
    m_bBuffers = true;
    return ASE_OK;
  }
  ASIOError disposeBuffers() override {
    Note("disposeBuffers");
    StopClock();
    FreeBuffers();
    return ASE_OK;
  }
  ASIOError controlPanel() override { return ASE_OK; }
  ASIOError future(LONG selector, void* opt) override {
    if (selector == kAsioSetIoFormat) Note("setIoFormat");
    if (selector == kAsioCanDoIoFormat || selector == kAsioSetIoFormat) return ASE_SUCCESS;
    return ASE_InvalidParameter;
  }
  ASIOError outputReady() override {
    ++m_nOutputReady;
    LONG lIndex = LONG((m_ullPosition / ULONGLONG(m_lBufferSize)) % 2);
    std::lock_guard<std::mutex> guard(g_lock);
    for (const ASIOBufferInfo& b : m_vBuffers) {
      if (b.isInput) continue;
      const BYTE* pb = static_cast<const BYTE*>(b.buffers[lIndex]);
      g_vvbOutput[size_t(b.channelNum)].insert(g_vvbOutput[size_t(b.channelNum)].end(), pb, pb + HalfBytes());
    }
    return ASE_OK;
  }

 private:
  ASIOSampleType SampleType() const {
    if (m_dRate == kDsdRate) return ASIOSTDSDInt8MSB1;
    return m_lBits == 16 ? ASIOSTInt16LSB : m_lBits == 24 ? ASIOSTInt24LSB : ASIOSTInt32LSB;
  }
  size_t HalfBytes() const {
    return m_dRate == kDsdRate ? size_t(m_lBufferSize) / 8 : size_t(m_lBufferSize) * size_t(m_lBits) / 8;
  }
  void StopClock() {
    m_bStop = true;
    if (m_clock.joinable()) m_clock.join();
  }
  void FreeBuffers() {
    for (ASIOBufferInfo& b : m_vBuffers)
      for (void* pv : b.buffers) std::free(pv);
    m_vBuffers.clear();
    m_bBuffers = false;
  }
  void RunClock() {
    auto due = std::chrono::steady_clock::now();
    for (ULONGLONG n = 0; !m_bStop; ++n) {
      if (m_lStallAfter >= 0 && n >= ULONGLONG(m_lStallAfter)) break;
      if (m_lResetAfter >= 0 && n >= ULONGLONG(m_lResetAfter)) {
        m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        break;
      }
      m_ullPosition = n * ULONGLONG(m_lBufferSize);
      LONG lIndex = LONG(n % 2);
      // Input buffers carry a ramp, so a host that reads them sees something.
      for (ASIOBufferInfo& b : m_vBuffers)
        if (b.isInput && m_dRate != kDsdRate) std::memset(b.buffers[lIndex], int(n & 0x3F), HalfBytes());
      if (m_bTimeInfo) {
        ASIOTime time = {};
        time.timeInfo.speed = 1.0;
        time.timeInfo.samplePosition = ASIOSamples{ULONG(m_ullPosition >> 32), ULONG(m_ullPosition)};
        time.timeInfo.sampleRate = m_dRate;
        time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        if (m_bRateChanged.exchange(false)) time.timeInfo.flags |= kSampleRateChanged;
        m_callbacks.bufferSwitchTimeInfo(&time, lIndex, ASIOTrue);
      } else {
        m_callbacks.bufferSwitch(lIndex, ASIOTrue);
      }
      if (m_dSpeed > 0) {
        due += std::chrono::nanoseconds(LONGLONG(m_lBufferSize / m_dRate / m_dSpeed * 1e9));
        std::this_thread::sleep_until(due);
      }
    }
    while (!m_bStop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  std::atomic<LONG> m_nRefs{1};
  CLSID m_clsid;
  LONG m_lInputs, m_lOutputs;
  double m_dSpeed;
  LONG m_lResetAfter, m_lStallAfter;
  bool m_bFailInit;
  LONG m_lBits = 32;
  double m_dRate = 48000;
  std::atomic<bool> m_bRateChanged{false};
  LONG m_lBufferSize = 0;
  bool m_bBuffers = false;
  bool m_bTimeInfo = false;
  ASIOCallbacks m_callbacks = {};
  std::vector<ASIOBufferInfo> m_vBuffers;
  std::thread m_clock;
  std::atomic<bool> m_bStop{true};
  std::atomic<ULONGLONG> m_ullPosition{0};
  std::atomic<ULONG> m_nOutputReady{0};
};

class CFakeFactory final : public IClassFactory {
 public:
  explicit CFakeFactory(REFCLSID clsid) : m_clsid(clsid) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++m_nRefs); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = --m_nRefs;
    if (n == 0) delete this;
    return ULONG(n);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
    auto* pObject = new CFakeAsio(m_clsid);
    HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  std::atomic<LONG> m_nRefs{1};
  CLSID m_clsid;
};

}  // namespace

FAKE_EXPORT BOOL WINAPI DllMain(HINSTANCE hinst, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_hModule = hinst;
  return TRUE;
}

FAKE_EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  auto* pFactory = new CFakeFactory(rclsid);
  HRESULT hr = pFactory->QueryInterface(riid, ppv);
  pFactory->Release();
  return hr;
}

FAKE_EXPORT HRESULT WINAPI DllCanUnloadNow() { return g_nLiveObjects ? S_FALSE : S_OK; }

FAKE_EXPORT HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH] = {};
  if (!GetModuleFileNameA(g_hModule, path, MAX_PATH)) return E_FAIL;
  GUID clsid;
  CoCreateGuid(&clsid);
  WCHAR text[39];
  StringFromGUID2(clsid, text, 39);
  HKEY hKey;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAsioKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr))
    return E_FAIL;
  RegSetValueExW(hKey, L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
  RegSetValueExA(hKey, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), DWORD(std::strlen(path) + 1));
  RegCloseKey(hKey);
  std::wstring key = std::wstring(L"CLSID\\") + text + L"\\InprocServer32";
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr))
    return E_FAIL;
  RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), DWORD(std::strlen(path) + 1));
  RegCloseKey(hKey);
  return S_OK;
}

FAKE_EXPORT HRESULT WINAPI DllUnregisterServer() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAsioKey);
  return S_OK;
}

// For the tests in the host's own process.
FAKE_EXPORT LONG FakeAsioLiveObjects() { return g_nLiveObjects; }

FAKE_EXPORT BOOL FakeAsioOutput(LONG lChannel, std::vector<BYTE>* pvb) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (lChannel < 0 || size_t(lChannel) >= g_vvbOutput.size()) return FALSE;
  *pvb = g_vvbOutput[size_t(lChannel)];
  return TRUE;
}

FAKE_EXPORT void FakeAsioCalls(std::string* pstr) {
  std::lock_guard<std::mutex> guard(g_lock);
  *pstr = g_strCalls;
  g_strCalls.clear();
}
