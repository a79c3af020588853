// A small module for the module tests: it counts its process attach and detach calls.
#include "platform/win32.h"

#ifdef _WIN32
#define FIXTURE_EXPORT extern "C" __declspec(dllexport)
#else
#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
LONG* g_pDetachCounter = nullptr;
LONG g_nAttaches = 0;
HMODULE g_hSelf = nullptr;
}  // namespace

FIXTURE_EXPORT BOOL WINAPI DllMain(HINSTANCE hinst, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++g_nAttaches;
    g_hSelf = hinst;
    DisableThreadLibraryCalls(hinst);
  } else if (reason == DLL_PROCESS_DETACH && g_pDetachCounter) {
    ++*g_pDetachCounter;
  }
  return TRUE;
}

FIXTURE_EXPORT LONG FixtureAttaches() { return g_nAttaches; }
FIXTURE_EXPORT HMODULE FixtureSelf() { return g_hSelf; }
FIXTURE_EXPORT void FixtureSetDetachCounter(LONG* p) { g_pDetachCounter = p; }

// A class factory whose objects are plain IUnknowns, for the activation tests.
namespace {

struct CFixtureObject final : IUnknown {
  LONG m_nRef = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualGUID(riid, IID_IUnknown)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRef; }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = --m_nRef;
    if (n == 0) delete this;
    return n;
  }
};

struct CFixtureFactory : IClassFactory {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    auto* object = new CFixtureObject;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

CFixtureFactory g_factory;

}  // namespace

FIXTURE_EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID riid, void** ppv) {
  return g_factory.QueryInterface(riid, ppv);
}
