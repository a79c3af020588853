// CKsNode: one topology node of a filter, as KSPROPERTY_TOPOLOGY_NODES reports it.
#pragma once

#include "kslib/ks_alloc.h"

// "NONE" in memory order; a marker nothing reads.
constexpr ULONG kKsNodeTag = 0x454E4F4E;

class CKsNode : public CKsHeapObject {
 public:
  CKsNode(REFGUID guidType, ULONG ulNodeId, HRESULT* phr);

  ULONG m_ulNodeId;  // position in the filter's node list, from 0
  ULONG m_ulTag;
  GUID m_guidType;
};
