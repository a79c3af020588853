// Audio filters: CKsAudFilter builds audio pins; CKsAudRenFilter and CKsAudCapFilter
// search their render-sink or capture-sink pins for one that carries a format.
#pragma once

#include "kslib/ks_aud_pin.h"
#include "kslib/ks_filter.h"

class CKsAudFilter : public CKsFilter {
 public:
  CKsAudFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr);
  ~CKsAudFilter() override;
  HRESULT EnumeratePins() override;
};

class CKsAudRenFilter : public CKsAudFilter {
 public:
  CKsAudRenFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr);
  ~CKsAudRenFilter() override;
  CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx, ULONG ulFlags);
};

class CKsAudCapFilter : public CKsAudFilter {
 public:
  CKsAudCapFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr);
  ~CKsAudCapFilter() override;
  CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx, ULONG ulFlags);
};
