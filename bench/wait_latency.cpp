// Wake-up latency of WaitForMultipleObjects on 52 handles (the stream thread's wait):
// the time from SetEvent on one thread to the waiter running, one-shot and at a steady
// 2000 wake-ups per second. Prints median and 99th percentile in microseconds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Shared {
  HANDLE events[52];
  std::atomic<long long> signalledAt{0};
  std::atomic<bool> stop{false};
  std::vector<double> latencies;
};

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

DWORD WINAPI Waiter(LPVOID p) {
  auto* s = static_cast<Shared*>(p);
  for (;;) {
    DWORD r = WaitForMultipleObjects(52, s->events, FALSE, INFINITE);
    long long now = NowNs();
    if (s->stop.load()) return 0;
    if (r < WAIT_OBJECT_0 + 52) s->latencies.push_back((now - s->signalledAt.load()) / 1000.0);
  }
}

void Report(const char* what, std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return;
  std::printf("%-34s n=%zu median=%.1f us p99=%.1f us max=%.1f us\n", what, v.size(), v[v.size() / 2],
              v[v.size() * 99 / 100], v.back());
}

void Run(const char* what, int count, int perSecond) {
  Shared s;
  for (HANDLE& h : s.events) h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  s.latencies.reserve(count);
  HANDLE thread = CreateThread(nullptr, 0, Waiter, &s, 0, nullptr);
  SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
  auto next = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (perSecond > 0) {
      next += std::chrono::microseconds(1000000 / perSecond);
      std::this_thread::sleep_until(next);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the waiter is asleep again
    }
    s.signalledAt.store(NowNs());
    SetEvent(s.events[i % 52]);
  }
  Sleep(20);
  s.stop.store(true);
  SetEvent(s.events[0]);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  for (HANDLE h : s.events) CloseHandle(h);
  Report(what, s.latencies);
}

}  // namespace

int main() {
  Run("one-shot wake-ups (52 handles)", 1000, 0);
  Run("2000 wake-ups/s (52 handles)", 10000, 2000);
  return 0;
}
