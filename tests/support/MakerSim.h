#pragma once
// Runs build/bin/maker-sim (the loopback service simulator) for one test: writes the
// scenario to a private temporary folder, starts the program, waits until it listens and
// reads back the requests it recorded. The scenario format is described in
// tools/maker-sim/README.md. Stop() or the destructor ends it.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qevtest {

struct RecordedPart {
  std::string name;
  std::string filename;
  std::string contentType;
  std::string content;
};

struct RecordedRequest {
  uint64_t seq = 0;
  std::string listener;  // scenario name of the listener it came to
  std::string local;     // "127.0.0.2:PORT" it came to
  std::string remote;
  std::string method;
  std::string target;  // as sent: path and query, not decoded
  std::string path;
  std::string query;  // without the '?'
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // empty for multipart/form-data; see parts
  std::vector<RecordedPart> parts;

  // First value of a header, name compared without regard to case; "" when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

class MakerSim {
 public:
  MakerSim();
  ~MakerSim();
  MakerSim(const MakerSim&) = delete;
  MakerSim& operator=(const MakerSim&) = delete;

  // Starts the simulator; false (with Error()) when the scenario is refused or it did not
  // report ready within 10 seconds. A second Start stops the first run.
  bool Start(const std::string& scenarioText);
  // "http://127.0.0.1:PORT" of a listener of the running scenario; "" when unknown.
  std::string BaseUrl(const std::string& listener) const;
  // "127.0.0.1:PORT" and the port alone; "" and 0 when unknown.
  std::string Address(const std::string& listener) const;
  int Port(const std::string& listener) const;
  // Every request recorded so far, in arrival order (the line being written is skipped).
  std::vector<RecordedRequest> Requests() const;
  // Sends SIGTERM and waits (SIGKILL after 10 seconds). Safe to call twice.
  void Stop();

  // Exit code of the last run after Stop (128 + n when killed by signal n), -1 before.
  int ExitCode() const { return m_exitCode; }
  // Why Start failed, with what the simulator wrote to its standard error.
  const std::string& Error() const { return m_error; }
  // The private folder; relative "source =" paths of the scenario are found here.
  const std::string& Folder() const { return m_folder; }

  // The bytes of a "generate = SIZE / seed = SEED" content, from offset.
  static std::string GeneratedBytes(uint64_t seed, uint64_t offset, size_t length);

 private:
  bool WaitReady();

  std::string m_folder;
  std::string m_error;
  pid_t m_pid = -1;
  int m_exitCode = -1;
  std::map<std::string, std::string> m_addresses;
};

}  // namespace qevtest
