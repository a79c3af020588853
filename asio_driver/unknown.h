// The reference-counting base of the objects the driver hands to COM (the class factory
// and the driver object). It supports aggregation: the public IUnknown of a derived class
// forwards to the outer unknown, which is the aggregating object or this base itself.
#pragma once

#include "asio_driver/module_heap.h"
#include "platform/win32.h"

namespace t32asio {

// The non-delegating IUnknown, in the slot order QueryInterface, AddRef, Release.
struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown, public CModuleAllocated {
 public:
  // Counts the object in the module's object count; the reference count starts at 0 and
  // the creator takes the first reference.
  explicit CUnknown(IUnknown* pUnkOuter);
  virtual ~CUnknown();

  // IID_IUnknown gives this object's non-delegating face; anything else E_INVALIDARG.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  // Deletes the object when the count reaches 0. The count is set to 1 first, so a
  // Release made during destruction cannot delete it a second time.
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  IUnknown* OuterUnknown() const { return m_pUnkOuter; }
  LONG RefCount() const { return m_nRef; }

 protected:
  // The object's own IUnknown, handed out for IID_IUnknown and used as the outer unknown
  // when there is no aggregating object: its three operations are the non-delegating ones.
  class CInnerUnknown : public IUnknown {
   public:
    explicit CInnerUnknown(CUnknown* pOwner) : m_pOwner(pOwner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      return m_pOwner->NonDelegatingQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_pOwner->NonDelegatingAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_pOwner->NonDelegatingRelease(); }

   private:
    CUnknown* m_pOwner;
  };

  volatile LONG m_nRef = 0;
  CInnerUnknown m_inner{this};
  IUnknown* m_pUnkOuter;
};

}  // namespace t32asio

// The public IUnknown of a class derived from CUnknown: forwards to the outer unknown.
#define T32_DECLARE_FORWARDING_IUNKNOWN                                                        \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {               \
    return OuterUnknown()->QueryInterface(riid, ppv);                                        \
  }                                                                                          \
  ULONG STDMETHODCALLTYPE AddRef() override { return OuterUnknown()->AddRef(); }             \
  ULONG STDMETHODCALLTYPE Release() override { return OuterUnknown()->Release(); }
