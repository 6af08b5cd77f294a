#pragma once
// The UI thread's message loop. One interface, two backends: the headless queue of
// MessageLoopHeadless.h (every logic test uses it) and, later, a GTK one driven from the
// GLib main loop. Window code talks only to IMessageLoop.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/WindowMessages.h"

namespace plat {

// A window handle: unique on the machine, the owning process id in the high bits and a
// per-process counter in the low bits. 0 is never a window.
using HWND = uint32_t;

struct Message {
  HWND hwnd = 0;  // 0: a message for the loop itself (never dispatched to a window)
  uint32_t message = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;
  std::string payload;  // WM_COPYDATA: the bytes of the record's data
};

// A window's procedure; its return value is what SendMessage hands back.
using WindowProc = std::function<int64_t(const Message&)>;

// One message handed to the UI thread by SendMessage. The sender waits on it; the loop
// runs it and completes it, or drops it when the loop goes away first. Shared between the
// two sides so neither depends on the other's lifetime.
class SentMessage {
 public:
  explicit SentMessage(Message message) : m_message(std::move(message)) {}
  const Message& Get() const { return m_message; }

  // Loop side: false when the sender gave up waiting; the message must then not run.
  bool Begin();
  void Complete(bool delivered, int64_t result);

  // Sender side. timeoutMs < 0 waits for ever. True with the result when the message ran;
  // false when it was dropped or the time ran out before the handler started (a handler
  // that has started is always waited for).
  bool Wait(int timeoutMs, int64_t& result);

 private:
  enum class State { Waiting, Running, Done, Abandoned };
  Message m_message;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  State m_state = State::Waiting;
  bool m_delivered = false;
  int64_t m_result = 0;
};

class IMessageLoop {
 public:
  virtual ~IMessageLoop() = default;

  // --- any thread ---
  // Queues the message behind those already posted and wakes the loop. False when the
  // queue is full.
  virtual bool PostMessage(Message message) = 0;
  // Hands a message to the UI thread, which runs it before any posted message.
  virtual bool QueueSend(std::shared_ptr<SentMessage> sent) = 0;
  // The loop returns WM_QUIT (wParam = exitCode) once no posted message is left.
  virtual void PostQuitMessage(int exitCode) = 0;
  // True on the thread that runs this loop (the UI thread).
  virtual bool IsLoopThread() const = 0;

  // --- UI thread ---
  // Blocks for the next message. Sent messages are run inside it. Returns false, with
  // out.message == WM_QUIT, when the quit message is retrieved.
  virtual bool GetMessage(Message& out) = 0;
  // Like GetMessage without blocking: false when nothing is waiting. A retrieved quit
  // message returns true with out.message == WM_QUIT.
  virtual bool PeekMessage(Message& out) = 0;
  // Runs the procedure of message.hwnd; 0 when that window is not registered.
  virtual int64_t DispatchMessage(const Message& message) = 0;

  // Periodic WM_TIMER (wParam = id) for a window; setting an existing id restarts it.
  // Timer messages come only when no posted message is waiting.
  virtual bool SetTimer(HWND hwnd, uint32_t id, uint32_t periodMs) = 0;
  virtual bool KillTimer(HWND hwnd, uint32_t id) = 0;

  // Windows whose messages this loop dispatches. Unregistering kills the window's timers;
  // messages still queued for it are dropped when they come up.
  virtual void RegisterWindow(HWND hwnd, WindowProc proc) = 0;
  virtual void UnregisterWindow(HWND hwnd) = 0;

  // Calls onReadable on the UI thread whenever fd has data. Returns a watch id (> 0),
  // or 0 on failure.
  virtual int WatchReadable(int fd, std::function<void()> onReadable) = 0;
  virtual void Unwatch(int watchId) = 0;

  // Runs GetMessage / DispatchMessage until the quit message; returns its exit code.
  virtual int Run();

  // On the UI thread the message is dispatched at once (true, with DispatchMessage's
  // result); from another thread it is queued and the caller waits (timeoutMs < 0: for
  // ever). False when it did not run: no such window, time-out, or the loop went away.
  bool SendMessage(const Message& message, int64_t& result, int timeoutMs = -1);
};

}  // namespace plat
