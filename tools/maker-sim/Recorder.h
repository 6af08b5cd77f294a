#pragma once
// Appends every request received to the record file, one JSON object per line, written with
// one write() per request so a reader sees whole lines while the simulator runs.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace httplib {
struct Request;
}

namespace makersim {

class Recorder {
 public:
  // An empty path records nothing. False with a reason when the file cannot be opened.
  bool Open(const std::string& path, std::string& error);
  void Record(const std::string& listener, const std::string& local, const httplib::Request& req);

 private:
  std::mutex m_mutex;
  plat::UniqueFd m_fd;
  uint64_t m_seq = 0;
};

// Appends s as a JSON string. Valid UTF-8 is kept; quotes, backslashes and control characters
// are escaped; every byte that is not part of valid UTF-8 is written as \u0080..\u00ff, so the
// reader in tests/support gets the exact bytes back.
void AppendJsonString(std::string& out, std::string_view s);

}  // namespace makersim
