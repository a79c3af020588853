// Debug output: the KS layer's trace lines go to the debugger through this call.
#include <gtest/gtest.h>

#include "platform/posix/test_hooks.h"
#include "platform/win32.h"

namespace {

TEST(DebugOutput, LinesReachTheSinkInOrderAndNullIsIgnored) {
  t32posix::ClearDebugOutput();
  OutputDebugStringA("first\n");
  OutputDebugStringA(nullptr);
  OutputDebugStringA("second\n");
  EXPECT_EQ(t32posix::DebugOutput(), "first\nsecond\n");
  t32posix::ClearDebugOutput();
  EXPECT_EQ(t32posix::DebugOutput(), "");
}

}  // namespace
