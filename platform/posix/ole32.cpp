// COM basics: GUID creation and text forms, apartment initialisation, task memory.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "kernel32.h"
#include "ole32.h"

namespace {

// Per-thread apartment: how many CoInitialize calls are outstanding and of which model.
thread_local int t_nInitCount = 0;
thread_local DWORD t_dwModel = 0;

bool RandomBytes(void* p, size_t n) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  auto* out = static_cast<unsigned char*>(p);
  size_t done = 0;
  while (done < n) {
    ssize_t r = read(fd, out + done, n - done);
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  close(fd);
  return done == n;
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool ParseHex(const wchar_t* p, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int h = HexValue(p[i]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(h);
  }
  *value = v;
  return true;
}

}  // namespace

namespace t32posix {
bool ComInitializedOnThisThread() { return t_nInitCount > 0; }
}  // namespace t32posix

extern "C" {

HRESULT WINAPI CoCreateGuid(GUID* pguid) {
  if (!pguid) return E_INVALIDARG;
  unsigned char bytes[16];
  if (!RandomBytes(bytes, sizeof(bytes))) {
    std::random_device rd;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(rd());
  }
  std::memcpy(pguid, bytes, sizeof(GUID));
  pguid->Data3 = static_cast<uint16_t>((pguid->Data3 & 0x0FFF) | 0x4000);  // version 4
  pguid->Data4[0] = static_cast<uint8_t>((pguid->Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return S_OK;
}

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < 39) return 0;
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  wchar_t* p = lpsz;
  auto put = [&](uint32_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) *p++ = kHex[(v >> (i * 4)) & 15];
  };
  *p++ = L'{';
  put(rguid.Data1, 8);
  *p++ = L'-';
  put(rguid.Data2, 4);
  *p++ = L'-';
  put(rguid.Data3, 4);
  *p++ = L'-';
  put(rguid.Data4[0], 2);
  put(rguid.Data4[1], 2);
  *p++ = L'-';
  for (int i = 2; i < 8; ++i) put(rguid.Data4[i], 2);
  *p++ = L'}';
  *p = 0;
  return 39;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid) return E_INVALIDARG;
  if (!lpsz) {  // no text names the null class, as on Windows
    *pclsid = GUID_NULL;
    return S_OK;
  }
  if (std::wcslen(lpsz) != 38 || lpsz[0] != L'{' || lpsz[9] != L'-' || lpsz[14] != L'-' ||
      lpsz[19] != L'-' || lpsz[24] != L'-' || lpsz[37] != L'}')
    return CO_E_CLASSSTRING;
  GUID g{};
  uint32_t v;
  if (!ParseHex(lpsz + 1, 8, &g.Data1)) return CO_E_CLASSSTRING;
  if (!ParseHex(lpsz + 10, 4, &v)) return CO_E_CLASSSTRING;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ParseHex(lpsz + 15, 4, &v)) return CO_E_CLASSSTRING;
  g.Data3 = static_cast<uint16_t>(v);
  static const int kOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ParseHex(lpsz + kOffsets[i], 2, &v)) return CO_E_CLASSSTRING;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *pclsid = g;
  return S_OK;
}

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (t_nInitCount > 0 && model != t_dwModel) return RPC_E_CHANGED_MODE;
  t_dwModel = model;
  return t_nInitCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void WINAPI CoUninitialize(void) {
  if (t_nInitCount > 0) --t_nInitCount;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }
void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }

}  // extern "C"
