// The device clock: device time runs at a settable multiple of real time, so streams can
// play in real time (the demo) or faster (tests, benchmarks).
#pragma once

#include <chrono>

#include "platform/win32.h"

namespace t32emu {

class CDeviceClock {
 public:
  using RealTime = std::chrono::steady_clock::time_point;

  explicit CDeviceClock(double dSpeed);
  // Device nanoseconds since the clock started.
  ULONGLONG NowNs() const;
  // When device time ullDeviceNs will be reached in real time.
  RealTime RealTimeOf(ULONGLONG ullDeviceNs) const;
  // Changes the speed from now on; 0 (or less) means unthrottled.
  void SetSpeed(double dSpeed);
  bool IsUnthrottled() const { return m_dSpeed <= 0.0; }

 private:
  RealTime m_tBaseReal;
  ULONGLONG m_ullBaseDevice;
  double m_dSpeed;
};

}  // namespace t32emu
