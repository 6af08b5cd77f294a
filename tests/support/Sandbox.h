#pragma once
// A fresh machine for one test: a temporary directory that QEV_SYSROOT points at while the
// object lives. Every machine folder, the registry store and the runtime folder are in it.
#include <map>
#include <string>
#include <vector>

namespace qevtest {

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& Root() const { return m_root; }
  // Root + "/" + relative (relative may start with '/').
  std::string Path(const std::string& relative) const;
  // Writes a file, creating its folders.
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  std::string ReadFile(const std::string& relative) const;
  // The installer's log folder inside the sandbox.
  std::string LogFolder() const { return Path("/tmp/Corvane/QEV/"); }

 private:
  std::string m_root;
  std::string m_previous;
  bool m_hadPrevious = false;
};

struct RunResult {
  int exitCode = -1000;  // -1000: could not be started; 128+n: killed by signal n
  std::string out;
  std::string err;
  bool timedOut = false;
};

// Runs a program with extra environment entries (added to this process's environment),
// capturing its output. Optionally as another user id. Ends it after timeoutMs.
RunResult RunProgram(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& env = {}, int timeoutMs = 30000,
                     int asUid = -1);

// Path of a program built into build/bin.
std::string BinPath(const std::string& name);
std::string SourcePath(const std::string& relative);

}  // namespace qevtest
