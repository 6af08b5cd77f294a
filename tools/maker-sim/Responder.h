#pragma once
// Answers every request a listener receives: records it, picks the [file] or [route] that
// matches and the first [fault] that applies, and streams the body through the fault.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Content.h"
#include "Recorder.h"
#include "Scenario.h"
#include "Stopper.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace makersim {

class Responder {
 public:
  // addresses[i] is "ip:port" of scenario.listeners[i], known once every listener is bound.
  Responder(const Scenario& scenario, std::vector<std::string> addresses, Recorder& recorder, Stopper& stopper);
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  // Opens the sources and puts the listener addresses into texts and header values
  // ("${addr:NAME}" -> "127.0.0.1:PORT", "${url:NAME}" -> "http://127.0.0.1:PORT").
  bool Prepare(std::string& error);

  void Handle(size_t listener, const httplib::Request& req, httplib::Response& res);

 private:
  bool Substitute(const std::string& in, std::string& out, std::string& error) const;
  // Index of the chosen block, or -1; its remaining count is taken.
  int PickEntry(size_t listener, const std::string& method, const std::string& path, const std::string& query);
  int PickFault(size_t listener, const std::string& method, const std::string& path);

  const Scenario& m_scenario;
  std::vector<std::string> m_addresses;
  Recorder& m_recorder;
  Stopper& m_stopper;
  std::vector<std::shared_ptr<const Content>> m_contents;  // per entry
  std::vector<HeaderList> m_headers;                       // per entry, substituted

  std::mutex m_mutex;  // guards the counts below
  std::vector<int64_t> m_entryLeft;
  std::vector<int64_t> m_faultLeft;
};

}  // namespace makersim
