#pragma once
// Where windows are found across processes. Every top-level window owns two files in
// <runtime>qev-windows/: "<handle as 8 lower-case hex digits>.sock", a datagram socket
// that takes posted messages, and "<handle>.info" beside it (class name, title, process
// id and process start time, written atomically). Entries of processes that are gone are
// removed by whoever comes across them.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/MessageLoop.h"

namespace plat {

class NativeWindow;

// A handle is (process id << 10) | counter, counter 1..1023. Process ids fit in 22 bits.
constexpr unsigned kHandleCounterBits = 10;
constexpr uint32_t kHandleCounterMask = (1u << kHandleCounterBits) - 1;
constexpr int kMaxHandlePid = (1 << (32 - kHandleCounterBits)) - 1;
inline int HandleProcessId(HWND hwnd) { return static_cast<int>(hwnd >> kHandleCounterBits); }

std::string WindowsFolder();  // <runtime>qev-windows/
std::string WindowSocketPath(HWND hwnd);
std::string WindowInfoPath(HWND hwnd);

struct WindowInfo {
  HWND hwnd = 0;
  int pid = 0;
  uint64_t startTime = 0;  // clock ticks after boot, from /proc/<pid>/stat; 0: unknown
  std::string className;   // UTF-8
  std::string title;       // UTF-8
};

// The .info text: a "qev-window 1" line, then key=value lines; '\', CR and LF in values
// are escaped as "\\", "\r", "\n".
std::string FormatWindowInfo(const WindowInfo& info);
// False when the header, a required key or a number is missing or malformed, or the
// process id does not match the handle.
bool ParseWindowInfo(std::string_view text, WindowInfo& out);
constexpr size_t kMaxWindowInfoSize = 64 * 1024;

// Start time of a process (field 22 of /proc/<pid>/stat); 0 when unreadable.
uint64_t ProcessStartTime(int pid);
// The process exists, is not a zombie and, when startTime is not 0, started then (so a
// reused process id does not keep a dead window alive).
bool IsProcessRunning(int pid, uint64_t startTime);

// The window of exactly this class and title (the lowest handle when several match);
// 0 when none. Stale entries met on the way are removed.
HWND FindWindow(const std::string& className, const std::string& title);
// A window of a running process whose socket is in place (or a live window of ours).
bool IsWindow(HWND hwnd);
// "" when hwnd is not a window.
std::string GetWindowClassName(HWND hwnd);

// Wire format of a posted message (see tools/qev-post/main.cpp for the description).
constexpr uint32_t kWireMagic = 0x4D564551;  // bytes "QEVM"
constexpr uint16_t kWireVersion = 1;
constexpr size_t kWireHeaderSize = 36;
constexpr size_t kMaxWirePayload = 64 * 1024;
// "" when the payload is longer than kMaxWirePayload.
std::string EncodeWireMessage(HWND target, const Message& message);
// Checks size, magic, version, reserved bits, target and payload length; out.hwnd = target.
bool DecodeWireMessage(std::string_view datagram, HWND target, Message& out);
// Sends one datagram to the window's socket, waiting up to timeoutMs while its queue is
// full. False when there is no such socket or the send fails.
bool SendWireMessage(HWND target, const Message& message, int timeoutMs = 2000);

namespace detail {
// The windows of this process. Reserve picks a free handle (0 when none is left); the
// handle reaches other threads only once published.
HWND ReserveLocalHandle();
void PublishLocalWindow(HWND hwnd, NativeWindow* window);
void ReleaseLocalHandle(HWND hwnd);
// Runs fn with the published window while the table is locked (so it cannot be destroyed
// meanwhile); false when hwnd is not a published window of ours.
bool WithLocalWindow(HWND hwnd, const std::function<void(NativeWindow&)>& fn);
}  // namespace detail

}  // namespace plat
