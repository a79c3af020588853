// GUIDs and their registry text form: every registration makes a new class identifier.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/win32.h"

namespace {

TEST(Guids, CreatedGuidsAreUniqueAndRoundTripThroughText) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 100; ++i) {
    GUID g;
    ASSERT_EQ(CoCreateGuid(&g), S_OK);
    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
    EXPECT_EQ(std::wstring(text).size(), 38u);
    EXPECT_TRUE(seen.insert(text).second);
    GUID back;
    ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(g, back));
  }
}

TEST(Guids, TextFormIsBracedUpperCaseInMemoryFieldOrder) {
  const GUID g = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  WCHAR text[39];
  ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
  EXPECT_EQ(std::wstring(text), L"{01234567-89AB-CDEF-0123-456789ABCDEF}");
  WCHAR small[38];
  EXPECT_EQ(StringFromGUID2(g, small, 38), 0);
}

TEST(Guids, MalformedTextIsRefused) {
  const wchar_t* bad[] = {L"", L"01234567-89AB-CDEF-0123-456789ABCDEF", L"{01234567-89AB-CDEF-0123-456789ABCDEG}",
                          L"{01234567-89AB-CDEF-0123-456789ABCDEF", L"{0123456789AB-CDEF-0123-456789ABCDEF-}"};
  for (const wchar_t* text : bad) {
    GUID g;
    EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING) << std::wstring(text).size();
  }
  GUID null = {1, 2, 3, {4}};
  EXPECT_EQ(CLSIDFromString(nullptr, &null), S_OK);
  EXPECT_TRUE(IsEqualGUID(null, GUID_NULL));
}

}  // namespace
