// The driver object through its factory: identity, states and what they publish, the
// queries hosts make before streaming, and the settings it takes and leaves.
#include <cstring>
#include <string>

#include "common/settings_store.h"
#include "driver_fixture.h"

namespace drvtest {
namespace {

using t32asio::CAsioClsFactory;

TEST_F(DriverTest, FactoryAnswersOnlyItsInterfacesAndLeavesNothingAlive) {
  const LONG before = t32asio::ObjectCount();
  auto* factory = new CAsioClsFactory(nullptr, m_clsid);
  factory->NonDelegatingAddRef();
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->NonDelegatingQueryInterface(m_clsid, &p), E_FAIL);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(t32asio::LockCount(), 1);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->NonDelegatingRelease();
  EXPECT_EQ(t32asio::ObjectCount(), before);
}

TEST_F(DriverTest, AbsentDeviceGivesNoObjectAndLeavesTheCountsAlone) {
  const LONG before = t32asio::ObjectCount();
  IASIO* driver = reinterpret_cast<IASIO*>(1);
  EXPECT_EQ(Create(&driver), E_FAIL);
  EXPECT_EQ(driver, nullptr);
  EXPECT_EQ(t32asio::ObjectCount(), before);
}

TEST_F(DriverTest, PresentDeviceIsClaimedNamedAndAnsweredUnderItsClassIdentifier) {
  Plug();
  const int periods = t32posix::TimerPeriodRequests();
  IASIO* driver = nullptr;
  ASSERT_EQ(Create(&driver), S_OK);
  EXPECT_EQ(t32posix::TimerPeriodRequests(), periods + 1);  // 1 ms for the object's life
  ASSERT_NE(driver, nullptr);
  ASSERT_TRUE(m_block.OpenExisting());
  EXPECT_EQ(m_block.Block()->DriverState, 1u);
  EXPECT_TRUE(m_block.IsOwnedBy(m_clsid));
  EXPECT_STRNE(m_block.Block()->DeviceName, "");

  void* p = nullptr;
  EXPECT_EQ(driver->QueryInterface(IID_IUnknown, &p), S_OK);
  static_cast<IUnknown*>(p)->Release();
  EXPECT_EQ(driver->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(driver->getDriverVersion(), 2);

  EXPECT_EQ(driver->Release(), 0u);
  EXPECT_EQ(t32posix::TimerPeriodRequests(), periods);
  EXPECT_EQ(m_block.Block()->DriverState, 0u);
  EXPECT_TRUE(IsEqualGUID(m_block.Block()->OwnerClsid, GUID_NULL));
}

TEST_F(DriverTest, InitPublishesTheDeviceAndBufferQueriesFollowTheRate) {
  Plug();
  SetUserDword(t32::kValueSampleRate, 48000);
  ASSERT_TRUE(m_block.OpenOrCreate(nullptr));  // the panel holds the block: settings load at init
  IASIO* driver = CreateInitialized();
  ASSERT_NE(driver, nullptr);
  const t32::StatusBlock* block = m_block.Block();
  EXPECT_EQ(block->DriverState, 2u);
  EXPECT_EQ(block->CurrentSampleRate, 48000u);
  EXPECT_EQ(block->CurrentBuffer, 100u);
  EXPECT_EQ(block->SupportedRateMask, 0x1Fu);
  EXPECT_EQ(block->SupportedWidthMask, 0x0Eu);
  EXPECT_EQ(block->SettingsLoaded, 1u);

  LONG in = 0, out = 0;
  EXPECT_EQ(driver->getChannels(&in, &out), ASE_OK);
  EXPECT_EQ(in, 2);
  EXPECT_EQ(out, 2);
  EXPECT_EQ(driver->getChannels(nullptr, nullptr), ASE_OK);
  LONG minSize, maxSize, preferred, granularity;
  EXPECT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
  EXPECT_EQ(minSize, 96);
  EXPECT_EQ(maxSize, 28800);
  EXPECT_EQ(preferred, 480);
  EXPECT_EQ(granularity, 48);
  LONG inLatency = 0, outLatency = 0;
  EXPECT_EQ(driver->getLatencies(&inLatency, &outLatency), ASE_OK);
  EXPECT_EQ(inLatency, 480);
  EXPECT_EQ(outLatency, 480);
  EXPECT_EQ(driver->getLatencies(nullptr, nullptr), ASE_OK);

  ASIOSampleRate rate = 0;
  EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
  EXPECT_EQ(rate, 48000.0);
  EXPECT_EQ(driver->setSampleRate(44100.0), ASE_OK);
  EXPECT_EQ(driver->getBufferSize(nullptr, nullptr, &preferred, nullptr), ASE_OK);
  EXPECT_EQ(preferred, 441);
  EXPECT_EQ(driver->getLatencies(&inLatency, &outLatency), ASE_OK);
  EXPECT_EQ(inLatency, 440);
  EXPECT_EQ(block->CurrentSampleRate, 44100u);
  driver->Release();
}

TEST_F(DriverTest, PreferencesFromTheBlockAndTheirFallbacks) {
  Plug();
  const struct {
    DWORD bufferSize;  // tenths of a millisecond in the settings key
    DWORD bits;
    LONG preferredAt48k;
    ASIOSampleType type;
  } cases[] = {
      {55, 16, 264, ASIOSTInt16LSB},   // 5.5 ms
      {100, 20, 480, ASIOSTInt32LSB},  // a depth the device lacks: the widest it has
      {100, 24, 480, ASIOSTInt24LSB},
  };
  for (const auto& c : cases) {
    SetUserDword(t32::kValueSampleRate, 48000);
    SetUserDword(t32::kValueBufferSize, c.bufferSize);
    SetUserDword(t32::kValueBitsPerSample, c.bits);
    IASIO* driver = CreateInitialized();  // creates the block and loads the key into it
    ASSERT_NE(driver, nullptr);
    LONG preferred = 0;
    EXPECT_EQ(driver->getBufferSize(nullptr, nullptr, &preferred, nullptr), ASE_OK);
    EXPECT_EQ(preferred, c.preferredAt48k) << c.bufferSize;
    ASIOChannelInfo info{};
    info.channel = 0;
    info.isInput = ASIOFalse;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, c.type) << c.bits;
    driver->Release();
  }
}

TEST_F(DriverTest, WithoutSettingsKeyTheLowestRateAndOnlySampleRateIsSavedAtTheEnd) {
  Plug();
  IASIO* driver = CreateInitialized();
  ASSERT_NE(driver, nullptr);
  ASIOSampleRate rate = 0;
  EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
  EXPECT_EQ(rate, 32000.0);
  EXPECT_EQ(driver->setSampleRate(96000.0), ASE_OK);
  driver->Release();
  HKEY hKey;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, t32::kAsioDriverKey, 0, KEY_READ, &hKey), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_TRUE(t32::ReadDwordSetting(hKey, t32::kValueSampleRate, &value));
  EXPECT_EQ(value, 96000u);
  EXPECT_FALSE(t32::ReadDwordSetting(hKey, t32::kValueBufferSize, &value));
  RegCloseKey(hKey);
}

TEST_F(DriverTest, RatesClocksAndOptionalSelectors) {
  Plug();
  IASIO* driver = CreateInitialized();
  ASSERT_NE(driver, nullptr);
  const struct {
    double rate;
    ASIOError expected;
  } rates[] = {{48000.0, ASE_OK}, {96000.0, ASE_OK}, {192000.0, ASE_NotPresent}, {22050.0, ASE_NotPresent},
               {-1.0, ASE_NotPresent}, {1e300, ASE_NotPresent}, {2822400.0, ASE_OK}};
  for (const auto& r : rates) EXPECT_EQ(driver->canSampleRate(r.rate), r.expected) << r.rate;

  ASSERT_TRUE(m_block.OpenExisting());
  m_block.Block()->SupportedWidthMask = 0x06;  // no 32-bit: no DSD
  EXPECT_EQ(driver->canSampleRate(2822400.0), ASE_NoClock);
  m_block.Block()->SupportedWidthMask = 0x0E;

  ASIOClockSource clocks[2];
  std::memset(clocks, 0x55, sizeof(clocks));
  LONG count = 0;
  EXPECT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(clocks[0].index, 0x55555555);  // nothing filled when the host offered no room
  count = 2;
  EXPECT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
  EXPECT_EQ(count, 1);
  EXPECT_STREQ(clocks[0].name, "Internal");
  EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
  EXPECT_EQ(clocks[0].associatedChannel, -1);
  EXPECT_EQ(driver->setClockSource(1), ASE_OK);
  EXPECT_EQ(driver->setClockSource(2), ASE_NotPresent);

  ASIOIoFormat format;
  std::memset(&format, 0, sizeof(format));
  const struct {
    LONG selector;
    ASIOError expected;
  } selectors[] = {{kAsioEnableTimeCodeRead, ASE_NotPresent}, {kAsioSetInputMonitor, ASE_NotPresent},
                   {kAsioCanInputMonitor, ASE_NotPresent},    {kAsioCanTimeInfo, ASE_SUCCESS},
                   {kAsioCanTimeCode, ASE_NotPresent},        {kAsioCanOutputMeter, ASE_NotPresent},
                   {kAsioOptionalOne, ASE_InvalidParameter},  {kAsioCanDoIoFormat, ASE_SUCCESS},
                   {kAsioSetIoFormat, ASE_InvalidParameter} /* null format */};
  for (const auto& s : selectors)
    EXPECT_EQ(driver->future(s.selector, s.selector == kAsioCanDoIoFormat ? &format : nullptr), s.expected)
        << s.selector;
  format.FormatType = 5;
  EXPECT_EQ(driver->future(kAsioSetIoFormat, &format), ASE_NotPresent);
  EXPECT_EQ(format.FormatType, kASIOFormatInvalid);
  format.FormatType = kASIODSDFormat;
  EXPECT_EQ(driver->future(kAsioSetIoFormat, &format), ASE_SUCCESS);
  format.FormatType = 0;
  EXPECT_EQ(driver->future(kAsioGetIoFormat, &format), ASE_SUCCESS);
  EXPECT_EQ(format.FormatType, kASIODSDFormat);
  driver->Release();
}

TEST_F(DriverTest, ChannelInfoNamesTypesAndRange) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.strFriendlyName.clear();
  for (auto& filter : desc.vFilters) filter.strFriendlyName = "Ternix32";
  Plug(20.0, desc);
  IASIO* driver = CreateInitialized();
  ASSERT_NE(driver, nullptr);
  const struct {
    ASIOBool isInput;
    LONG channel;
    ASIOError expected;
    const char* name;
  } cases[] = {{ASIOFalse, 0, ASE_OK, "Ternix32_OUT_L"}, {ASIOFalse, 1, ASE_OK, "Ternix32_OUT_R"},
               {ASIOTrue, 0, ASE_OK, "Ternix32_IN_L"},   {ASIOTrue, 1, ASE_OK, "Ternix32_IN_R"},
               {ASIOFalse, 2, ASE_InvalidParameter, ""}, {ASIOTrue, -1, ASE_InvalidParameter, ""}};
  for (const auto& c : cases) {
    ASIOChannelInfo info{};
    info.channel = c.channel;
    info.isInput = c.isInput;
    EXPECT_EQ(driver->getChannelInfo(&info), c.expected) << c.name;
    if (c.expected != ASE_OK) continue;
    EXPECT_STREQ(info.name, c.name);
    EXPECT_EQ(info.isActive, ASIOFalse);  // no buffers yet
  }
  EXPECT_EQ(driver->getChannelInfo(nullptr), ASE_InvalidParameter);

  // DSD: every channel is one-bit, and asking switches the driver to 32 bits.
  ASSERT_EQ(driver->setSampleRate(2822400.0), ASE_OK);
  ASIOSampleRate rate = 0;
  EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
  EXPECT_EQ(rate, 2822400.0);
  LONG minSize, maxSize, preferred, granularity;
  EXPECT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
  EXPECT_EQ(minSize, 28224);
  EXPECT_EQ(maxSize, 282240);
  EXPECT_EQ(preferred, 28224);
  EXPECT_EQ(granularity, 28224);
  ASIOChannelInfo info{};
  EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.type, ASIOSTDSDInt8MSB1);
  ASSERT_TRUE(m_block.OpenExisting());
  EXPECT_EQ(m_block.Block()->CurrentBits, 32u);
  EXPECT_EQ(m_block.Block()->CurrentSampleRate, 88200u);
  driver->Release();
}

TEST_F(DriverTest, NullHostPointersNeverCrash) {
  Plug();
  IASIO* driver = CreateInitialized();
  ASSERT_NE(driver, nullptr);
  driver->getDriverName(nullptr);
  driver->getErrorMessage(nullptr);
  EXPECT_EQ(driver->getSampleRate(nullptr), ASE_OK);
  EXPECT_EQ(driver->getClockSources(nullptr, nullptr), ASE_InvalidParameter);
  LONG count = 1;
  EXPECT_EQ(driver->getClockSources(nullptr, &count), ASE_OK);
  EXPECT_EQ(driver->getSamplePosition(nullptr, nullptr), ASE_OK);
  EXPECT_EQ(driver->createBuffers(nullptr, 2, 256, nullptr), ASE_InvalidParameter);
  ASIOCallbacks callbacks = TestCallbacks();
  EXPECT_EQ(driver->createBuffers(nullptr, 2, 256, &callbacks), ASE_InvalidParameter);
  char name[32];
  std::memset(name, 'x', sizeof(name));
  driver->getErrorMessage(name);
  EXPECT_EQ(name[0], 'x');  // no text, the host's buffer untouched
  driver->getDriverName(name);
  EXPECT_LT(std::strlen(name), 32u);
  driver->Release();
}

TEST_F(DriverTest, TransportCallsInTheWrongStateChangeNothing) {
  Plug();
  IASIO* driver = CreateInitialized();
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_EQ(driver->start(), ASE_OK);
  EXPECT_EQ(driver->outputReady(), ASE_OK);
  ASSERT_TRUE(m_block.OpenExisting());
  EXPECT_EQ(m_block.Block()->DriverState, 2u);
  driver->Release();
}

}  // namespace
}  // namespace drvtest
