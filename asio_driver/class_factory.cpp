#include "asio_driver/class_factory.h"

#include "asio_driver/asio_sample.h"

namespace t32asio {

CAsioClsFactory::CAsioClsFactory(IUnknown* pUnkOuter, REFCLSID clsid) : CUnknown(pUnkOuter), m_clsid(clsid) {}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    NonDelegatingAddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_FAIL;
}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  HRESULT hr = S_OK;
  auto* driver = new CAsioSample(pUnkOuter, &hr);
  if (!driver) return E_FAIL;
  if (FAILED(hr)) {
    delete driver;
    return hr;
  }
  // Through the public face: an aggregated object counts on its outer unknown.
  IASIO* face = driver;
  face->AddRef();
  hr = driver->Discover(m_clsid);
  if (SUCCEEDED(hr)) hr = face->QueryInterface(riid, ppv);
  face->Release();
  return hr;
}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::LockServer(BOOL fLock) {
  if (fLock)
    AddLock();
  else
    RemoveLock();
  return S_OK;
}

}  // namespace t32asio
