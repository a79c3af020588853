// Device discovery: the HID presence query, then the KS filter search. Every filter of
// the audio category with an enabled render alias is a candidate; the first whose path
// carries the device table's IDs and that carries 16, 24 or 32 bits in each direction it
// has is the device's.
#include "asio_driver/device_discovery.h"

#include "common/device_table.h"
#include "common/text_copy.h"
#include "kslib/kslib.h"

namespace t32asio {
namespace {

const GUID kFilterCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
const char kDefaultDeviceName[] = "Ternix32";

// Width mask bit and sample width probed, in this order.
const struct {
  BYTE bBit;
  WORD wBits;
} kWidths[] = {{1, 16}, {2, 24}, {3, 32}};

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The first place in pszText where pszTag (upper case) starts, regardless of case; or null.
const char* FindTag(const char* pszText, const char* pszTag) {
  for (const char* p = pszText; *p != 0; ++p) {
    size_t i = 0;
    while (pszTag[i] != 0 && UpperAscii(p[i]) == pszTag[i]) ++i;
    if (pszTag[i] == 0) return p;
  }
  return NULL;
}

int HexValue(char c) {
  c = UpperAscii(c);
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hexadecimal digits after the tag; FALSE when the tag is missing or fewer than
// four hexadecimal digits follow it.
BOOL ReadId(const char* pszPath, const char* pszTag, WORD* pwId) {
  const char* p = FindTag(pszPath, pszTag);
  if (p == NULL) return FALSE;
  p += 4;  // "VID_" and "PID_" are four characters
  WORD wId = 0;
  for (int i = 0; i < 4; ++i) {
    int nDigit = HexValue(p[i]);  // stops at the terminating zero, which is no digit
    if (nDigit < 0) return FALSE;
    wId = static_cast<WORD>((wId << 4) | nDigit);
  }
  *pwId = wId;
  return TRUE;
}

WAVEFORMATEX ProbeFormat(WORD wBits) {
  WAVEFORMATEX wfx;
  ZeroMemory(&wfx, sizeof(wfx));
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = 2;
  wfx.nSamplesPerSec = 48000;
  wfx.wBitsPerSample = wBits;
  wfx.nBlockAlign = static_cast<WORD>(wfx.nChannels * wBits / 8);
  wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
  return wfx;
}

// Looks at one enumerated filter. TRUE when it is the device's: then the width mask,
// device name, symbolic link and records flag in *pInfo are its own.
BOOL ProbeFilter(const char* pszPath, const char* pszFriendlyName, CDeviceInfo* pInfo) {
  t32::CopyText(pInfo->m_szSymbolicLink, sizeof(pInfo->m_szSymbolicLink), pszPath);
  if (FAILED(MatchDeviceId(pszPath))) return FALSE;
  t32::CopyText(pInfo->m_szDeviceName, sizeof(pInfo->m_szDeviceName),
                pszFriendlyName[0] != 0 ? pszFriendlyName : kDefaultDeviceName);
  // Each candidate decides for itself whether the device records; an earlier one that
  // recorded but did not qualify says nothing about this one.
  pInfo->m_bRecords = 0;

  HRESULT hr = S_OK;
  CKsAudRenFilter* pRender = new CKsAudRenFilter(pszPath, pszFriendlyName, &hr);
  if (pRender == NULL) return FALSE;
  if (FAILED(hr) || FAILED(pRender->Instantiate()) || FAILED(pRender->EnumeratePins())) {
    delete pRender;
    return FALSE;
  }

  hr = S_OK;
  CKsAudCapFilter* pCapture = new CKsAudCapFilter(pszPath, pszFriendlyName, &hr);
  if (pCapture != NULL && SUCCEEDED(hr) && SUCCEEDED(pCapture->Instantiate()) &&
      SUCCEEDED(pCapture->EnumeratePins()) && !pCapture->m_listCaptureSinkPins.IsEmpty())
    pInfo->m_bRecords = 1;

  // Only the bits per sample are compared (check flag 4).
  BYTE bMask = 0;
  for (const auto& width : kWidths) {
    WAVEFORMATEX wfx = ProbeFormat(width.wBits);
    if (pRender->FindViablePin(&wfx, KSAUDPIN_CHECK_BITS) == NULL) continue;
    if (pInfo->m_bRecords && pCapture->FindViablePin(&wfx, KSAUDPIN_CHECK_BITS) == NULL) continue;
    bMask |= static_cast<BYTE>(1u << width.bBit);
  }
  if (bMask != 0) pInfo->m_bWidthMask = bMask;

  delete pCapture;
  delete pRender;
  return bMask != 0;
}

// The KS filter search; TRUE when a filter qualified.
BOOL SearchFilters(CDeviceInfo* pInfo) {
  HRESULT hr = S_OK;
  CKsEnumFilters* pEnum = new CKsEnumFilters(&hr);
  if (pEnum == NULL) return FALSE;
  BOOL bFound = FALSE;
  if (SUCCEEDED(hr) && SUCCEEDED(pEnum->EnumFilters(kFilterCategories, 2))) {
    for (KSLISTLINK* pLink = pEnum->m_listFilters.GetHead(); pLink != NULL && !bFound; pLink = pLink->pNext) {
      CKsFilter* pFilter = CKsListOf<CKsFilter>::Item(pLink);
      bFound = ProbeFilter(pFilter->m_szSymbolicLink, pFilter->m_szFriendlyName, pInfo);
    }
  }
  delete pEnum;
  return bFound;
}

}  // namespace

HRESULT MatchDeviceId(const char* pszPath) {
  if (pszPath == NULL) return E_FAIL;
  WORD wVendorId = 0, wProductId = 0;
  if (!ReadId(pszPath, "VID_", &wVendorId) || !ReadId(pszPath, "PID_", &wProductId)) return E_FAIL;
  // The interface number of a composite USB device must be there; its value is not used.
  if (FindTag(pszPath, "MI_") == NULL) return E_FAIL;
  return t32::IsTableDevice(wVendorId, wProductId) ? S_OK : E_FAIL;
}

HRESULT DiscoverDevice(REFCLSID clsid, t32::CStatusBlockView* pBlock, CDeviceInfo* pInfo, BOOL* pbLoaded) {
  if (pbLoaded != NULL) *pbLoaded = FALSE;
  if (pInfo == NULL) return E_INVALIDARG;
  if (FAILED(QueryHidPresence())) return E_FAIL;

  // The device answered: the object is LOADED, and takes the block when nobody has it.
  if (pbLoaded != NULL) *pbLoaded = TRUE;
  if (pBlock != NULL) pBlock->ClaimIfFree(clsid);
  pInfo->m_bRecords = 0;

  if (!SearchFilters(pInfo)) return E_FAIL;

  timeBeginPeriod(1);
  if (pBlock != NULL && pBlock->IsOwnedBy(clsid)) {
    pBlock->SetDeviceName(pInfo->m_szDeviceName);
    pBlock->MarkChanged();
  }
  return S_OK;
}

}  // namespace t32asio
