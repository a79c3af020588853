#include "asio_driver/unknown.h"

namespace t32asio {
CUnknown::CUnknown(IUnknown* pUnkOuter) : m_pUnkOuter(pUnkOuter ? pUnkOuter : &m_inner) { AddObject(); }

CUnknown::~CUnknown() { RemoveObject(); }

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_INVALIDARG;
  if (IsEqualGUID(riid, IID_IUnknown)) {
    *ppv = static_cast<IUnknown*>(&m_inner);
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
