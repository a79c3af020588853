// Multimedia timer functions.
#include "winmm.h"

#include <time.h>

#include <atomic>

#include "test_hooks.h"

namespace {
std::atomic<int> g_nPeriodCount{0};
}

namespace t32posix {
int TimerPeriodRequests() { return g_nPeriodCount.load(); }
}  // namespace t32posix

extern "C" {

DWORD WINAPI timeGetTime(void) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<unsigned long long>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod) {
  if (uPeriod == 0 || uPeriod > 1000) return TIMERR_NOCANDO;
  g_nPeriodCount.fetch_add(1);
  return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT uPeriod) {
  if (uPeriod == 0 || uPeriod > 1000) return TIMERR_NOCANDO;
  // An end without a matching begin is refused, as Windows refuses it.
  int count = g_nPeriodCount.load();
  while (count > 0 && !g_nPeriodCount.compare_exchange_weak(count, count - 1)) {
  }
  return count > 0 ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

}  // extern "C"
