#include "asio_driver/unknown.h"

namespace t32asio {
namespace {

// The object's own IUnknown when it is not aggregated: a thin face whose three slots are
// the non-delegating ones. INonDelegatingUnknown has the same slot layout as IUnknown.
IUnknown* AsUnknown(INonDelegatingUnknown* p) { return reinterpret_cast<IUnknown*>(p); }

}  // namespace

CUnknown::CUnknown(IUnknown* pUnkOuter) : m_pUnkOuter(pUnkOuter ? pUnkOuter : AsUnknown(this)) { AddObject(); }

CUnknown::~CUnknown() { RemoveObject(); }

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_INVALIDARG;
  if (IsEqualGUID(riid, IID_IUnknown)) {
    *ppv = static_cast<INonDelegatingUnknown*>(this);
    NonDelegatingAddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_INVALIDARG;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_nRef)); }

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
  LONG n = InterlockedDecrement(&m_nRef);
  if (n == 0) {
    m_nRef = 1;
    delete this;
    return 0;
  }
  return static_cast<ULONG>(n);
}

}  // namespace t32asio
