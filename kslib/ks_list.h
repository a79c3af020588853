// CKsList: the ordered pointer list every class of the layer keeps its collections in.
// A list never frees its items; each owner says which of its lists own theirs.
#pragma once

#include "kslib/ks_alloc.h"

struct KSLISTLINK {
  KSLISTLINK* pNext;
  KSLISTLINK* pPrev;
  void* pvItem;
};

class CKsList {
 public:
  CKsList() : m_pHead(NULL), m_pTail(NULL), m_ulCount(0) {}
  // Frees the links that are left, never the items.
  ~CKsList();
  CKsList(const CKsList&) = delete;
  CKsList& operator=(const CKsList&) = delete;

  // Appends the item; NULL when the link cannot be allocated (the item stays the caller's).
  KSLISTLINK* AddTail(void* pvItem);
  // Unlinks the first link and returns its item; NULL on an empty list.
  void* RemoveHead();

  ULONG GetCount() const { return m_ulCount; }
  BOOL IsEmpty() const { return m_ulCount == 0; }
  KSLISTLINK* GetHead() const { return m_pHead; }

  KSLISTLINK* m_pHead;
  KSLISTLINK* m_pTail;
  ULONG m_ulCount;
};

// The same list with its item type spelled out.
template <class T>
class CKsListOf : public CKsList {
 public:
  KSLISTLINK* AddTail(T* pItem) { return CKsList::AddTail(pItem); }
  T* RemoveHead() { return static_cast<T*>(CKsList::RemoveHead()); }
  static T* Item(const KSLISTLINK* pLink) { return static_cast<T*>(pLink->pvItem); }
};
