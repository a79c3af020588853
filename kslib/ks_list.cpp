#include "kslib/ks_list.h"

CKsList::~CKsList() {
  while (m_pHead != NULL) RemoveHead();
}

KSLISTLINK* CKsList::AddTail(void* pvItem) {
  KSLISTLINK* pLink = static_cast<KSLISTLINK*>(KsAlloc(sizeof(KSLISTLINK)));
  if (pLink == NULL) return NULL;
  pLink->pvItem = pvItem;
  pLink->pPrev = m_pTail;
  pLink->pNext = NULL;
  if (m_pTail != NULL)
    m_pTail->pNext = pLink;
  else
    m_pHead = pLink;
  m_pTail = pLink;
  ++m_ulCount;
  return pLink;
}

void* CKsList::RemoveHead() {
  KSLISTLINK* pLink = m_pHead;
  if (pLink == NULL) return NULL;
  m_pHead = pLink->pNext;
  if (m_pHead != NULL)
    m_pHead->pPrev = NULL;
  else
    m_pTail = NULL;
  --m_ulCount;
  void* pvItem = pLink->pvItem;
  KsFree(pLink);
  return pvItem;
}
