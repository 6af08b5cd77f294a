#pragma once
// The platform layer sits below the log. Faults it must report (a corrupt registry store,
// a lock that never came free) go through this sink, which start-up points at the log.
#include <string>

namespace plat {

using DiagnosticSink = void (*)(int level, const std::string& message);

void SetDiagnosticSink(DiagnosticSink sink);
// level: 1 error, 2 warning, 3 information. The message carries its own "[ERROR] " prefix.
void ReportDiagnostic(int level, const std::string& message);

}  // namespace plat
