#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/Diagnostics.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"

namespace plat {

namespace {

// Leaves room for the hash and ".lock" within the 255 bytes of a file name.
constexpr size_t kMaxEncoded = 200;

std::string EncodeName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
        c == '-') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  if (out.size() > kMaxEncoded) {
    // Long names keep a readable prefix; the hash of the whole name keeps them apart.
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : name) {
      h ^= c;
      h *= 1099511628211ull;
    }
    out.resize(kMaxEncoded);
    out += "%%" + Format("%016llx", static_cast<unsigned long long>(h));
  }
  return out;
}

}  // namespace

std::string SingleInstance::LockPath(const std::string& name) {
  return RuntimeFolder() + "locks/" + EncodeName(name) + ".lock";
}

bool SingleInstance::Acquire(const std::string& name) {
  Release();
  m_heldElsewhere = false;
  const std::string folder = RuntimeFolder() + "locks/";
  if (!CreateFolderTree(folder)) {
    ReportDiagnostic(1, "[ERROR] cannot create the lock folder " + folder);
    return false;
  }
  const std::string path = folder + EncodeName(name) + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    ReportDiagnostic(1, "[ERROR] cannot open the lock file " + path + ": " + std::strerror(errno));
    return false;
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) {
      m_heldElsewhere = true;
    } else {
      ReportDiagnostic(1, "[ERROR] cannot lock " + path + ": " + std::strerror(err));
    }
    return false;
  }
  // The holder's process id, for whoever looks at the file; the lock does not need it.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    const ssize_t ignored = pwrite(fd, pid.data(), pid.size(), 0);
    (void)ignored;
  }
  m_fd = fd;
  return true;
}

void SingleInstance::Release() {
  // The file stays: removing it would let a newcomer lock a fresh file while a waiter
  // still holds the old one.
  if (m_fd >= 0) {
    close(m_fd);
    m_fd = -1;
  }
}

}  // namespace plat
