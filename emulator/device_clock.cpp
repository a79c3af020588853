#include "emulator/device_clock.h"

namespace t32emu {

CDeviceClock::CDeviceClock(double dSpeed)
    : m_tBaseReal(std::chrono::steady_clock::now()), m_ullBaseDevice(0), m_dSpeed(dSpeed) {}

ULONGLONG CDeviceClock::NowNs() const {
  if (IsUnthrottled()) return m_ullBaseDevice;
  double dReal = (double)std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                             m_tBaseReal)
                     .count();
  return m_ullBaseDevice + (ULONGLONG)(dReal * m_dSpeed);
}

CDeviceClock::RealTime CDeviceClock::RealTimeOf(ULONGLONG ullDeviceNs) const {
  if (IsUnthrottled() || ullDeviceNs <= m_ullBaseDevice) return m_tBaseReal;
  double dReal = (double)(ullDeviceNs - m_ullBaseDevice) / m_dSpeed;
  return m_tBaseReal + std::chrono::nanoseconds((long long)dReal + 1);
}

void CDeviceClock::SetSpeed(double dSpeed) {
  m_ullBaseDevice = NowNs();
  m_tBaseReal = std::chrono::steady_clock::now();
  m_dSpeed = dSpeed;
}

}  // namespace t32emu
