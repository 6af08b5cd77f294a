#include "platform/Window.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Diagnostics.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"

namespace plat {

namespace {

// Datagrams read per wake-up, so a flood cannot hold the UI thread in one callback; the
// rest stays readable for the next round.
constexpr int kDatagramsPerWake = 64;
// Malformed datagrams reported per window; later ones are only counted.
constexpr uint64_t kDropsReported = 10;

}  // namespace

NativeWindow::NativeWindow(IMessageLoop& loop) : m_loop(loop) {}

NativeWindow::~NativeWindow() { Destroy(); }

bool NativeWindow::Create(const std::string& className, const std::string& title) {
  if (m_hwnd != 0) return false;
  const std::string folder = WindowsFolder();
  if (!CreateFolderTree(folder)) {
    ReportDiagnostic(1, "[ERROR] cannot create the window folder " + folder);
    return false;
  }
  const HWND hwnd = detail::ReserveLocalHandle();
  if (hwnd == 0) return false;

  const std::string socketPath = WindowSocketPath(hwnd);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof(addr.sun_path)) {
    ReportDiagnostic(1, "[ERROR] window socket path too long: " + socketPath);
    detail::ReleaseLocalHandle(hwnd);
    return false;
  }
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ReportDiagnostic(1, Format("[ERROR] window socket: socket failed, errno=%d", errno));
    detail::ReleaseLocalHandle(hwnd);
    return false;
  }
  // The handle carries our process id, so a file of that name was left by a dead process.
  unlink(socketPath.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    ReportDiagnostic(1, Format("[ERROR] window socket: bind %s failed, errno=%d", socketPath.c_str(), errno));
    close(fd);
    detail::ReleaseLocalHandle(hwnd);
    return false;
  }

  WindowInfo info;
  info.hwnd = hwnd;
  info.pid = getpid();
  info.startTime = ProcessStartTime(info.pid);
  info.className = className;
  info.title = title;
  if (!WriteWholeFileAtomic(WindowInfoPath(hwnd), FormatWindowInfo(info))) {
    ReportDiagnostic(1, "[ERROR] cannot write " + WindowInfoPath(hwnd));
    close(fd);
    unlink(socketPath.c_str());
    detail::ReleaseLocalHandle(hwnd);
    return false;
  }

  m_hwnd = hwnd;
  m_socket = fd;
  m_class = className;
  m_title = title;
  m_visible = m_minimized = m_foreground = false;
  m_dropped = 0;
  m_buffer.resize(kWireHeaderSize + kMaxWirePayload + 1);
  m_loop.RegisterWindow(hwnd, [this](const Message& m) { return HandleMessage(m); });
  m_watch = m_loop.WatchReadable(fd, [this] { ReadSocket(); });
  if (m_watch == 0) {
    Destroy();
    return false;
  }
  detail::PublishLocalWindow(hwnd, this);
  return true;
}

void NativeWindow::Destroy() {
  if (m_hwnd == 0) return;
  // Unpublish first so no other thread reaches the object; the handle stays reserved until
  // the files are gone, so a new window cannot get it and lose its files to our unlink.
  detail::PublishLocalWindow(m_hwnd, nullptr);
  if (m_watch != 0) m_loop.Unwatch(m_watch);
  m_loop.UnregisterWindow(m_hwnd);
  unlink(WindowInfoPath(m_hwnd).c_str());
  close(m_socket);
  unlink(WindowSocketPath(m_hwnd).c_str());
  detail::ReleaseLocalHandle(m_hwnd);
  m_hwnd = 0;
  m_socket = -1;
  m_watch = 0;
  m_buffer.clear();
  m_buffer.shrink_to_fit();
}

bool NativeWindow::SetTitle(const std::string& title) {
  if (m_hwnd == 0) {
    m_title = title;
    return true;
  }
  WindowInfo info;
  info.hwnd = m_hwnd;
  info.pid = getpid();
  info.startTime = ProcessStartTime(info.pid);
  info.className = m_class;
  info.title = title;
  if (!WriteWholeFileAtomic(WindowInfoPath(m_hwnd), FormatWindowInfo(info))) {
    ReportDiagnostic(1, "[ERROR] cannot write " + WindowInfoPath(m_hwnd));
    return false;
  }
  m_title = title;
  return true;
}

bool NativeWindow::ShowWindow(int command) {
  const bool wasVisible = m_visible;
  switch (command) {
    case SW_HIDE:
      m_visible = false;
      m_foreground = false;
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
      m_visible = true;
      m_minimized = false;
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
      m_visible = true;
      m_minimized = true;
      m_foreground = false;
      break;
    case SW_SHOW:
      m_visible = true;
      break;
    default:
      break;
  }
  return wasVisible;
}

void NativeWindow::SetForeground() { m_foreground = true; }

void NativeWindow::BringForward() {
  ShowWindow(m_minimized ? SW_RESTORE : SW_SHOW);
  SetForeground();
}

int64_t NativeWindow::HandleMessage(const Message& message) {
  if (m_procedure) {
    int64_t result = 0;
    if (m_procedure(message, result)) return result;
  }
  return DefaultProcessing(message);
}

int64_t NativeWindow::DefaultProcessing(const Message& message) {
  // The low four bits of a system command are the system's own.
  if (message.message == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_RESTORE) BringForward();
  return 0;
}

void NativeWindow::ReadSocket() {
  for (int i = 0; i < kDatagramsPerWake && m_socket >= 0; ++i) {
    // MSG_TRUNC makes recv report the real length, so oversized datagrams are caught.
    const ssize_t n = recv(m_socket, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    Message message;
    const size_t size = static_cast<size_t>(n);
    if (size > m_buffer.size() ||
        !DecodeWireMessage(std::string_view(m_buffer.data(), size), m_hwnd, message)) {
      if (++m_dropped <= kDropsReported) {
        ReportDiagnostic(2, Format("[WARN] window %x dropped a malformed message of %zu bytes", m_hwnd, size));
      }
      continue;
    }
    if (!m_loop.PostMessage(std::move(message))) {
      ReportDiagnostic(2, Format("[WARN] window %x: queue full, message dropped", m_hwnd));
    }
  }
}

bool PostMessage(HWND hwnd, uint32_t message, uint64_t wParam, int64_t lParam, std::string payload) {
  if (hwnd == 0) return false;
  Message m;
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.payload = std::move(payload);
  bool posted = false;
  if (detail::WithLocalWindow(hwnd, [&](NativeWindow& w) { posted = w.Loop().PostMessage(std::move(m)); })) {
    return posted;
  }
  // Ours but not (or no longer) a window.
  if (HandleProcessId(hwnd) == getpid()) return false;
  return SendWireMessage(hwnd, m);
}

bool SendMessageTimeout(HWND hwnd, uint32_t message, uint64_t wParam, int64_t lParam, int timeoutMs, int64_t& result,
                        std::string payload) {
  result = 0;
  Message m;
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.payload = std::move(payload);
  IMessageLoop* direct = nullptr;
  std::shared_ptr<SentMessage> sent;
  bool queued = false;
  const bool found = hwnd != 0 && detail::WithLocalWindow(hwnd, [&](NativeWindow& w) {
    if (w.Loop().IsLoopThread()) {
      direct = &w.Loop();
    } else {
      sent = std::make_shared<SentMessage>(m);
      queued = w.Loop().QueueSend(sent);
    }
  });
  if (!found) return false;
  // Dispatched outside the table lock: the procedure may create or destroy windows.
  if (direct) {
    result = direct->DispatchMessage(m);
    return true;
  }
  return queued && sent->Wait(timeoutMs, result);
}

int64_t SendMessage(HWND hwnd, uint32_t message, uint64_t wParam, int64_t lParam, std::string payload) {
  int64_t result = 0;
  return SendMessageTimeout(hwnd, message, wParam, lParam, -1, result, std::move(payload)) ? result : 0;
}

bool ActivateExistingWindow(const std::string& title) {
  const HWND hwnd = FindWindow(kMainWindowClass, title);
  return hwnd != 0 && PostMessage(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
}

std::string EncodeCopyDataText(std::wstring_view text) {
  std::string out;
  out.reserve(text.size() * 2 + 2);
  auto unit = [&out](uint32_t u) {
    out.push_back(static_cast<char>(u & 0xff));
    out.push_back(static_cast<char>((u >> 8) & 0xff));
  };
  for (wchar_t wc : text) {
    const uint32_t c = static_cast<uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      unit('?');
    } else if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  unit(0);
  return out;
}

std::wstring DecodeCopyDataText(std::string_view payload) {
  std::wstring out;
  const size_t units = payload.size() / 2;
  auto unitAt = [&payload](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(payload[2 * i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(payload[2 * i + 1])) << 8;
  };
  for (size_t i = 0; i < units; ++i) {
    const uint32_t u = unitAt(i);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const uint32_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
        ++i;
        continue;
      }
    }
    out.push_back(u >= 0xD800 && u <= 0xDFFF ? L'?' : static_cast<wchar_t>(u));
  }
  return out;
}

}  // namespace plat
