// CKsAudPin: an audio pin: its standard interface and medium, its audio data ranges, the
// format test and the connect request. CKsAudRenPin and CKsAudCapPin mark the direction.
#pragma once

#include "kslib/ks_list.h"
#include "kslib/ks_pin.h"

class CKsAudFilter;

// Check flags of IsFormatSupported and FindViablePin.
enum {
  KSAUDPIN_CHECK_CHANNELS = 2,
  KSAUDPIN_CHECK_BITS = 4,
  KSAUDPIN_CHECK_RATE = 8,
  KSAUDPIN_CHECK_ALL = 15,
};

class CKsAudPin : public CKsPin {
 public:
  CKsAudPin(CKsAudFilter* pFilter, ULONG ulPinId, HRESULT* phr);
  ~CKsAudPin() override;

  HRESULT Init();
  BOOL IsFormatSupported(const WAVEFORMATEX* pwfx, ULONG ulFlags);
  // Puts the format into the connect request for the next Instantiate.
  HRESULT SetFormat(const WAVEFORMATEX* pwfx);

  CKsListOf<KSDATARANGE_AUDIO> m_listDataRanges;  // copies, owned
  CKsAudFilter* m_pAudFilter;
  PKSDATAFORMAT m_pksDataFormatWfx;  // inside m_pksPinCreate, followed by the wave format
};

class CKsAudRenPin : public CKsAudPin {
 public:
  CKsAudRenPin(CKsAudFilter* pFilter, ULONG ulPinId, HRESULT* phr);
  ~CKsAudRenPin() override;
};

class CKsAudCapPin : public CKsAudPin {
 public:
  CKsAudCapPin(CKsAudFilter* pFilter, ULONG ulPinId, HRESULT* phr);
  ~CKsAudCapPin() override;
};
