#include "kslib/ks_node.h"

#include "kslib/ks_trace.h"

CKsNode::CKsNode(REFGUID guidType, ULONG ulNodeId, HRESULT* phr)
    : m_ulNodeId(ulNodeId), m_ulTag(kKsNodeTag), m_guidType(guidType) {
  KsTraceEnter("CKsNode::CKsNode");
  if (phr != NULL) *phr = S_OK;
  KsTraceLeaveHr("CKsNode::CKsNode", S_OK);
}
