#include "platform/MessageLoopHeadless.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/Diagnostics.h"
#include "platform/TextConv.h"

namespace plat {

CHeadlessMessageLoop::CHeadlessMessageLoop() : m_thread(std::this_thread::get_id()) {
  m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_wakeFd < 0) ReportDiagnostic(1, Format("[ERROR] message loop: eventfd failed, errno=%d", errno));
}

CHeadlessMessageLoop::~CHeadlessMessageLoop() {
  std::deque<std::shared_ptr<SentMessage>> sent;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    sent.swap(m_sent);
  }
  for (auto& s : sent) s->Complete(false, 0);
  if (m_wakeFd >= 0) close(m_wakeFd);
}

void CHeadlessMessageLoop::Wake() {
  if (m_wakeFd < 0) return;
  const uint64_t one = 1;
  // EAGAIN means the counter is already non-zero: the loop is awake anyway.
  while (write(m_wakeFd, &one, sizeof(one)) < 0 && errno == EINTR) {
  }
}

void CHeadlessMessageLoop::DrainWake() {
  uint64_t value;
  while (read(m_wakeFd, &value, sizeof(value)) < 0 && errno == EINTR) {
  }
}

bool CHeadlessMessageLoop::PostMessage(Message message) {
  // Woken under the lock: once another thread can see the message, this call no longer
  // touches the loop, so the loop may be destroyed right after.
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_posted.size() >= kMaxQueued) return false;
  m_posted.push_back(std::move(message));
  Wake();
  return true;
}

bool CHeadlessMessageLoop::QueueSend(std::shared_ptr<SentMessage> sent) {
  if (!sent) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sent.push_back(std::move(sent));
  Wake();
  return true;
}

void CHeadlessMessageLoop::PostQuitMessage(int exitCode) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_quit = true;
  m_quitCode = exitCode;
  Wake();
}

size_t CHeadlessMessageLoop::QueuedCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_posted.size() + m_sent.size();
}

bool CHeadlessMessageLoop::GetMessage(Message& out) { return Fetch(out, true) == Fetched::Message; }

bool CHeadlessMessageLoop::PeekMessage(Message& out) { return Fetch(out, false) != Fetched::Nothing; }

int64_t CHeadlessMessageLoop::DispatchMessage(const Message& message) {
  if (message.hwnd == 0) return 0;
  std::shared_ptr<WindowProc> proc;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(message.hwnd);
    if (it == m_windows.end()) return 0;
    proc = it->second;
  }
  // Called without the lock: the procedure may post, set timers or run a nested loop.
  return (*proc)(message);
}

CHeadlessMessageLoop::Fetched CHeadlessMessageLoop::Fetch(Message& out, bool block) {
  bool polled = false;
  for (;;) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_sent.empty()) {
      std::shared_ptr<SentMessage> sent = std::move(m_sent.front());
      m_sent.pop_front();
      std::shared_ptr<WindowProc> proc;
      if (auto it = m_windows.find(sent->Get().hwnd); it != m_windows.end()) proc = it->second;
      lock.unlock();
      if (sent->Begin()) {
        const int64_t result = proc ? (*proc)(sent->Get()) : 0;
        sent->Complete(proc != nullptr, result);
      }
      continue;
    }
    if (!m_posted.empty()) {
      out = std::move(m_posted.front());
      m_posted.pop_front();
      return out.message == WM_QUIT ? Fetched::Quit : Fetched::Message;
    }
    if (m_quit) {
      m_quit = false;
      out = Message{};
      out.message = WM_QUIT;
      out.wParam = static_cast<uint64_t>(static_cast<int64_t>(m_quitCode));
      return Fetched::Quit;
    }

    const Clock::time_point now = Clock::now();
    auto next = m_timers.end();
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
      if (next == m_timers.end() || it->second.due < next->second.due) next = it;
    }
    if (next != m_timers.end() && next->second.due <= now) {
      out = Message{};
      out.hwnd = next->first.first;
      out.message = WM_TIMER;
      out.wParam = next->first.second;
      // From now, not from the missed deadline: a late loop gets one tick, not a burst.
      next->second.due = now + std::chrono::milliseconds(next->second.periodMs);
      return Fetched::Message;
    }
    if (!block && polled) return Fetched::Nothing;

    int timeoutMs = 0;
    if (block) {
      if (next == m_timers.end()) {
        timeoutMs = -1;
      } else {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next->second.due - now).count() + 1;
        timeoutMs = wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
      }
    }
    std::vector<pollfd> fds;
    std::vector<int> watchIds;
    fds.push_back(pollfd{m_wakeFd, POLLIN, 0});
    for (const auto& [id, watch] : m_watches) {
      fds.push_back(pollfd{watch.fd, POLLIN, 0});
      watchIds.push_back(id);
    }
    lock.unlock();

    const int n = poll(fds.data(), fds.size(), timeoutMs);
    polled = true;
    if (n < 0) {
      if (errno == EINTR) continue;
      ReportDiagnostic(1, Format("[ERROR] message loop: poll failed, errno=%d", errno));
      if (!block) return Fetched::Nothing;
      continue;
    }
    if (n == 0) continue;
    if (fds[0].revents & POLLIN) DrainWake();
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      std::shared_ptr<std::function<void()>> callback;
      {
        std::lock_guard<std::mutex> relock(m_mutex);
        auto it = m_watches.find(watchIds[i - 1]);
        if (it == m_watches.end()) continue;
        if (fds[i].revents & POLLNVAL) {
          // Closed behind our back; keeping it would make every poll return at once.
          ReportDiagnostic(2, Format("[WARN] message loop: watched descriptor %d was closed", it->second.fd));
          m_watches.erase(it);
          continue;
        }
        callback = it->second.callback;
      }
      (*callback)();
    }
  }
}

bool CHeadlessMessageLoop::SetTimer(HWND hwnd, uint32_t id, uint32_t periodMs) {
  if (periodMs < kMinTimerMs) periodMs = kMinTimerMs;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    Timer& t = m_timers[{hwnd, id}];
    t.periodMs = periodMs;
    t.due = Clock::now() + std::chrono::milliseconds(periodMs);
  }
  Wake();  // a blocked poll must take the new deadline into account
  return true;
}

bool CHeadlessMessageLoop::KillTimer(HWND hwnd, uint32_t id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_timers.erase({hwnd, id}) > 0;
}

void CHeadlessMessageLoop::RegisterWindow(HWND hwnd, WindowProc proc) {
  if (hwnd == 0 || !proc) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_windows[hwnd] = std::make_shared<WindowProc>(std::move(proc));
}

void CHeadlessMessageLoop::UnregisterWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_windows.erase(hwnd);
  for (auto it = m_timers.begin(); it != m_timers.end();) {
    it = it->first.first == hwnd ? m_timers.erase(it) : std::next(it);
  }
}

int CHeadlessMessageLoop::WatchReadable(int fd, std::function<void()> onReadable) {
  if (fd < 0 || !onReadable) return 0;
  int id;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    id = m_nextWatch++;
    m_watches[id] = Watch{fd, std::make_shared<std::function<void()>>(std::move(onReadable))};
  }
  Wake();
  return id;
}

void CHeadlessMessageLoop::Unwatch(int watchId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_watches.erase(watchId);
}

}  // namespace plat
