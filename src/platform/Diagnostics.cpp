#include "platform/Diagnostics.h"

#include <atomic>

namespace plat {

namespace {
std::atomic<DiagnosticSink> g_sink{nullptr};
}

void SetDiagnosticSink(DiagnosticSink sink) { g_sink.store(sink); }

void ReportDiagnostic(int level, const std::string& message) {
  if (DiagnosticSink sink = g_sink.load()) sink(level, message);
}

}  // namespace plat
