#pragma once
// The message loop without a screen: a locked queue, an eventfd that wakes the UI thread,
// timers kept as deadlines, and one poll() over the eventfd, the watched sockets and the
// nearest timer. The UI thread is the thread that constructs the loop.
#include <chrono>
#include <deque>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "platform/MessageLoop.h"

namespace plat {

class CHeadlessMessageLoop : public IMessageLoop {
 public:
  // Posting fails once this many messages wait.
  static constexpr size_t kMaxQueued = 100000;
  // Shorter periods are raised to this, so a timer cannot spin the loop.
  static constexpr uint32_t kMinTimerMs = 10;

  CHeadlessMessageLoop();
  // Pending sends are dropped, so their senders return false instead of waiting for ever.
  ~CHeadlessMessageLoop() override;
  CHeadlessMessageLoop(const CHeadlessMessageLoop&) = delete;
  CHeadlessMessageLoop& operator=(const CHeadlessMessageLoop&) = delete;

  // False when the wake-up descriptor could not be made; the loop then only serves
  // the UI thread's own posts and timers.
  bool IsValid() const { return m_wakeFd >= 0; }

  bool PostMessage(Message message) override;
  bool QueueSend(std::shared_ptr<SentMessage> sent) override;
  void PostQuitMessage(int exitCode) override;
  bool IsLoopThread() const override { return std::this_thread::get_id() == m_thread; }

  bool GetMessage(Message& out) override;
  bool PeekMessage(Message& out) override;
  int64_t DispatchMessage(const Message& message) override;

  bool SetTimer(HWND hwnd, uint32_t id, uint32_t periodMs) override;
  bool KillTimer(HWND hwnd, uint32_t id) override;

  void RegisterWindow(HWND hwnd, WindowProc proc) override;
  void UnregisterWindow(HWND hwnd) override;

  int WatchReadable(int fd, std::function<void()> onReadable) override;
  void Unwatch(int watchId) override;

  // Posted plus sent messages not yet taken (for tests that must know a send arrived).
  size_t QueuedCount() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    uint32_t periodMs = 0;
    Clock::time_point due;
  };
  struct Watch {
    int fd = -1;
    std::shared_ptr<std::function<void()>> callback;
  };
  enum class Fetched { Message, Quit, Nothing };

  Fetched Fetch(Message& out, bool block);
  void Wake();
  void DrainWake();

  const std::thread::id m_thread;
  int m_wakeFd = -1;

  mutable std::mutex m_mutex;
  std::deque<Message> m_posted;
  std::deque<std::shared_ptr<SentMessage>> m_sent;
  bool m_quit = false;
  int m_quitCode = 0;
  std::map<std::pair<HWND, uint32_t>, Timer> m_timers;
  std::map<HWND, std::shared_ptr<WindowProc>> m_windows;
  std::map<int, Watch> m_watches;
  int m_nextWatch = 1;
};

}  // namespace plat
