// The COM base: counts, the delete-once rule, aggregation, and the module heap.
#include <gtest/gtest.h>

#include "asio_driver/unknown.h"

namespace {

using t32asio::CUnknown;

class ModuleHeapFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(t32asio::ModuleAttach(nullptr)); }
};

// Releases a reference to itself while it is being destroyed, as an object that holds
// an interface on its own outer unknown would.
class CSelfReleasing : public CUnknown {
 public:
  explicit CSelfReleasing(int* pDeletes) : CUnknown(nullptr), m_pDeletes(pDeletes) {}
  ~CSelfReleasing() override {
    ++*m_pDeletes;
    NonDelegatingAddRef();
    NonDelegatingRelease();
  }
  int* m_pDeletes;
};

TEST_F(ModuleHeapFixture, LastReleaseDeletesExactlyOnceAndObjectCountReturns) {
  LONG before = t32asio::ObjectCount();
  int deletes = 0;
  auto* object = new CSelfReleasing(&deletes);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(t32asio::ObjectCount(), before + 1);
  EXPECT_EQ(object->RefCount(), 0);
  EXPECT_EQ(object->NonDelegatingAddRef(), 1u);
  EXPECT_EQ(object->NonDelegatingAddRef(), 2u);
  EXPECT_EQ(object->NonDelegatingRelease(), 1u);
  EXPECT_EQ(object->NonDelegatingRelease(), 0u);
  EXPECT_EQ(deletes, 1);
  EXPECT_EQ(t32asio::ObjectCount(), before);
}

TEST_F(ModuleHeapFixture, BaseQueryInterfaceAnswersOnlyIUnknown) {
  int deletes = 0;
  auto* object = new CSelfReleasing(&deletes);
  object->NonDelegatingAddRef();
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->NonDelegatingQueryInterface(IID_IClassFactory, &p), E_INVALIDARG);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(object->NonDelegatingQueryInterface(IID_IUnknown, &p), S_OK);
  // The unaggregated object's own IUnknown reaches the non-delegating operations.
  auto* unknown = static_cast<IUnknown*>(p);
  EXPECT_EQ(unknown, object->OuterUnknown());
  EXPECT_EQ(unknown->AddRef(), 3u);
  EXPECT_EQ(unknown->Release(), 2u);
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(object->NonDelegatingRelease(), 0u);
  EXPECT_EQ(deletes, 1);
}

TEST_F(ModuleHeapFixture, AllocationsAreZeroFilledAndFailCleanlyWithoutAHeap) {
  auto* p = static_cast<unsigned char*>(t32asio::ModuleAlloc(256));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(p[i], 0);
  t32asio::ModuleFree(p);
  t32asio::ModuleDetach();
  EXPECT_EQ(t32asio::ModuleAlloc(16), nullptr);
  int deletes = 0;
  EXPECT_EQ(new CSelfReleasing(&deletes), nullptr);  // no heap: no object, no constructor
}

}  // namespace
