// The driver streaming in real time: the emulated Ternix-32 at 96000 Hz with the smallest
// buffer (192 frames, 2 ms), for T32_BENCH_SECONDS (default 60) while busy threads load
// every processor (T32_BENCH_LOAD threads, default one per processor and at least two).
// Prints the buffer switches and the ones missed (gaps of more than one buffer), how late each buffer
// switch came after its packet completed on the device clock (median, 99th percentile,
// maximum), and the stream thread's processor time per buffer switch.
//
// The device completes a packet every 2 ms of its clock; a switch's lateness is its time
// minus the device's timeline, taken from the earliest switches around it, so the best
// case counts as zero. Run with T32_REALTIME=1 (as root) to give the stream thread the
// real-time class that THREAD_PRIORITY_TIME_CRITICAL asks for.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "asio_driver/asio_sample.h"
#include "asio_driver/class_factory.h"
#include "common/registry_names.h"
#include "emulator/emulated_device.h"

namespace {

constexpr LONG kFrames = 192;
constexpr double kRate = 96000.0;

std::vector<double> g_vSwitchSeconds;
std::atomic<int> g_nSwitches{0};
std::atomic<int> g_nResets{0};
double g_dThreadCpu = 0;
IASIO* g_pDriver = nullptr;

double Now(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

void OnSwitch() {
  double now = Now(CLOCK_MONOTONIC);
  int n = g_nSwitches.load();
  if (n < static_cast<int>(g_vSwitchSeconds.size())) g_vSwitchSeconds[n] = now;
  g_pDriver->outputReady();
  g_dThreadCpu = Now(CLOCK_THREAD_CPUTIME_ID);
  g_nSwitches.store(n + 1);
}

void BufferSwitch(LONG, ASIOBool) { OnSwitch(); }
ASIOTime* BufferSwitchTimeInfo(ASIOTime*, LONG, ASIOBool) {
  OnSwitch();
  return nullptr;
}
void RateChanged(ASIOSampleRate) {}
LONG Message(LONG selector, LONG, void*, double*) {
  if (selector == kAsioEngineVersion) return 2;
  if (selector == kAsioSupportsTimeInfo) return 1;
  if (selector == kAsioResetRequest) g_nResets.fetch_add(1);
  return 0;
}

}  // namespace

int main() {
  const char* env = std::getenv("T32_BENCH_SECONDS");
  const int seconds = env ? std::max(1, std::atoi(env)) : 60;
  char root[] = "/tmp/t32bench-XXXXXX";
  if (!mkdtemp(root)) return 1;
  setenv("TERNIX32_ROOT", root, 1);

  t32asio::ModuleAttach(nullptr);
  KsSetAllocator(t32asio::ModuleAlloc, t32asio::ModuleFree);
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.dClockSpeed = 1.0;
  desc.bRecord = false;
  auto device = t32emu::Plug(desc);

  HKEY hKey;
  RegCreateKeyExA(HKEY_CURRENT_USER, t32::kAsioDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
  DWORD rate = 96000, bits = 24;
  RegSetValueExA(hKey, t32::kValueSampleRate, 0, REG_DWORD, reinterpret_cast<BYTE*>(&rate), 4);
  RegSetValueExA(hKey, t32::kValueBitsPerSample, 0, REG_DWORD, reinterpret_cast<BYTE*>(&bits), 4);
  RegCloseKey(hKey);

  GUID clsid;
  CoCreateGuid(&clsid);
  auto* factory = new t32asio::CAsioClsFactory(nullptr, clsid);
  factory->NonDelegatingAddRef();
  if (FAILED(factory->CreateInstance(nullptr, clsid, reinterpret_cast<void**>(&g_pDriver))) ||
      !g_pDriver->init(nullptr)) {
    std::printf("the driver could not be created\n");
    return 1;
  }
  factory->NonDelegatingRelease();
  ASIOBufferInfo infos[4] = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
  static ASIOCallbacks callbacks = {BufferSwitch, RateChanged, Message, BufferSwitchTimeInfo};
  if (g_pDriver->createBuffers(infos, 4, kFrames, &callbacks) != ASE_OK) {
    std::printf("createBuffers failed\n");
    return 1;
  }

  const int expected = static_cast<int>(seconds * kRate / kFrames);
  g_vSwitchSeconds.assign(expected + 1000, 0.0);
  std::atomic<bool> stopLoad{false};
  std::vector<std::thread> load;
  const char* loadEnv = std::getenv("T32_BENCH_LOAD");
  const unsigned loadThreads = loadEnv ? static_cast<unsigned>(std::atoi(loadEnv))
                                       : std::max(2u, std::thread::hardware_concurrency());
  for (unsigned i = 0; i < loadThreads; ++i)
    load.emplace_back([&] {
      volatile unsigned long x = 0;
      while (!stopLoad.load(std::memory_order_relaxed)) x = x + 1;
    });

  const double start = Now(CLOCK_MONOTONIC);
  g_pDriver->start();
  std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 1000 + 20));
  g_pDriver->stop();
  const double elapsed = Now(CLOCK_MONOTONIC) - start;
  stopLoad.store(true);
  for (auto& t : load) t.join();

  const int switches = g_nSwitches.load();
  const int ideal = static_cast<int>(elapsed * kRate / kFrames);
  // The device's timeline is the earliest of the last 64 switches, each moved back by its
  // distance in buffers: after a dropout the device starts again later, and the timeline
  // follows it instead of counting every later switch as late.
  std::vector<double> lateness;
  const double period = kFrames / kRate;
  const int n = std::min(switches, static_cast<int>(g_vSwitchSeconds.size()));
  for (int i = 0; i < n; ++i) {
    double reference = g_vSwitchSeconds[i];
    for (int j = std::max(0, i - 64); j <= i; ++j)
      reference = std::min(reference, g_vSwitchSeconds[j] + (i - j) * period);
    lateness.push_back((g_vSwitchSeconds[i] - reference) * 1e6);
  }
  std::sort(lateness.begin(), lateness.end());
  int late = 0;  // switches that came a whole buffer or more after their packet
  for (double l : lateness) late += l >= period * 1e6;
  // A gap of k periods between two switches means k - 1 switches that never came.
  int missed = 0;
  for (int i = 1; i < n; ++i) {
    const double gap = (g_vSwitchSeconds[i] - g_vSwitchSeconds[i - 1]) / period;
    if (gap > 1.5) missed += static_cast<int>(gap + 0.5) - 1;
  }
  std::printf("real-time stream, 96000 Hz, %ld frames, %d s, %u busy threads, stream thread %s\n",
              static_cast<long>(kFrames), seconds, static_cast<unsigned>(load.size()),
              std::getenv("T32_REALTIME") ? "real-time class" : "normal class");
  std::printf("buffer switches: %d in %.1f s (%d at the nominal rate); missed %d; a buffer or more late: %d; resets %d\n",
              switches, elapsed, ideal, missed, late, g_nResets.load());
  if (!lateness.empty())
    std::printf("completion to buffer switch: median %.1f us, p99 %.1f us, max %.1f us\n", lateness[lateness.size() / 2],
                lateness[lateness.size() * 99 / 100], lateness.back());
  if (switches > 0) std::printf("stream thread CPU per buffer switch: %.2f us\n", g_dThreadCpu * 1e6 / switches);

  g_pDriver->disposeBuffers();
  g_pDriver->Release();
  device.reset();
  std::string command = std::string("rm -rf ") + root;
  return std::system(command.c_str()) == 0 ? 0 : 0;
}
