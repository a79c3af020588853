// Shared pieces of the driver tests: a fresh root with the emulated Ternix-32 plugged in,
// the driver created through its class factory as COM would, and a recording test host
// whose callbacks note every buffer switch, time info and message.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "asio_driver/asio_sample.h"
#include "asio_driver/class_factory.h"
#include "asio_driver/module_heap.h"
#include "common/registry_names.h"
#include "common/status_block_view.h"
#include "emulator/emulated_device.h"
#include "platform/posix/test_hooks.h"
#include "support/fresh_root.h"

namespace drvtest {

// The host side of one test: what the driver called back, and what the host does in a
// buffer switch (by default: nothing but outputReady).
struct CTestHost {
  std::mutex m_lock;
  std::vector<ULONGLONG> m_vPositions;  // sample position at each buffer switch
  std::vector<ULONG> m_vFlags;          // time info flags at each buffer switch
  std::vector<LONG> m_vHalves;
  std::atomic<int> m_nSwitches{0};
  std::atomic<int> m_nResetRequests{0};
  std::atomic<int> m_nRateChanges{0};
  LONG m_nEngineVersion = 2;
  LONG m_nTimeInfo = 1;
  IASIO* m_pDriver = nullptr;
  // Called in every buffer switch with the half and the switch's index.
  std::function<void(LONG half, int index)> m_fnFill;

  void OnSwitch(LONG half, ULONGLONG position, ULONG flags) {
    int index;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      index = static_cast<int>(m_vPositions.size());
      m_vPositions.push_back(position);
      m_vFlags.push_back(flags);
      m_vHalves.push_back(half);
    }
    if (m_fnFill) m_fnFill(half, index);
    if (m_pDriver) m_pDriver->outputReady();
    m_nSwitches.fetch_add(1);
  }
};

CTestHost*& CurrentHost();
ASIOCallbacks TestCallbacks();

// Waits (in real time) until pred() holds or the time runs out.
bool WaitUntil(const std::function<bool()>& pred, DWORD dwTimeoutMs = 20000);

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Plugs a device (the Ternix-32 by default) running dSpeed times faster than real time.
  t32emu::CEmulatedDevice* Plug(double dSpeed = 20.0,
                                const t32emu::DeviceDescription& desc = t32emu::Ternix32Description());
  // Creates the driver through the factory with the test's class identifier.
  HRESULT Create(IASIO** ppDriver);
  // Creates and initialises the driver; fails the test when that fails.
  IASIO* CreateInitialized();
  void SetUserDword(const char* pszName, DWORD dwValue);
  // Creates buffers for nIn inputs and nOut outputs of nFrames, with the test host.
  ASIOError CreateBuffers(IASIO* pDriver, LONG nIn, LONG nOut, LONG nFrames);

  t32test::FreshRoot m_root;
  std::unique_ptr<t32emu::CEmulatedDevice> m_pDevice;
  GUID m_clsid;
  CTestHost m_host;
  std::vector<ASIOBufferInfo> m_vInfos;
  t32::CStatusBlockView m_block;  // the panel's view of the block
};

}  // namespace drvtest
