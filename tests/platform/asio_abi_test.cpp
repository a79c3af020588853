// The ASIO structures as hosts lay them out on Windows (4-byte packing, 32-bit longs),
// on both targets, so that a host built with any compiler meets the same bytes.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/asio/iasio.h"

namespace {

constexpr size_t kPtr = sizeof(void*);

TEST(AsioAbi, StructureSizesAndOffsets) {
  const struct {
    const char* what;
    size_t actual;
    size_t expected;
  } cases[] = {
      {"ASIOSamples", sizeof(ASIOSamples), 8},
      {"ASIOTimeStamp", sizeof(ASIOTimeStamp), 8},
      {"ASIOClockSource", sizeof(ASIOClockSource), 48},
      {"ASIOClockSource.name", offsetof(ASIOClockSource, name), 16},
      {"ASIOChannelInfo", sizeof(ASIOChannelInfo), 52},
      {"ASIOChannelInfo.type", offsetof(ASIOChannelInfo, type), 16},
      {"ASIOChannelInfo.name", offsetof(ASIOChannelInfo, name), 20},
      {"ASIOBufferInfo", sizeof(ASIOBufferInfo), 8 + 2 * kPtr},
      {"ASIOBufferInfo.buffers", offsetof(ASIOBufferInfo, buffers), 8},
      {"AsioTimeInfo", sizeof(AsioTimeInfo), 48},
      {"AsioTimeInfo.systemTime", offsetof(AsioTimeInfo, systemTime), 8},
      {"AsioTimeInfo.samplePosition", offsetof(AsioTimeInfo, samplePosition), 16},
      {"AsioTimeInfo.sampleRate", offsetof(AsioTimeInfo, sampleRate), 24},
      {"AsioTimeInfo.flags", offsetof(AsioTimeInfo, flags), 32},
      {"ASIOTimeCode", sizeof(ASIOTimeCode), 84},
      {"ASIOTimeCode.flags", offsetof(ASIOTimeCode, flags), 16},
      {"ASIOTime", sizeof(ASIOTime), 148},
      {"ASIOTime.timeInfo", offsetof(ASIOTime, timeInfo), 16},
      {"ASIOTime.timeCode", offsetof(ASIOTime, timeCode), 64},
      {"ASIOCallbacks", sizeof(ASIOCallbacks), 4 * kPtr},
      {"ASIOIoFormat", sizeof(ASIOIoFormat), 512},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;
  EXPECT_EQ(sizeof(ASIOBool), 4u);
  EXPECT_EQ(sizeof(ASIOError), 4u);
  EXPECT_EQ(sizeof(ASIOSampleType), 4u);
}

}  // namespace
