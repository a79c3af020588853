#include "common/status_block_view.h"

#include "common/text_copy.h"

namespace t32 {

BOOL CStatusBlockView::MapView() {
  m_pBlock = static_cast<StatusBlock*>(MapViewOfFile(m_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!m_pBlock) {
    CloseHandle(m_hMapping);
    m_hMapping = nullptr;
    return FALSE;
  }
  return TRUE;
}

BOOL CStatusBlockView::OpenOrCreate(BOOL* pbCreated) {
  BOOL bCreated = FALSE;
  Close();
  m_hMapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kStatusBlockName);
  if (!m_hMapping) {
    m_hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kStatusBlockSize,
                                    kStatusBlockName);
    // Another process may have created it between the two calls; then it is not ours to fill.
    bCreated = m_hMapping != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  }
  if (pbCreated) *pbCreated = FALSE;
  if (!m_hMapping || !MapView()) return FALSE;
  if (bCreated) {
    ZeroMemory(m_pBlock, kStatusBlockSize);
    m_pBlock->Magic = kStatusBlockMagic;
    if (pbCreated) *pbCreated = TRUE;
  }
  return TRUE;
}

BOOL CStatusBlockView::OpenExisting() {
  Close();
  m_hMapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kStatusBlockName);
  return m_hMapping != nullptr && MapView();
}

void CStatusBlockView::Close() {
  if (m_pBlock) UnmapViewOfFile(m_pBlock);
  if (m_hMapping) CloseHandle(m_hMapping);
  m_pBlock = nullptr;
  m_hMapping = nullptr;
}

BOOL CStatusBlockView::IsValid() const { return m_pBlock != nullptr && m_pBlock->Magic == kStatusBlockMagic; }

BOOL CStatusBlockView::IsOwnedBy(REFGUID clsid) const {
  return IsValid() && IsEqualGUID(m_pBlock->OwnerClsid, clsid);
}

void CStatusBlockView::Store(volatile DWORD* pField, DWORD dwValue) { *pField = dwValue; }

void CStatusBlockView::MarkChanged() {
  if (m_pBlock) Store(&m_pBlock->Changed, 1);
}

BOOL CStatusBlockView::ClaimIfFree(REFGUID clsid) {
  if (!IsValid() || !IsEqualGUID(m_pBlock->OwnerClsid, GUID_NULL)) return FALSE;
  Store(&m_pBlock->DriverState, 1);
  m_pBlock->OwnerClsid = clsid;
  MarkChanged();
  return TRUE;
}

void CStatusBlockView::ReleaseIfOwned(REFGUID clsid) {
  if (!IsOwnedBy(clsid)) return;
  Store(&m_pBlock->DriverState, 0);
  m_pBlock->OwnerClsid = GUID_NULL;
  MarkChanged();
}

void CStatusBlockView::SetDeviceName(const char* pszName) {
  if (m_pBlock) CopyText(m_pBlock->DeviceName, kDeviceNameSize, pszName);
}

}  // namespace t32
