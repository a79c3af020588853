#include "driver_fixture.h"

namespace drvtest {

CTestHost*& CurrentHost() {
  static CTestHost* host = nullptr;
  return host;
}

namespace {

void OnBufferSwitch(LONG half, ASIOBool) {
  CTestHost* host = CurrentHost();
  // Without time info the position comes from the driver, as a host asks for it.
  ASIOSamples pos{};
  ASIOTimeStamp stamp{};
  host->m_pDriver->getSamplePosition(&pos, &stamp);
  host->OnSwitch(half, (static_cast<ULONGLONG>(pos.hi) << 32) | pos.lo, 0);
}

ASIOTime* OnBufferSwitchTimeInfo(ASIOTime* time, LONG half, ASIOBool) {
  const AsioTimeInfo& info = time->timeInfo;
  CurrentHost()->OnSwitch(half, (static_cast<ULONGLONG>(info.samplePosition.hi) << 32) | info.samplePosition.lo,
                          info.flags);
  return nullptr;
}

void OnSampleRateDidChange(ASIOSampleRate) { CurrentHost()->m_nRateChanges.fetch_add(1); }

LONG OnAsioMessage(LONG selector, LONG, void*, double*) {
  CTestHost* host = CurrentHost();
  switch (selector) {
    case kAsioEngineVersion: return host->m_nEngineVersion;
    case kAsioSupportsTimeInfo: return host->m_nTimeInfo;
    case kAsioResetRequest: host->m_nResetRequests.fetch_add(1); return 1;
    default: return 0;
  }
}

}  // namespace

ASIOCallbacks TestCallbacks() {
  ASIOCallbacks callbacks;
  callbacks.bufferSwitch = OnBufferSwitch;
  callbacks.sampleRateDidChange = OnSampleRateDidChange;
  callbacks.asioMessage = OnAsioMessage;
  callbacks.bufferSwitchTimeInfo = OnBufferSwitchTimeInfo;
  return callbacks;
}

bool WaitUntil(const std::function<bool()>& pred, DWORD dwTimeoutMs) {
  DWORD start = GetTickCount();
  while (!pred()) {
    if (GetTickCount() - start > dwTimeoutMs) return false;
    Sleep(2);
  }
  return true;
}

void DriverTest::SetUp() {
  // As the module's DllMain does: the heap, and the KS layer allocating from it.
  t32asio::ModuleAttach(nullptr);
  KsSetAllocator(t32asio::ModuleAlloc, t32asio::ModuleFree);
  CoCreateGuid(&m_clsid);
  CurrentHost() = &m_host;
}

void DriverTest::TearDown() {
  m_block.Close();
  m_pDevice.reset();
  CurrentHost() = nullptr;
  KsSetAllocator(nullptr, nullptr);
  t32asio::ModuleDetach();
}

t32emu::CEmulatedDevice* DriverTest::Plug(double dSpeed, const t32emu::DeviceDescription& desc) {
  t32emu::DeviceDescription copy = desc;
  copy.dClockSpeed = dSpeed;
  m_pDevice = t32emu::Plug(copy);
  return m_pDevice.get();
}

HRESULT DriverTest::Create(IASIO** ppDriver) {
  *ppDriver = nullptr;
  auto* factory = new t32asio::CAsioClsFactory(nullptr, m_clsid);
  if (!factory) return E_OUTOFMEMORY;
  factory->NonDelegatingAddRef();
  HRESULT hr = factory->CreateInstance(nullptr, m_clsid, reinterpret_cast<void**>(ppDriver));
  factory->NonDelegatingRelease();
  if (*ppDriver) m_host.m_pDriver = *ppDriver;
  return hr;
}

IASIO* DriverTest::CreateInitialized() {
  IASIO* driver = nullptr;
  EXPECT_EQ(Create(&driver), S_OK);
  if (!driver) return nullptr;
  EXPECT_EQ(driver->init(nullptr), ASIOTrue);
  return driver;
}

void DriverTest::SetUserDword(const char* pszName, DWORD dwValue) {
  HKEY hKey;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, t32::kAsioDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
  RegCloseKey(hKey);
}

ASIOError DriverTest::CreateBuffers(IASIO* pDriver, LONG nIn, LONG nOut, LONG nFrames) {
  m_vInfos.clear();
  for (LONG i = 0; i < nIn; ++i) m_vInfos.push_back({ASIOTrue, i, {nullptr, nullptr}});
  for (LONG i = 0; i < nOut; ++i) m_vInfos.push_back({ASIOFalse, i, {nullptr, nullptr}});
  static ASIOCallbacks callbacks;
  callbacks = TestCallbacks();
  return pDriver->createBuffers(m_vInfos.data(), static_cast<LONG>(m_vInfos.size()), nFrames, &callbacks);
}

}  // namespace drvtest
