// The per-user settings key as the driver and the panel load and save it.
#include <gtest/gtest.h>

#include <cstring>

#include "common/registry_names.h"
#include "common/settings_store.h"
#include "support/fresh_root.h"

namespace {

using t32::StatusBlock;

class SettingsKey : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteKey();
    std::memset(&m_block, 0, sizeof(m_block));
    m_block.Magic = t32::kStatusBlockMagic;
  }
  void TearDown() override { DeleteKey(); }

  static void DeleteKey() {
    HKEY hAsio;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, t32::kAsioKey, 0, KEY_ALL_ACCESS, &hAsio) == ERROR_SUCCESS) {
      RegDeleteKeyA(hAsio, t32::kDriverSubkey);
      RegCloseKey(hAsio);
    }
  }
  static HKEY CreateKey() {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, t32::kAsioDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                              nullptr),
              ERROR_SUCCESS);
    return hKey;
  }
  static void Put(HKEY hKey, const char* name, DWORD type, const void* data, DWORD cb) {
    ASSERT_EQ(RegSetValueExA(hKey, name, 0, type, static_cast<const BYTE*>(data), cb), ERROR_SUCCESS);
  }
  static void PutDword(HKEY hKey, const char* name, DWORD value) { Put(hKey, name, REG_DWORD, &value, 4); }
  static bool Read(const char* name, DWORD* value) {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, t32::kAsioDriverKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    BOOL ok = t32::ReadDwordSetting(hKey, name, value);
    RegCloseKey(hKey);
    return ok != FALSE;
  }

  t32test::FreshRoot m_root;
  StatusBlock m_block;
};

TEST_F(SettingsKey, DriverLoadWithoutKeyReadsNothing) {
  DWORD rate = 12345;
  t32::LoadDriverSettings(&m_block, &rate);
  EXPECT_EQ(rate, 12345u);
  EXPECT_EQ(m_block.SettingsLoaded, 0u);
  EXPECT_EQ(m_block.Changed, 0u);
}

TEST_F(SettingsKey, DriverLoadTakesEachValueOrItsOwnDefault) {
  HKEY hKey = CreateKey();
  PutDword(hKey, t32::kValueBufferSize, 55);
  const DWORD binaryWidths = 0x0E;
  Put(hKey, t32::kValueSupportBitsPerSample, REG_BINARY, &binaryWidths, 4);  // any 4-byte value is taken
  const BYTE eightBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Put(hKey, t32::kValueBitsPerSample, REG_BINARY, eightBytes, 8);  // longer than 4 bytes: unreadable
  const WORD twoBytes = 0x0003;
  Put(hKey, t32::kValueSupportSampleRate, REG_BINARY, &twoBytes, 2);  // shorter: unreadable too
  RegCloseKey(hKey);

  DWORD rate = 0;
  t32::LoadDriverSettings(&m_block, &rate);
  EXPECT_EQ(rate, 44100u);  // no "SampleRate" in an existing key
  EXPECT_EQ(m_block.PreferredBufferTime, 55u);
  EXPECT_EQ(m_block.PreferredBits, 16u);
  EXPECT_EQ(m_block.SupportedRateMask, 2u);
  EXPECT_EQ(m_block.SupportedWidthMask, 0x0Eu);
  EXPECT_EQ(m_block.SettingsLoaded, 1u);
  EXPECT_EQ(m_block.Changed, 1u);
}

TEST_F(SettingsKey, DriverLoadLeavesAlreadyLoadedOrInvalidBlocksAlone) {
  HKEY hKey = CreateKey();
  PutDword(hKey, t32::kValueSampleRate, 48000);
  PutDword(hKey, t32::kValueBufferSize, 55);
  RegCloseKey(hKey);
  m_block.SettingsLoaded = 1;
  m_block.PreferredBufferTime = 200;
  DWORD rate = 0;
  t32::LoadDriverSettings(&m_block, &rate);
  EXPECT_EQ(rate, 48000u);
  EXPECT_EQ(m_block.PreferredBufferTime, 200u);

  m_block.SettingsLoaded = 0;
  m_block.Magic = 0;
  t32::LoadDriverSettings(&m_block, &rate);
  EXPECT_EQ(m_block.PreferredBufferTime, 200u);
  t32::LoadDriverSettings(nullptr, &rate);  // no block at all
  EXPECT_EQ(rate, 48000u);
}

TEST_F(SettingsKey, DriverSaveWritesPreferencesOnlyWhenTheyWereLoaded) {
  m_block.PreferredBufferTime = 70;
  t32::SaveDriverSettings(&m_block, 88200);
  DWORD value = 0;
  ASSERT_TRUE(Read(t32::kValueSampleRate, &value));
  EXPECT_EQ(value, 88200u);
  EXPECT_FALSE(Read(t32::kValueBufferSize, &value));

  m_block.SettingsLoaded = 1;
  m_block.PreferredBits = 24;
  m_block.SupportedRateMask = 0x1F;
  m_block.SupportedWidthMask = 0x0C;
  t32::SaveDriverSettings(&m_block, 48000);
  const struct {
    const char* name;
    DWORD expected;
  } cases[] = {{t32::kValueSampleRate, 48000},
               {t32::kValueBufferSize, 70},
               {t32::kValueBitsPerSample, 24},
               {t32::kValueSupportSampleRate, 0x1F},
               {t32::kValueSupportBitsPerSample, 0x0C}};
  for (const auto& c : cases) {
    ASSERT_TRUE(Read(c.name, &value)) << c.name;
    EXPECT_EQ(value, c.expected) << c.name;
  }
}

TEST_F(SettingsKey, PanelLoadGivesDefaultsWithoutKeyAndPanelSaveWritesItsTwoValues) {
  t32::LoadPanelSettings(&m_block);
  EXPECT_EQ(m_block.PreferredBufferTime, 100u);
  EXPECT_EQ(m_block.PreferredBits, 16u);
  EXPECT_EQ(m_block.SupportedRateMask, 2u);
  EXPECT_EQ(m_block.SupportedWidthMask, 2u);
  EXPECT_EQ(m_block.SettingsLoaded, 1u);
  EXPECT_EQ(m_block.Changed, 0u);

  m_block.PreferredBufferTime = 250;
  m_block.PreferredBits = 32;
  t32::SavePanelSettings(&m_block);
  DWORD value = 0;
  ASSERT_TRUE(Read(t32::kValueBufferSize, &value));
  EXPECT_EQ(value, 250u);
  ASSERT_TRUE(Read(t32::kValueBitsPerSample, &value));
  EXPECT_EQ(value, 32u);
  EXPECT_FALSE(Read(t32::kValueSampleRate, &value));
  EXPECT_FALSE(Read(t32::kValueSupportSampleRate, &value));
}

TEST_F(SettingsKey, PanelFolderIsAlwaysATerminatedString) {
  char folder[16];
  EXPECT_FALSE(t32::ReadPanelFolder(folder, sizeof(folder)));
  EXPECT_STREQ(folder, "");
  HKEY hKey = CreateKey();
  Put(hKey, t32::kValueAsioCpl, REG_BINARY, "C:\\Panel\\", 9);  // stored without its zero
  RegCloseKey(hKey);
  ASSERT_TRUE(t32::ReadPanelFolder(folder, sizeof(folder)));
  EXPECT_STREQ(folder, "C:\\Panel\\");
  char small[4];
  EXPECT_FALSE(t32::ReadPanelFolder(small, sizeof(small)));  // too long for the buffer
  EXPECT_STREQ(small, "");
}

}  // namespace
