#include "kslib/ks_trace.h"

#include <cstdarg>
#include <cstdio>

int TraceLevel = 0;

void TraceMessage(int nLevel, const char* pszFormat, ...) {
  if (nLevel > TraceLevel || pszFormat == NULL) return;
  char szText[MAX_PATH];
  va_list args;
  va_start(args, pszFormat);
  int n = vsnprintf(szText, sizeof(szText), pszFormat, args);
  va_end(args);
  if (n < 0) return;
  szText[sizeof(szText) - 1] = '\0';
  OutputDebugStringA(szText);
}

void KsTraceEnter(const char* pszMethod) {
  if (KSTRACE_ENTRY <= TraceLevel) TraceMessage(KSTRACE_ENTRY, "%s() Enter", pszMethod);
}

void KsTraceLeave(const char* pszMethod) {
  if (KSTRACE_ENTRY <= TraceLevel) TraceMessage(KSTRACE_ENTRY, "%s() Leave", pszMethod);
}

HRESULT KsTraceLeaveHr(const char* pszMethod, HRESULT hr) {
  if (KSTRACE_ENTRY <= TraceLevel) TraceMessage(KSTRACE_ENTRY, "%s Leave, returning %#08x", pszMethod, (unsigned)hr);
  return hr;
}
