#pragma once
// Owns one file descriptor; closes it when it goes.
#include <unistd.h>

#include <utility>

namespace plat {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_fd, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  // Closes the held descriptor (if any) and takes fd. Returns close's result, 0 when none.
  int Reset(int fd = -1) {
    int rc = 0;
    if (m_fd >= 0) rc = ::close(m_fd);
    m_fd = fd;
    return rc;
  }

 private:
  int m_fd = -1;
};

}  // namespace plat
