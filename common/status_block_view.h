// Access to the shared status block "Ternix32_20120823" from the driver, the control
// panel and the remote control. The class keeps the mapping handle and view; the block's
// rules (magic, owner test, claim, release, publish) are here once for every user.
#pragma once

#include "common/status_block.h"
#include "platform/win32.h"

namespace t32 {

class CStatusBlockView {
 public:
  CStatusBlockView() = default;
  ~CStatusBlockView() { Close(); }
  CStatusBlockView(const CStatusBlockView&) = delete;
  CStatusBlockView& operator=(const CStatusBlockView&) = delete;

  // Opens the block, or creates it when nobody holds it. The creator, and only the
  // creator, zero-fills it and sets the magic; *pbCreated tells which happened. Returns
  // FALSE when the mapping can be neither opened nor created nor mapped.
  BOOL OpenOrCreate(BOOL* pbCreated);
  // Opens an existing block; never creates one.
  BOOL OpenExisting();
  void Close();

  // Mapped, with the right magic: every reader and writer ignores a block without it.
  BOOL IsValid() const;
  // Valid, and claimed by this class identifier.
  BOOL IsOwnedBy(REFGUID clsid) const;
  // Claims an unclaimed valid block: DriverState 1, OwnerClsid, Changed. FALSE when the
  // block is invalid or someone already owns it.
  BOOL ClaimIfFree(REFGUID clsid);
  // Releases a block owned by clsid: DriverState 0, OwnerClsid null, Changed.
  void ReleaseIfOwned(REFGUID clsid);
  // Copies a device name into DeviceName, cut so that it always stays zero-terminated.
  void SetDeviceName(const char* pszName);
  // Stores one field with a single aligned store; the Changed flag comes last.
  static void Store(volatile DWORD* pField, DWORD dwValue);
  void MarkChanged();

  // The mapped block, or null; valid or not.
  StatusBlock* Block() const { return m_pBlock; }

 private:
  BOOL MapView();

  HANDLE m_hMapping = nullptr;
  StatusBlock* m_pBlock = nullptr;
};

}  // namespace t32
