// In a process without "ksuser.dll" every pin fails to open with ERROR_FILE_NOT_FOUND.
#include <gtest/gtest.h>

#include "kslib/kslib.h"
#include "support/fresh_root.h"

TEST(NoKsUserTest, InstantiateFailsWithFileNotFound) {
  t32test::FreshRoot root;
  HRESULT hr = S_OK;
  CKsAudRenFilter filter("\\\\?\\nothing", "", &hr);
  ASSERT_EQ(hr, S_OK);
  CKsAudPin* pPin = new CKsAudPin(&filter, 0, &hr);
  ASSERT_NE(pPin, nullptr);
  EXPECT_TRUE(FAILED(hr));  // nothing to describe it with, but the connect request exists
  ASSERT_NE(pPin->m_pksPinCreate, nullptr);
  EXPECT_EQ(pPin->Instantiate(FALSE), (HRESULT)0x80070002);
  EXPECT_EQ(pPin->Instantiate(FALSE), (HRESULT)0x80070002);
  delete pPin;
}
