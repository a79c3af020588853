// The shared tables: both deliverables read the same bits the same way.
#include <gtest/gtest.h>

#include "common/device_table.h"
#include "common/driver_state.h"
#include "common/rate_table.h"

namespace {

TEST(RateTable, IndicesAndMaskBitsFollowTheTableOrder) {
  const struct {
    DWORD rate;
    int index;
  } cases[] = {{32000, 0}, {44100, 1}, {48000, 2}, {88200, 3}, {96000, 4}, {22050, -1}, {2822400, -1}};
  for (const auto& c : cases) EXPECT_EQ(t32::RateIndex(c.rate), c.index) << c.rate;
  EXPECT_EQ(t32::RateMaskBit(1), 2u);  // the default "SupportSampleRate" of 2 means 44100 only
}

TEST(WidthMask, BitsAndWidestDepth) {
  EXPECT_EQ(t32::WidthMaskBit(16), 0x2u);
  EXPECT_EQ(t32::WidthMaskBit(24), 0x4u);
  EXPECT_EQ(t32::WidthMaskBit(32), 0x8u);
  EXPECT_EQ(t32::WidthMaskBit(20), 0u);
  EXPECT_EQ(t32::WidestBits(0x6), 24u);
  EXPECT_EQ(t32::WidestBits(0xE), 32u);
  EXPECT_EQ(t32::WidestBits(0x1), 0u);  // bit 0 is unused
}

TEST(DriverState, LabelsAndUnknownValues) {
  const char* labels[] = {"UNLOAD", "LOADED", "INITIALIZED", "PREPARED", "RUNNING"};
  for (DWORD s = 0; s < 5; ++s) EXPECT_STREQ(t32::DriverStateLabel(s), labels[s]);
  EXPECT_STREQ(t32::DriverStateLabel(5), "UNLOAD");
  EXPECT_STREQ(t32::DriverStateLabel(0xFFFFFFFF), "UNLOAD");
}

TEST(DeviceTable, OnlyEntryZeroIsTheProduct) {
  EXPECT_TRUE(t32::IsTableDevice(T32_USB_VENDOR_ID, T32_USB_PRODUCT_ID));
  EXPECT_FALSE(t32::IsTableDevice(0, 0));  // unused entries never match
  EXPECT_FALSE(t32::IsTableDevice(T32_USB_VENDOR_ID, T32_USB_PRODUCT_ID + 1));
}

}  // namespace
