// CKsFilter: a KS filter opened through its device interface path. It reads its pin
// factories and topology nodes, and sorts its pins by data flow and communication.
#pragma once

#include "kslib/ks_irp_target.h"
#include "kslib/ks_list.h"
#include "kslib/ks_node.h"

class CKsPin;

enum {
  KSFILTER_TYPE_PLAIN = 0,
  KSFILTER_TYPE_RENDER = 1,
  KSFILTER_TYPE_CAPTURE = 2,
};

class CKsFilter : public CKsIrpTarget {
 public:
  // Both strings are required (E_INVALIDARG otherwise); a symbolic link that does not fit
  // its 260-character field is refused, a friendly name that does not fit is cut.
  CKsFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* phr);
  virtual ~CKsFilter();

  virtual HRESULT Instantiate();
  virtual HRESULT EnumerateNodes();
  virtual HRESULT EnumeratePins();
  virtual HRESULT DestroyLists();

  HRESULT ClassifyPins();
  HRESULT GetPinPropertySimple(ULONG ulPinId, REFGUID guidSet, ULONG ulId, PVOID pvValue, ULONG cbValue);
  // Reads a multiple-item pin property into a new zero-filled buffer the caller frees
  // with KsFree. A size query that reports less than a KSMULTIPLE_ITEM is refused.
  // pcbItems, when given, receives the size of the buffer.
  HRESULT GetPinPropertyMulti(ULONG ulPinId, REFGUID guidSet, ULONG ulId, PKSMULTIPLE_ITEM* ppItems,
                              ULONG* pcbItems = NULL);

  CKsListOf<CKsNode> m_listNodes;               // owns its nodes
  CKsListOf<CKsPin> m_listPins;                 // owns its pins
  CKsListOf<CKsPin> m_listRenderSinkPins;       // data flow in, sink or both
  CKsListOf<CKsPin> m_listCaptureSourcePins;    // data flow out, source or both
  CKsListOf<CKsPin> m_listCaptureSinkPins;      // data flow out, sink or both
  CKsListOf<CKsPin> m_listRenderSourcePins;     // data flow in, source or both
  CKsListOf<CKsPin> m_listNoCommunicationPins;  // communication none
  ULONG m_ulFilterType;
  CHAR m_szSymbolicLink[MAX_PATH];
  CHAR m_szFriendlyName[MAX_PATH];

 protected:
  HRESULT InternalInit();
  // Empties the five class lists without touching their items.
  void ClearClassLists();
  // Removes and deletes every pin.
  void DeletePins();
};
