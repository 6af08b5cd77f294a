#pragma once
// Top-level windows and window messages. A NativeWindow gets a machine-wide handle, a
// datagram socket other processes post to, and a .info file by which they find it
// (WindowRegistry.h). Its messages, local or remote, reach HandleMessage on the thread of
// its message loop. Without a screen, visibility is state kept in the object.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/WindowMessages.h"
#include "platform/WindowRegistry.h"

namespace plat {

// The class of the installer's main window; host installers look for it.
constexpr char kMainWindowClass[] = "QEV";

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;

class NativeWindow {
 public:
  // Returns true when it handled the message, with the result in result; otherwise the
  // default processing runs.
  using Procedure = std::function<bool(const Message& message, int64_t& result)>;

  // The loop must outlive the window; create, use and destroy the window on its thread.
  explicit NativeWindow(IMessageLoop& loop);
  virtual ~NativeWindow();
  NativeWindow(const NativeWindow&) = delete;
  NativeWindow& operator=(const NativeWindow&) = delete;

  // Allocates the handle, binds the socket, writes the .info file and starts taking
  // messages. False (and nothing left behind) when any step fails or it already exists.
  // The window starts hidden.
  bool Create(const std::string& className, const std::string& title);
  // Stops taking messages and removes the files; the handle is invalid afterwards.
  void Destroy();

  HWND Handle() const { return m_hwnd; }
  const std::string& ClassName() const { return m_class; }
  const std::string& Title() const { return m_title; }
  // Rewrites the .info file; false when that fails (the old title stays then).
  bool SetTitle(const std::string& title);
  IMessageLoop& Loop() const { return m_loop; }
  void SetProcedure(Procedure procedure) { m_procedure = std::move(procedure); }

  // Returns whether the window was visible before.
  virtual bool ShowWindow(int command);
  virtual void SetForeground();
  bool IsVisible() const { return m_visible; }
  bool IsMinimized() const { return m_minimized; }
  bool IsForeground() const { return m_foreground; }
  // What another instance asks for: restore when minimised, else show; then raise.
  void BringForward();

  // Datagrams refused as malformed since Create.
  uint64_t DroppedDatagrams() const { return m_dropped; }

 protected:
  // The procedure first, then DefaultProcessing for what it left.
  virtual int64_t HandleMessage(const Message& message);
  // WM_SYSCOMMAND with SC_RESTORE: BringForward. Everything else (WM_CLOSE included) is
  // left to the window's own handling and returns 0.
  int64_t DefaultProcessing(const Message& message);

 private:
  void ReadSocket();

  IMessageLoop& m_loop;
  HWND m_hwnd = 0;
  int m_socket = -1;
  int m_watch = 0;
  std::string m_class;
  std::string m_title;
  Procedure m_procedure;
  bool m_visible = false;
  bool m_minimized = false;
  bool m_foreground = false;
  uint64_t m_dropped = 0;
  std::vector<char> m_buffer;
};

// Posts to any window on the machine: straight onto the queue for a window of this
// process, as a datagram for another process's. False when the window does not exist,
// the queue is full or, for another process, the payload exceeds kMaxWirePayload.
bool PostMessage(HWND hwnd, uint32_t message, uint64_t wParam = 0, int64_t lParam = 0, std::string payload = {});

// Runs the message on the window's thread and waits for its result. Only windows of this
// process can be sent to. SendMessage returns 0 when the message did not run.
int64_t SendMessage(HWND hwnd, uint32_t message, uint64_t wParam = 0, int64_t lParam = 0, std::string payload = {});
bool SendMessageTimeout(HWND hwnd, uint32_t message, uint64_t wParam, int64_t lParam, int timeoutMs, int64_t& result,
                        std::string payload = {});

// Asks the main window ("QEV" class) with this title to come forward by posting it
// WM_SYSCOMMAND / SC_RESTORE. False when there is no such window or the post failed.
bool ActivateExistingWindow(const std::string& title);

// WM_COPYDATA text records: UTF-16LE code units with a terminating zero unit, as setup
// programs send them.
std::string EncodeCopyDataText(std::wstring_view text);
// Stops at the first zero unit (or the end); an odd last byte is ignored; surrogate pairs
// are combined and a lone surrogate becomes '?'.
std::wstring DecodeCopyDataText(std::string_view payload);

}  // namespace plat
