// CKsEnumFilters: finds the device interfaces of a set of KS categories and keeps an
// opened audio render filter for each one that has usable pins.
#pragma once

#include "kslib/ks_filter.h"

class CKsEnumFilters : public CKsHeapObject {
 public:
  explicit CKsEnumFilters(HRESULT* phr);
  virtual ~CKsEnumFilters();
  virtual HRESULT DestroyLists();

  // The first category lists the interfaces; every further one must hold an enabled
  // alias of the interface.
  HRESULT EnumFilters(const GUID* aguidCategories, ULONG ulCategoryCount);

  CKsListOf<CKsFilter> m_listFilters;  // owns its filters
};
