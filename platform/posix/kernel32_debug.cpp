// Debug output: a sink that tests read, echoed to standard error on request.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "kernel32.h"
#include "test_hooks.h"

namespace t32posix {
namespace {
struct CDebugSink {
  std::mutex m_lock;
  std::string m_strText;
};
CDebugSink& Sink() {
  static CDebugSink* sink = new CDebugSink;
  return *sink;
}
// The sink keeps at most this much; older text is dropped first.
constexpr size_t kSinkLimit = 4 << 20;
}  // namespace

std::string DebugOutput() {
  std::lock_guard<std::mutex> guard(Sink().m_lock);
  return Sink().m_strText;
}

void ClearDebugOutput() {
  std::lock_guard<std::mutex> guard(Sink().m_lock);
  Sink().m_strText.clear();
}

}  // namespace t32posix

extern "C" void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (!lpOutputString) return;
  {
    t32posix::CDebugSink& sink = t32posix::Sink();
    std::lock_guard<std::mutex> guard(sink.m_lock);
    sink.m_strText += lpOutputString;
    if (sink.m_strText.size() > t32posix::kSinkLimit)
      sink.m_strText.erase(0, sink.m_strText.size() - t32posix::kSinkLimit);
  }
  const char* env = std::getenv("T32_DEBUG_OUTPUT");
  if (env && *env && *env != '0') {
    std::fputs(lpOutputString, stderr);
    std::fflush(stderr);
  }
}
