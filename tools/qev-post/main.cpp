// qev-post: posts a window message to a window of any process, or finds a window.
//
//   qev-post HWND MESSAGE [WPARAM [LPARAM]] [--copydata TEXT]
//   qev-post --find CLASS TITLE
//
// HWND, MESSAGE, WPARAM and LPARAM are decimal or 0x-prefixed hexadecimal; LPARAM may be
// a negative decimal. --copydata attaches TEXT (UTF-8 on the command line) as the data of
// a copy-data record: UTF-16LE code units ending in a zero unit, which is what setup
// programs send with WM_COPYDATA (0x4A). --find prints the handle of the window with
// exactly that class and title in decimal.
//
// Exit codes: 0 posted (or found), 1 no such window or the send failed, 2 the command line
// is wrong.
//
// Wire format. A window listens on the datagram socket
// <runtime>/qev-windows/<handle as 8 lower-case hex digits>.sock; one datagram carries one
// message. All integers are little-endian:
//
//   offset  size  field
//        0     4  magic 0x4D564551 (the bytes "QEVM")
//        4     2  version, 1
//        6     2  reserved, 0
//        8     4  message id
//       12     4  target window handle (must be the receiving window's own)
//       16     8  wParam
//       24     8  lParam (two's complement)
//       32     4  payload length N, at most 65536
//       36     N  payload (for WM_COPYDATA: the record's data)
//
// The receiver drops a datagram whose size is not exactly 36 + N, whose magic, version or
// reserved field differ, whose target is another handle, or whose N exceeds the bound.
// For WM_COPYDATA, wParam is the sender's window handle (0 without one) and lParam the
// record's tag. Messages are posted, never sent: the sender does not wait for the handler.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TextConv.h"
#include "platform/Window.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void PrintUsage(FILE* to) {
  std::fputs(
      "usage: qev-post HWND MESSAGE [WPARAM [LPARAM]] [--copydata TEXT]\n"
      "       qev-post --find CLASS TITLE\n"
      "  numbers are decimal or 0x hexadecimal; LPARAM may be negative\n"
      "  --copydata TEXT  attach TEXT as a UTF-16LE zero-terminated copy-data record\n"
      "  --find           print the handle of the window of that class and title\n",
      to);
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "qev-post: %s\n", message.c_str());
  PrintUsage(stderr);
  return kUsage;
}

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    uint64_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint64_t>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<uint64_t>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<uint64_t>(c - 'A' + 10);
    else return false;
    if (v > (max - d) / static_cast<uint64_t>(base)) return false;
    v = v * static_cast<uint64_t>(base) + d;
  }
  out = v;
  return true;
}

bool ParseSigned(std::string_view text, int64_t& out) {
  uint64_t v = 0;
  if (!text.empty() && text[0] == '-') {
    if (!ParseUnsigned(text.substr(1), static_cast<uint64_t>(INT64_MAX) + 1, v)) return false;
    if (text.size() > 1 && text[1] == '0' && text.size() > 2 && (text[2] == 'x' || text[2] == 'X')) return false;
    out = static_cast<int64_t>(0 - v);
    return true;
  }
  if (!ParseUnsigned(text, UINT64_MAX, v)) return false;
  out = static_cast<int64_t>(v);  // a hex value keeps its bits
  return true;
}

int Find(const std::vector<std::string>& args) {
  if (args.size() != 3) return Usage("--find takes CLASS and TITLE");
  const plat::HWND hwnd = plat::FindWindow(args[1], args[2]);
  if (hwnd == 0) {
    std::fprintf(stderr, "qev-post: no window of class \"%s\" titled \"%s\"\n", args[1].c_str(), args[2].c_str());
    return kFailed;
  }
  std::printf("%u\n", hwnd);
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("missing arguments");
  if (args[0] == "--help" || args[0] == "-h") {
    PrintUsage(stdout);
    return kOk;
  }
  if (args[0] == "--find") return Find(args);

  std::vector<std::string> positional;
  bool haveCopyData = false;
  std::string copyData;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--copydata") {
      if (haveCopyData) return Usage("--copydata given twice");
      if (i + 1 >= args.size()) return Usage("--copydata needs a TEXT");
      haveCopyData = true;
      copyData = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-' && args[i][1] == '-') {
      return Usage("unknown option " + args[i]);
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() < 2) return Usage("HWND and MESSAGE are required");
  if (positional.size() > 4) return Usage("too many arguments");

  uint64_t hwnd = 0, message = 0, wParam = 0;
  int64_t lParam = 0;
  if (!ParseUnsigned(positional[0], UINT32_MAX, hwnd)) return Usage("bad HWND " + positional[0]);
  if (!ParseUnsigned(positional[1], UINT32_MAX, message)) return Usage("bad MESSAGE " + positional[1]);
  if (positional.size() > 2 && !ParseUnsigned(positional[2], UINT64_MAX, wParam)) {
    return Usage("bad WPARAM " + positional[2]);
  }
  if (positional.size() > 3 && !ParseSigned(positional[3], lParam)) return Usage("bad LPARAM " + positional[3]);

  std::string payload;
  if (haveCopyData) {
    payload = plat::EncodeCopyDataText(plat::Utf8ToWide(copyData));
    if (payload.size() > plat::kMaxWirePayload) return Usage("--copydata TEXT is too long");
  }
  if (!plat::PostMessage(static_cast<plat::HWND>(hwnd), static_cast<uint32_t>(message), wParam, lParam,
                         std::move(payload))) {
    std::fprintf(stderr, "qev-post: cannot post to window %llu\n", static_cast<unsigned long long>(hwnd));
    return kFailed;
  }
  return kOk;
}
