// The class factory hosts reach through DllGetClassObject. It accepts whatever class
// identifier the host asks for (each registration makes a new one at random) and creates
// a driver object only when the device is found.
#pragma once

#include "asio_driver/unknown.h"
#include "platform/win32.h"

namespace t32asio {

class CAsioClsFactory : public IClassFactory, public CUnknown {
 public:
  CAsioClsFactory(IUnknown* pUnkOuter, REFCLSID clsid);

  T32_DECLARE_FORWARDING_IUNKNOWN
  // IID_IUnknown and IID_IClassFactory give the factory; anything else E_FAIL.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

  CLSID m_clsid;
};

}  // namespace t32asio
