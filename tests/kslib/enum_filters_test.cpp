// Filter enumeration over SetupAPI: categories, aliases, display names.
#include "ks_test_support.h"

namespace kstest {
namespace {

const GUID kCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};

class EnumFiltersTest : public KsTest {
 protected:
  HRESULT Enumerate(CKsEnumFilters& enumerator) { return enumerator.EnumFilters(kCategories, 2); }
  static CKsFilter* First(CKsEnumFilters& enumerator) {
    return enumerator.m_listFilters.IsEmpty() ? nullptr : CKsListOf<CKsFilter>::Item(enumerator.m_listFilters.GetHead());
  }
};

TEST_F(EnumFiltersTest, NoCategoriesEnumerateNothing) {
  PlugDevice();
  CKsEnumFilters enumerator(nullptr);
  const GUID aNull[] = {GUID_NULL, KSCATEGORY_RENDER};
  EXPECT_EQ(enumerator.EnumFilters(aNull, 2), E_FAIL);
  EXPECT_EQ(enumerator.EnumFilters(nullptr, 2), E_FAIL);
  EXPECT_TRUE(enumerator.m_listFilters.IsEmpty());
}

TEST_F(EnumFiltersTest, NoDeviceNoFilters) {
  CKsEnumFilters enumerator(nullptr);
  EXPECT_EQ(Enumerate(enumerator), E_FAIL);
  EXPECT_TRUE(enumerator.m_listFilters.IsEmpty());
  // A device that left is not listed any more.
  PlugDevice();
  EXPECT_EQ(Enumerate(enumerator), S_OK);
  m_pDevice->Unplug();
  EXPECT_EQ(Enumerate(enumerator), E_FAIL);
}

// Filters whose render alias is missing, disabled or stale are skipped quietly; a filter
// that opens but has no usable pins is dropped with a message; the rest are kept in order.
TEST_F(EnumFiltersTest, AliasesAndViability) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  t32emu::FilterDescription base = desc.vFilters[0];
  desc.vFilters.clear();
  auto Add = [&](const char* pszReference, DWORD dwRenderFlags, bool bRenderAlias, bool bPins) {
    t32emu::FilterDescription filter = base;
    filter.strReference = pszReference;
    filter.vInterfaces = {{KSCATEGORY_AUDIO, SPINT_ACTIVE}};
    if (bRenderAlias) filter.vInterfaces.push_back({KSCATEGORY_RENDER, dwRenderFlags});
    if (!bPins) filter.vPins.clear();
    desc.vFilters.push_back(filter);
  };
  Add("first", SPINT_ACTIVE, true, true);
  Add("noalias", SPINT_ACTIVE, false, true);
  Add("disabled", 0, true, true);
  Add("stale", SPINT_ACTIVE | SPINT_REMOVED, true, true);
  Add("nopins", SPINT_ACTIVE, true, false);
  Add("second", SPINT_ACTIVE, true, true);
  PlugDevice(desc);

  TraceLevel = 5;
  CKsEnumFilters enumerator(nullptr);
  ASSERT_EQ(Enumerate(enumerator), S_OK);
  std::vector<std::string> vPaths;
  for (KSLISTLINK* p = enumerator.m_listFilters.GetHead(); p; p = p->pNext)
    vPaths.push_back(CKsListOf<CKsFilter>::Item(p)->m_szSymbolicLink);
  EXPECT_EQ(vPaths, (std::vector<std::string>{AudioPath(0), AudioPath(5)}));
  EXPECT_TRUE(Traced("Failed to get requested DeviceInterfaceAlias"));
  EXPECT_TRUE(Traced("DeviceInterfaceAlias disabled."));
  EXPECT_TRUE(Traced(("Failed to create filter for " + AudioPath(4)).c_str()));
  EXPECT_FALSE(Traced(("Failed to create filter for " + AudioPath(1)).c_str()));
  EXPECT_FALSE(Traced(("Failed to create filter for " + AudioPath(2)).c_str()));
  EXPECT_EQ(CKsListOf<CKsFilter>::Item(enumerator.m_listFilters.GetHead())->m_ulFilterType,
            (ULONG)KSFILTER_TYPE_RENDER);
}

// The name comes from the interface key, then the device's friendly name, then its
// description; without an interface key it stays empty.
TEST_F(EnumFiltersTest, FriendlyNameFallbacks) {
  struct Case {
    const char* pszInterfaceName;
    const char* pszDeviceName;
    const char* pszDeviceDesc;
    const char* pszExpected;
  } cases[] = {
      {"Interface Name", "Device Name", "Description", "Interface Name"},
      {"", "Device Name", "Description", "Device Name"},
      {"", "", "Description", "Description"},
      {"", "", "", ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    t32test::FreshRoot root;
    t32emu::DeviceDescription desc = t32emu::Ternix32Description();
    desc.strInstance = "7&1&0&" + std::to_string(n++);
    desc.vFilters[0].strFriendlyName = c.pszInterfaceName;
    desc.strFriendlyName = c.pszDeviceName;
    desc.strDeviceDesc = c.pszDeviceDesc;
    PlugDevice(desc);
    CKsEnumFilters enumerator(nullptr);
    ASSERT_EQ(Enumerate(enumerator), S_OK);
    ASSERT_NE(First(enumerator), nullptr);
    EXPECT_STREQ(First(enumerator)->m_szFriendlyName, c.pszExpected);
    m_pDevice.reset();
  }
}

}  // namespace
}  // namespace kstest
