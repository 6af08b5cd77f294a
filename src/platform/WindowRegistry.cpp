#include "platform/WindowRegistry.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "platform/Window.h"

namespace plat {

namespace {

constexpr char kInfoHeader[] = "qev-window 1";

// ---- the windows of this process ----

struct LocalTable {
  std::mutex mutex;
  std::map<HWND, NativeWindow*> windows;  // nullptr: reserved, not yet published
  uint32_t counter = 0;
};

LocalTable& Table() {
  static LocalTable* table = new LocalTable;  // never destroyed: windows may outlive statics
  return *table;
}

bool IsLocalPublished(HWND hwnd) {
  LocalTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.windows.find(hwnd);
  return it != t.windows.end() && it->second != nullptr;
}

// Reserved counts too: its files may be half made by a Create on another thread.
bool IsLocalKnown(HWND hwnd) {
  LocalTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.windows.count(hwnd) != 0;
}

// ---- small parsers ----

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  out = v;
  return true;
}

// "0000abcd" -> handle; anything else is not one of our names.
bool ParseHandleName(std::string_view name, HWND& out) {
  if (name.size() != 8) return false;
  uint32_t v = 0;
  for (char c : name) {
    uint32_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
    else return false;
    v = v << 4 | d;
  }
  if (v == 0) return false;
  out = v;
  return true;
}

std::string Escape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

bool Unescape(std::string_view value, std::string& out) {
  out.clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    if (++i == value.size()) return false;
    switch (value[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: return false;
    }
  }
  return true;
}

// State letter and start time of a process from /proc/<pid>/stat.
bool ReadProcStat(int pid, char& state, uint64_t& startTime) {
  std::string text;
  if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", text)) return false;
  // The command name in parentheses may itself hold blanks and parentheses.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::vector<std::string_view> fields;  // fields[0] is field 3 (state)
  std::string_view rest(text);
  rest.remove_prefix(close + 1);
  while (!rest.empty()) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    const size_t end = rest.find(' ');
    const std::string_view f = rest.substr(0, end);
    if (!f.empty()) fields.push_back(f);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end);
  }
  if (fields.size() < 20 || fields[0].empty()) return false;
  state = fields[0][0];
  std::string_view start = fields[19];
  while (!start.empty() && (start.back() == '\n' || start.back() == '\r')) start.remove_suffix(1);
  return ParseUnsigned(start, UINT64_MAX, startTime);
}

// Bounded read of a window's .info file.
bool ReadInfoFile(HWND hwnd, WindowInfo& out) {
  const std::string path = WindowInfoPath(hwnd);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(kMaxWindowInfoSize)) {
    return false;
  }
  std::string text;
  if (!ReadWholeFile(path, text) || text.size() > kMaxWindowInfoSize) return false;
  return ParseWindowInfo(text, out) && out.hwnd == hwnd;
}

bool IsSocketFile(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Whether the owner of this handle can still be behind its files.
bool OwnerMayBeAlive(HWND hwnd, uint64_t startTime) {
  const int pid = HandleProcessId(hwnd);
  if (pid == getpid()) return IsLocalKnown(hwnd);
  return IsProcessRunning(pid, startTime);
}

void RemoveEntry(HWND hwnd) {
  unlink(WindowInfoPath(hwnd).c_str());
  unlink(WindowSocketPath(hwnd).c_str());
}

void PutLE(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

uint64_t GetLE(std::string_view in, size_t offset, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(in[offset + static_cast<size_t>(i)]);
  return v;
}

// Lets a descriptor go however the function leaves.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::string WindowsFolder() { return RuntimeFolder() + "qev-windows/"; }

std::string WindowSocketPath(HWND hwnd) { return WindowsFolder() + Format("%08x.sock", hwnd); }

std::string WindowInfoPath(HWND hwnd) { return WindowsFolder() + Format("%08x.info", hwnd); }

std::string FormatWindowInfo(const WindowInfo& info) {
  std::string out = kInfoHeader;
  out += "\nhandle=" + std::to_string(info.hwnd);
  out += "\npid=" + std::to_string(info.pid);
  out += "\nstart=" + std::to_string(info.startTime);
  out += "\nclass=" + Escape(info.className);
  out += "\ntitle=" + Escape(info.title);
  out += "\n";
  return out;
}

bool ParseWindowInfo(std::string_view text, WindowInfo& out) {
  out = WindowInfo{};
  bool first = true, haveHandle = false, havePid = false, haveClass = false, haveTitle = false;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (first) {
      if (line != kInfoHeader) return false;
      first = false;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    uint64_t n = 0;
    if (key == "handle") {
      if (!ParseUnsigned(value, UINT32_MAX, n) || n == 0) return false;
      out.hwnd = static_cast<HWND>(n);
      haveHandle = true;
    } else if (key == "pid") {
      if (!ParseUnsigned(value, static_cast<uint64_t>(kMaxHandlePid), n) || n == 0) return false;
      out.pid = static_cast<int>(n);
      havePid = true;
    } else if (key == "start") {
      if (!ParseUnsigned(value, UINT64_MAX, n)) return false;
      out.startTime = n;
    } else if (key == "class") {
      if (!Unescape(value, out.className)) return false;
      haveClass = true;
    } else if (key == "title") {
      if (!Unescape(value, out.title)) return false;
      haveTitle = true;
    }
  }
  return !first && haveHandle && havePid && haveClass && haveTitle && HandleProcessId(out.hwnd) == out.pid;
}

uint64_t ProcessStartTime(int pid) {
  char state = 0;
  uint64_t start = 0;
  return pid > 0 && ReadProcStat(pid, state, start) ? start : 0;
}

bool IsProcessRunning(int pid, uint64_t startTime) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  char state = 0;
  uint64_t start = 0;
  if (!ReadProcStat(pid, state, start)) return true;  // exists, details hidden from us
  if (state == 'Z' || state == 'X') return false;
  return startTime == 0 || start == startTime;
}

HWND FindWindow(const std::string& className, const std::string& title) {
  const std::string folder = WindowsFolder();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);

  HWND found = 0;
  for (const std::string& name : names) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos) continue;
    const std::string_view ext = std::string_view(name).substr(dot);
    HWND hwnd = 0;
    if (!ParseHandleName(std::string_view(name).substr(0, dot), hwnd)) continue;
    if (ext.substr(0, 9) == ".info.tmp") {
      // Left by an owner that died in the middle of writing its .info.
      if (!OwnerMayBeAlive(hwnd, 0)) unlink((folder + name).c_str());
      continue;
    }
    if (ext != ".info" && ext != ".sock") continue;
    if (ext == ".sock") {
      // A socket whose owner died before writing (or after removing) its .info.
      if (!PathExists(WindowInfoPath(hwnd)) && !OwnerMayBeAlive(hwnd, 0)) RemoveEntry(hwnd);
      continue;
    }
    WindowInfo info;
    if (!ReadInfoFile(hwnd, info)) {
      // Unreadable or damaged: only its owner's death makes it safe to remove.
      if (!OwnerMayBeAlive(hwnd, 0)) RemoveEntry(hwnd);
      continue;
    }
    if (!OwnerMayBeAlive(hwnd, info.startTime)) {
      RemoveEntry(hwnd);
      continue;
    }
    if (info.className == className && info.title == title && (found == 0 || hwnd < found)) found = hwnd;
  }
  return found;
}

bool IsWindow(HWND hwnd) {
  if (hwnd == 0) return false;
  if (HandleProcessId(hwnd) == getpid()) return IsLocalPublished(hwnd);
  WindowInfo info;
  return ReadInfoFile(hwnd, info) && IsProcessRunning(info.pid, info.startTime) &&
         IsSocketFile(WindowSocketPath(hwnd));
}

std::string GetWindowClassName(HWND hwnd) {
  if (hwnd == 0) return std::string();
  if (HandleProcessId(hwnd) == getpid()) {
    std::string name;
    detail::WithLocalWindow(hwnd, [&](NativeWindow& w) { name = w.ClassName(); });
    return name;
  }
  WindowInfo info;
  if (!ReadInfoFile(hwnd, info) || !IsProcessRunning(info.pid, info.startTime) ||
      !IsSocketFile(WindowSocketPath(hwnd))) {
    return std::string();
  }
  return info.className;
}

// ---- wire format ----

std::string EncodeWireMessage(HWND target, const Message& message) {
  if (message.payload.size() > kMaxWirePayload) return std::string();
  std::string out;
  out.reserve(kWireHeaderSize + message.payload.size());
  PutLE(out, kWireMagic, 4);
  PutLE(out, kWireVersion, 2);
  PutLE(out, 0, 2);
  PutLE(out, message.message, 4);
  PutLE(out, target, 4);
  PutLE(out, message.wParam, 8);
  PutLE(out, static_cast<uint64_t>(message.lParam), 8);
  PutLE(out, message.payload.size(), 4);
  out += message.payload;
  return out;
}

bool DecodeWireMessage(std::string_view datagram, HWND target, Message& out) {
  if (datagram.size() < kWireHeaderSize) return false;
  if (GetLE(datagram, 0, 4) != kWireMagic || GetLE(datagram, 4, 2) != kWireVersion || GetLE(datagram, 6, 2) != 0) {
    return false;
  }
  if (GetLE(datagram, 12, 4) != target) return false;
  const uint64_t length = GetLE(datagram, 32, 4);
  if (length > kMaxWirePayload || length != datagram.size() - kWireHeaderSize) return false;
  out = Message{};
  out.hwnd = target;
  out.message = static_cast<uint32_t>(GetLE(datagram, 8, 4));
  out.wParam = GetLE(datagram, 16, 8);
  out.lParam = static_cast<int64_t>(GetLE(datagram, 24, 8));
  out.payload.assign(datagram.substr(kWireHeaderSize));
  return true;
}

bool SendWireMessage(HWND target, const Message& message, int timeoutMs) {
  if (target == 0) return false;
  const std::string datagram = EncodeWireMessage(target, message);
  if (datagram.empty()) return false;
  const std::string path = WindowSocketPath(target);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) {
    ReportDiagnostic(1, "[ERROR] window socket path too long: " + path);
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

  FdCloser sock{socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
  if (sock.fd < 0) return false;
  const int sndbuf = static_cast<int>(2 * (kWireHeaderSize + kMaxWirePayload));
  setsockopt(sock.fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
  // Connected, so poll() tells when the receiver's queue has room again.
  if (connect(sock.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) return false;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const ssize_t n = send(sock.fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(datagram.size())) return true;
    if (n >= 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{sock.fd, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
  }
}

// ---- local table ----

namespace detail {

HWND ReserveLocalHandle() {
  const int pid = getpid();
  if (pid <= 0 || pid > kMaxHandlePid) {
    ReportDiagnostic(1, Format("[ERROR] process id %d does not fit a window handle", pid));
    return 0;
  }
  LocalTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (uint32_t tries = 0; tries < kHandleCounterMask; ++tries) {
    t.counter = t.counter % kHandleCounterMask + 1;  // 1..1023, never 0
    const HWND hwnd = static_cast<HWND>(pid) << kHandleCounterBits | t.counter;
    if (t.windows.emplace(hwnd, nullptr).second) return hwnd;
  }
  ReportDiagnostic(1, "[ERROR] no window handle left in this process");
  return 0;
}

void PublishLocalWindow(HWND hwnd, NativeWindow* window) {
  LocalTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (auto it = t.windows.find(hwnd); it != t.windows.end()) it->second = window;
}

void ReleaseLocalHandle(HWND hwnd) {
  LocalTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.windows.erase(hwnd);
}

bool WithLocalWindow(HWND hwnd, const std::function<void(NativeWindow&)>& fn) {
  LocalTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.windows.find(hwnd);
  if (it == t.windows.end() || it->second == nullptr) return false;
  fn(*it->second);
  return true;
}

}  // namespace detail

}  // namespace plat
