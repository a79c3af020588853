// The trace facility shared by the KS layer and the driver: level-gated lines handed to
// the debugger output. Levels: 1 failures, 3 pin properties not read, 4 failed device or
// topology enumeration, 5 notes on aliases and communication types, 6 entry and exit.
#pragma once

#include "platform/win32.h"

// Lines at or below this level are emitted. Nothing in the system raises it.
extern int TraceLevel;

enum {
  KSTRACE_FAILURE = 1,
  KSTRACE_PROPERTY = 3,
  KSTRACE_ENUMERATION = 4,
  KSTRACE_NOTE = 5,
  KSTRACE_ENTRY = 6,
};

#if defined(__GNUC__) && !defined(_WIN32)
#define KS_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define KS_PRINTF_FORMAT(f, a)
#endif

// Formats into 260 bytes (longer lines are cut to 259 characters) and hands the text to
// OutputDebugStringA when nLevel <= TraceLevel.
void TraceMessage(int nLevel, const char* pszFormat, ...) KS_PRINTF_FORMAT(2, 3);

// Entry and exit lines of a method, pszMethod being its qualified name without
// parentheses ("CKsPin::SetState"): "<name>() Enter", "<name>() Leave" and
// "<name> Leave, returning <hr>". KsTraceLeaveHr returns hr for tail calls.
void KsTraceEnter(const char* pszMethod);
void KsTraceLeave(const char* pszMethod);
HRESULT KsTraceLeaveHr(const char* pszMethod, HRESULT hr);
