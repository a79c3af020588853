// SetupAPI device-interface enumeration as the KS layer relies on it: class snapshots,
// the detail size query, aliases by reference string, and device properties.
#include <gtest/gtest.h>

#include <vector>

#include "platform/posix/device_interfaces.h"
#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

DWORD PublishSpeaker(const char* pszInstance, DWORD dwRenderFlags) {
  t32posix::DeviceNodeEntry node{std::string("USB\\VID_1234&PID_5678&MI_00\\") + pszInstance, "Speaker", "USB Audio"};
  std::vector<t32posix::DeviceInterfaceEntry> vInterfaces = {
      {KSCATEGORY_AUDIO, "wave", SPINT_ACTIVE, {}},
      {KSCATEGORY_RENDER, "wave", dwRenderFlags, {}},
      {KSCATEGORY_AUDIO, "topo", SPINT_ACTIVE, {}},
  };
  return t32posix::PublishDevice(node, vInterfaces);
}

SP_DEVICE_INTERFACE_DATA InterfaceData() {
  SP_DEVICE_INTERFACE_DATA data;
  memset(&data, 0, sizeof(data));
  data.cbSize = sizeof(data);
  return data;
}

class SetupApiTest : public ::testing::Test {
 protected:
  t32test::FreshRoot m_root;
};

TEST_F(SetupApiTest, EnumeratesASnapshotOfTheClass) {
  DWORD dwDevInst = PublishSpeaker("1&aa&0&0000", SPINT_ACTIVE);
  HDEVINFO hSet = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(hSet, INVALID_HANDLE_VALUE);
  t32posix::RemoveDevice(dwDevInst);  // the snapshot keeps what it saw

  std::vector<std::string> vPaths;
  for (DWORD i = 0;; ++i) {
    SP_DEVICE_INTERFACE_DATA data = InterfaceData();
    if (!SetupDiEnumDeviceInterfaces(hSet, NULL, &KSCATEGORY_AUDIO, i, &data)) {
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
      break;
    }
    EXPECT_TRUE(IsEqualGUID(data.InterfaceClassGuid, KSCATEGORY_AUDIO));
    EXPECT_EQ(data.Flags, (DWORD)SPINT_ACTIVE);

    DWORD cbRequired = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(hSet, &data, NULL, 0, &cbRequired, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> vbDetail(cbRequired);
    auto* pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(vbDetail.data());
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + 1;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, cbRequired, NULL, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA devInfo;
    memset(&devInfo, 0, sizeof(devInfo));
    devInfo.cbSize = sizeof(devInfo);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, cbRequired, NULL, &devInfo));
    EXPECT_EQ(devInfo.DevInst, dwDevInst);
    vPaths.push_back(pDetail->DevicePath);
  }
  EXPECT_EQ(vPaths, (std::vector<std::string>{
                        "\\\\?\\usb#vid_1234&pid_5678&mi_00#1&aa&0&0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave",
                        "\\\\?\\usb#vid_1234&pid_5678&mi_00#1&aa&0&0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\topo"}));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(hSet));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(hSet));

  // A new snapshot no longer holds the device that left.
  hSet = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data = InterfaceData();
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(hSet, NULL, &KSCATEGORY_AUDIO, 0, &data));
  SetupDiDestroyDeviceInfoList(hSet);
}

TEST_F(SetupApiTest, AliasesShareTheReferenceString) {
  DWORD dwDevInst = PublishSpeaker("1&bb&0&0000", 0);  // the render alias exists but is disabled
  HDEVINFO hSet = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA wave = InterfaceData(), topo = InterfaceData(), alias = InterfaceData();
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(hSet, NULL, &KSCATEGORY_AUDIO, 0, &wave));
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(hSet, NULL, &KSCATEGORY_AUDIO, 1, &topo));
  ASSERT_TRUE(SetupDiGetDeviceInterfaceAlias(hSet, &wave, &KSCATEGORY_RENDER, &alias));
  EXPECT_EQ(alias.Flags, 0u);
  EXPECT_TRUE(IsEqualGUID(alias.InterfaceClassGuid, KSCATEGORY_RENDER));
  EXPECT_FALSE(SetupDiGetDeviceInterfaceAlias(hSet, &topo, &KSCATEGORY_RENDER, &alias));
  EXPECT_FALSE(SetupDiGetDeviceInterfaceAlias(hSet, &wave, &KSCATEGORY_CAPTURE, &alias));
  SetupDiDestroyDeviceInfoList(hSet);

  // DIGCF_PRESENT lists enabled interfaces only.
  hSet = SetupDiGetClassDevsA(&KSCATEGORY_RENDER, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(hSet, NULL, &KSCATEGORY_RENDER, 0, &alias));
  SetupDiDestroyDeviceInfoList(hSet);
  t32posix::RemoveDevice(dwDevInst);
}

TEST_F(SetupApiTest, DeviceRegistryProperties) {
  t32posix::DeviceNodeEntry node{"USB\\VID_1234&PID_5678&MI_00\\1&cc&0&0000", "", "USB Audio"};
  DWORD dwDevInst = t32posix::PublishDevice(node, {{KSCATEGORY_AUDIO, "wave", SPINT_ACTIVE, {}}});
  HDEVINFO hSet = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data = InterfaceData();
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(hSet, NULL, &KSCATEGORY_AUDIO, 0, &data));
  SP_DEVINFO_DATA devInfo;
  memset(&devInfo, 0, sizeof(devInfo));
  devInfo.cbSize = sizeof(devInfo);
  char sz[64];
  ASSERT_FALSE(SetupDiGetDeviceInterfaceDetailA(hSet, &data, NULL, 0, NULL, &devInfo));
  DWORD dwType = 0, cbRequired = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hSet, &devInfo, SPDRP_FRIENDLYNAME, &dwType, (BYTE*)sz, sizeof(sz), NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hSet, &devInfo, SPDRP_DEVICEDESC, &dwType, (BYTE*)sz, 4, &cbRequired));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(cbRequired, 10u);
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(hSet, &devInfo, SPDRP_DEVICEDESC, &dwType, (BYTE*)sz, sizeof(sz), NULL));
  EXPECT_STREQ(sz, "USB Audio");
  EXPECT_EQ(dwType, (DWORD)REG_SZ);
  SetupDiDestroyDeviceInfoList(hSet);
  t32posix::RemoveDevice(dwDevInst);
}

}  // namespace
