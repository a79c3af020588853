// CKsPin: one pin factory of a filter as the filter reports it, and the pin instance it
// can open: state changes, reset, and asynchronous stream reads and writes.
#pragma once

#include "kslib/ks_irp_target.h"

class CKsFilter;

enum {
  KSPIN_TYPE_PLAIN = 0,
  KSPIN_TYPE_RENDER = 1,
  KSPIN_TYPE_CAPTURE = 2,
};

class CKsPin : public CKsIrpTarget {
 public:
  CKsPin(CKsFilter* pFilter, ULONG ulPinId, HRESULT* phr);
  virtual ~CKsPin();

  // Opens the pin instance with the connect request (S_OK without opening anything when
  // there is none). Looped selects the looped streaming interface.
  virtual HRESULT Instantiate(BOOL bLooped);
  virtual HRESULT SetState(KSSTATE ksState);

  // Reads the pin factory's properties; S_FALSE when some could not be read.
  HRESULT Init();
  void ClosePin();
  HRESULT Reset();
  // Queue one stream request; a request that is pending counts as success. The caller
  // owns the header, its data and the OVERLAPPED, and waits for the completion.
  HRESULT WriteData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped);
  HRESULT ReadData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped);

  ULONG GetCommunication() const { return m_ulCommunication; }
  ULONG GetDataFlow() const { return m_ulDataFlow; }

  PKSPIN_CONNECT m_pksPinCreate;  // connect request (KSPIN_CONNECT, KSDATAFORMAT, wave format)
  ULONG m_cbPinCreateSize;
  ULONG m_ulPinId;
  CKsFilter* m_pFilter;
  GUID m_guidCategory;
  ULONG m_ulInterfaceCount;
  PKSPIN_INTERFACE m_pInterfaces;
  ULONG m_ulMediumCount;
  PKSPIN_MEDIUM m_pMediums;
  ULONG m_ulDataRangeCount;
  PKSDATARANGE m_pDataRanges;  // first range; each is FormatSize bytes long
  ULONG m_cbDataRanges;        // bytes from m_pDataRanges to the end of the device's answer
  ULONG m_ulDataFlow;
  ULONG m_ulCommunication;
  KSPIN_CINSTANCES m_ksInstances;
  KSPIN_CINSTANCES m_ksGlobalInstances;
  PKSMULTIPLE_ITEM m_pksDataRangesItem;
  PKSMULTIPLE_ITEM m_pksMediumsItem;
  PKSMULTIPLE_ITEM m_pksInterfacesItem;
  ULONG m_ulPinType;
  KSSTATE m_ksState;
  CHAR m_szName[MAX_PATH];
  BOOL m_bLooped;
  CKsPin* m_pConnectToPin;
};
