#include "platform/Window.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Folders.h"
#include "platform/MessageLoopHeadless.h"
#include "platform/TextConv.h"
#include "support/Sandbox.h"

using namespace plat;

namespace {

Message Make(HWND hwnd, uint32_t message, uint64_t wParam = 0, int64_t lParam = 0) {
  Message m;
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  return m;
}

// Everything waiting now, each dispatched like the real loop does.
std::vector<Message> Drain(CHeadlessMessageLoop& loop) {
  std::vector<Message> out;
  Message m;
  while (loop.PeekMessage(m)) {
    if (m.message != WM_QUIT) loop.DispatchMessage(m);
    out.push_back(m);
  }
  return out;
}

bool IsSocket(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// A process id that no longer exists: a child that has ended and been reaped.
pid_t DeadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return pid;
}

// Sends raw bytes to a window's socket, as a foreign program could.
bool SendRaw(HWND hwnd, const std::string& bytes) {
  const std::string path = WindowSocketPath(hwnd);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int sndbuf = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
  const ssize_t n = sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&addr),
                           sizeof(addr));
  close(fd);
  return n == static_cast<ssize_t>(bytes.size());
}

qevtest::RunResult Post(const std::vector<std::string>& args) {
  std::vector<std::string> argv{qevtest::BinPath("qev-post")};
  argv.insert(argv.end(), args.begin(), args.end());
  return qevtest::RunProgram(argv);
}

}  // namespace

// ---------------------------------------------------------------- message loop

TEST(HeadlessLoop, PostedMessagesComeInOrderAndQuitComesLast) {
  CHeadlessMessageLoop loop;
  ASSERT_TRUE(loop.IsValid());
  ASSERT_TRUE(loop.PostMessage(Make(0, WM_USER + 1)));
  ASSERT_TRUE(loop.PostMessage(Make(0, WM_USER + 2)));
  loop.PostQuitMessage(7);
  ASSERT_TRUE(loop.PostMessage(Make(0, WM_USER + 3)));

  Message m;
  for (uint32_t expected : {WM_USER + 1, WM_USER + 2, WM_USER + 3}) {
    ASSERT_TRUE(loop.GetMessage(m));
    EXPECT_EQ(expected, m.message);
  }
  EXPECT_FALSE(loop.GetMessage(m));
  EXPECT_EQ(WM_QUIT, m.message);
  EXPECT_EQ(7u, m.wParam);
  // The quit message is taken once.
  EXPECT_FALSE(loop.PeekMessage(m));
}

TEST(HeadlessLoop, RunReturnsTheQuitCodeAfterDispatching) {
  CHeadlessMessageLoop loop;
  std::vector<uint64_t> seen;
  loop.RegisterWindow(5, [&](const Message& m) {
    seen.push_back(m.wParam);
    if (m.wParam == 3) loop.PostQuitMessage(-4);
    return int64_t{0};
  });
  for (uint64_t i = 1; i <= 3; ++i) loop.PostMessage(Make(5, WM_APP, i));
  EXPECT_EQ(-4, loop.Run());
  EXPECT_EQ((std::vector<uint64_t>{1, 2, 3}), seen);
}

TEST(HeadlessLoop, MessagesForUnregisteredWindowsAreNotDispatched) {
  CHeadlessMessageLoop loop;
  int calls = 0;
  loop.RegisterWindow(5, [&](const Message&) { return int64_t{++calls}; });
  loop.PostMessage(Make(5, WM_APP));
  loop.UnregisterWindow(5);
  const std::vector<Message> got = Drain(loop);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(0, calls);
  EXPECT_EQ(0, loop.DispatchMessage(Make(6, WM_APP)));
}

TEST(HeadlessLoop, TimerMessagesWaitBehindPostedOnes) {
  CHeadlessMessageLoop loop;
  ASSERT_TRUE(loop.SetTimer(5, 1982, 0));
  Message m;
  ASSERT_TRUE(loop.GetMessage(m));
  EXPECT_EQ(WM_TIMER, m.message);
  EXPECT_EQ(5u, m.hwnd);
  EXPECT_EQ(1982u, m.wParam);

  // Posted messages go first whether or not the timer is due again by now.
  loop.PostMessage(Make(5, WM_APP + 1));
  loop.PostMessage(Make(5, WM_APP + 2));
  ASSERT_TRUE(loop.GetMessage(m));
  EXPECT_EQ(WM_APP + 1, m.message);
  ASSERT_TRUE(loop.GetMessage(m));
  EXPECT_EQ(WM_APP + 2, m.message);
  ASSERT_TRUE(loop.GetMessage(m));
  EXPECT_EQ(WM_TIMER, m.message);
}

TEST(HeadlessLoop, KilledTimerStopsTicking) {
  CHeadlessMessageLoop loop;
  ASSERT_TRUE(loop.SetTimer(5, 1, 10));
  ASSERT_TRUE(loop.SetTimer(5, 2, 60));
  int ticksOfOne = 0;
  Message m;
  // Timer 1 is due first; once killed it must not come again before timer 2, whose
  // deadline lies several of timer 1's periods later.
  while (loop.GetMessage(m)) {
    ASSERT_EQ(WM_TIMER, m.message);
    if (m.wParam == 2) break;
    ++ticksOfOne;
    EXPECT_TRUE(loop.KillTimer(5, 1));
  }
  EXPECT_EQ(1, ticksOfOne);
  EXPECT_FALSE(loop.KillTimer(5, 1));
  EXPECT_TRUE(loop.KillTimer(5, 2));
}

TEST(HeadlessLoop, UnregisteringAWindowKillsItsTimers) {
  CHeadlessMessageLoop loop;
  loop.RegisterWindow(5, [](const Message&) { return int64_t{0}; });
  ASSERT_TRUE(loop.SetTimer(5, 1, 10));
  ASSERT_TRUE(loop.SetTimer(6, 1, 60));
  loop.UnregisterWindow(5);
  Message m;
  ASSERT_TRUE(loop.GetMessage(m));
  EXPECT_EQ(WM_TIMER, m.message);
  EXPECT_EQ(6u, m.hwnd);
  EXPECT_FALSE(loop.KillTimer(5, 1));
}

TEST(HeadlessLoop, SendFromAnotherThreadRunsOnTheLoopThread) {
  CHeadlessMessageLoop loop;
  std::thread::id handlerThread;
  loop.RegisterWindow(5, [&](const Message& m) {
    handlerThread = std::this_thread::get_id();
    return static_cast<int64_t>(m.wParam * 2);
  });
  int64_t result = 0;
  bool sent = false;
  std::thread sender([&] {
    sent = loop.SendMessage(Make(5, WM_APP, 21), result);
    loop.PostQuitMessage(0);
  });
  EXPECT_EQ(0, loop.Run());
  sender.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(42, result);
  EXPECT_EQ(std::this_thread::get_id(), handlerThread);
}

TEST(HeadlessLoop, SentMessagesRunBeforePostedOnes) {
  CHeadlessMessageLoop loop;
  std::vector<std::string> order;
  loop.RegisterWindow(5, [&](const Message& m) {
    order.push_back(m.message == WM_APP ? "sent" : "posted");
    return int64_t{0};
  });
  loop.PostMessage(Make(5, WM_APP + 1));
  int64_t result = 0;
  std::thread sender([&] { loop.SendMessage(Make(5, WM_APP), result); });
  while (loop.QueuedCount() < 2) std::this_thread::yield();
  Message m;
  ASSERT_TRUE(loop.GetMessage(m));
  EXPECT_EQ(WM_APP + 1, m.message);
  EXPECT_EQ((std::vector<std::string>{"sent"}), order);
  loop.DispatchMessage(m);
  sender.join();
  EXPECT_EQ((std::vector<std::string>{"sent", "posted"}), order);
}

TEST(HeadlessLoop, SendOnTheLoopThreadDispatchesAtOnce) {
  CHeadlessMessageLoop loop;
  loop.RegisterWindow(5, [](const Message& m) { return m.lParam + 1; });
  int64_t result = 0;
  ASSERT_TRUE(loop.SendMessage(Make(5, WM_APP, 0, 41), result));
  EXPECT_EQ(42, result);
  EXPECT_EQ(0u, loop.QueuedCount());
}

TEST(HeadlessLoop, DestroyingTheLoopReleasesAWaitingSender) {
  auto loop = std::make_unique<CHeadlessMessageLoop>();
  loop->RegisterWindow(5, [](const Message&) { return int64_t{1}; });
  std::atomic<int> outcome{-1};
  std::thread sender([&] {
    int64_t result = 0;
    outcome = loop->SendMessage(Make(5, WM_APP), result) ? 1 : 0;
  });
  while (loop->QueuedCount() < 1) std::this_thread::yield();
  loop.reset();
  sender.join();
  EXPECT_EQ(0, outcome.load());
}

TEST(HeadlessLoop, AbandonedSendIsNotRunLater) {
  CHeadlessMessageLoop loop;
  int calls = 0;
  loop.RegisterWindow(5, [&](const Message&) { return int64_t{++calls}; });
  bool sent = true;
  std::thread sender([&] {
    int64_t result = 0;
    sent = loop.SendMessage(Make(5, WM_APP), result, 0);
  });
  sender.join();  // nobody pumps, so the time-out passes first
  EXPECT_FALSE(sent);
  Drain(loop);
  EXPECT_EQ(0, calls);
}

TEST(HeadlessLoop, WatchedDescriptorCallsBackOnTheLoopThread) {
  CHeadlessMessageLoop loop;
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  int reads = 0;
  const int watch = loop.WatchReadable(fds[0], [&] {
    char c;
    if (read(fds[0], &c, 1) == 1) loop.PostMessage(Make(0, WM_APP, static_cast<uint64_t>(c)));
    ++reads;
  });
  ASSERT_GT(watch, 0);
  ASSERT_EQ(1, write(fds[1], "x", 1));
  Message m;
  ASSERT_TRUE(loop.GetMessage(m));  // blocks until the pipe is readable
  EXPECT_EQ(static_cast<uint64_t>('x'), m.wParam);
  loop.Unwatch(watch);
  ASSERT_EQ(1, write(fds[1], "y", 1));
  EXPECT_TRUE(Drain(loop).empty());
  EXPECT_EQ(1, reads);
  close(fds[0]);
  close(fds[1]);
}

// ---------------------------------------------------------------- windows in one process

TEST(Window, HandleCarriesTheProcessIdAndIsUnique) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow a(loop), b(loop);
  ASSERT_TRUE(a.Create(kMainWindowClass, "A"));
  ASSERT_TRUE(b.Create(kMainWindowClass, "B"));
  EXPECT_NE(0u, a.Handle());
  EXPECT_NE(a.Handle(), b.Handle());
  EXPECT_EQ(getpid(), HandleProcessId(a.Handle()));
  EXPECT_EQ(getpid(), HandleProcessId(b.Handle()));
  EXPECT_NE(0u, a.Handle() & kHandleCounterMask);
  EXPECT_FALSE(a.Create(kMainWindowClass, "again"));
}

TEST(Window, CreateWritesSocketAndInfoAndDestroyRemovesThem) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  ASSERT_TRUE(w.Create("QEV", "Product\nwith \\ odd title"));
  const HWND hwnd = w.Handle();
  EXPECT_EQ(sandbox.Path("/run/qev/qev-windows/"), WindowsFolder());
  EXPECT_TRUE(IsSocket(WindowSocketPath(hwnd)));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(WindowInfoPath(hwnd), text));
  WindowInfo info;
  ASSERT_TRUE(ParseWindowInfo(text, info));
  EXPECT_EQ(hwnd, info.hwnd);
  EXPECT_EQ(getpid(), info.pid);
  EXPECT_EQ(ProcessStartTime(getpid()), info.startTime);
  EXPECT_EQ("QEV", info.className);
  EXPECT_EQ("Product\nwith \\ odd title", info.title);

  ASSERT_TRUE(w.SetTitle("Renamed"));
  EXPECT_EQ("Renamed", w.Title());
  EXPECT_EQ(hwnd, FindWindow("QEV", "Renamed"));
  EXPECT_EQ(0u, FindWindow("QEV", "Product\nwith \\ odd title"));

  w.Destroy();
  EXPECT_EQ(0u, w.Handle());
  EXPECT_FALSE(PathExists(WindowSocketPath(hwnd)));
  EXPECT_FALSE(PathExists(WindowInfoPath(hwnd)));
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessage(hwnd, WM_APP));
}

TEST(Window, FindWindowMatchesClassAndTitleExactly) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow a(loop), b(loop), c(loop);
  ASSERT_TRUE(a.Create("QEV", "Product A"));
  ASSERT_TRUE(b.Create("QEV", "Product B"));
  ASSERT_TRUE(c.Create("Other", "Product A"));
  const struct {
    const char* className;
    const char* title;
    HWND expected;
  } cases[] = {
      {"QEV", "Product A", a.Handle()}, {"QEV", "Product B", b.Handle()}, {"Other", "Product A", c.Handle()},
      {"QEV", "product a", 0},          {"qev", "Product A", 0},          {"QEV", "Product", 0},
      {"QEV", "Product A ", 0},         {"QE", "Product A", 0},           {"", "", 0},
  };
  for (const auto& tc : cases) {
    EXPECT_EQ(tc.expected, FindWindow(tc.className, tc.title)) << tc.className << " / " << tc.title;
  }
}

TEST(Window, IsWindowAndClassName) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  ASSERT_TRUE(w.Create("QEV", "T"));
  EXPECT_TRUE(IsWindow(w.Handle()));
  EXPECT_EQ("QEV", GetWindowClassName(w.Handle()));
  EXPECT_FALSE(IsWindow(0));
  EXPECT_EQ("", GetWindowClassName(0));
  const HWND unused = static_cast<HWND>(getpid()) << kHandleCounterBits | kHandleCounterMask;
  EXPECT_FALSE(IsWindow(unused == w.Handle() ? unused - 1 : unused));
  const HWND dead = static_cast<HWND>(DeadPid()) << kHandleCounterBits | 1;
  EXPECT_FALSE(IsWindow(dead));
  EXPECT_EQ("", GetWindowClassName(dead));
}

TEST(Window, StaleEntriesAreRemovedWhenFound) {
  qevtest::Sandbox sandbox;
  ASSERT_TRUE(CreateFolderTree(WindowsFolder()));
  const pid_t dead = DeadPid();
  const pid_t parent = getppid();
  struct Case {
    const char* name;
    int pid;
    uint64_t startTime;
    bool damaged;
    bool removed;
  };
  const Case cases[] = {
      {"dead process", dead, 0, false, true},
      {"dead process with start time", dead, 12345, false, true},
      {"reused process id (start time differs)", parent, ProcessStartTime(parent) + 1, false, true},
      {"our own id, not one of our windows", getpid(), ProcessStartTime(getpid()), false, true},
      {"damaged, owner dead", dead, 0, true, true},
      {"damaged, owner alive", parent, 0, true, false},
      {"live process", parent, ProcessStartTime(parent), false, false},
  };
  uint32_t counter = 1;
  for (const Case& tc : cases) {
    WindowInfo info;
    info.hwnd = static_cast<HWND>(tc.pid) << kHandleCounterBits | counter++;
    info.pid = tc.pid;
    info.startTime = tc.startTime;
    info.className = "QEV";
    info.title = tc.name;
    const std::string text = tc.damaged ? std::string("qev-window 1\nhandle=garbage\n") : FormatWindowInfo(info);
    ASSERT_TRUE(WriteWholeFileAtomic(WindowInfoPath(info.hwnd), text));
    ASSERT_TRUE(WriteWholeFileAtomic(WindowSocketPath(info.hwnd), ""));

    const HWND found = FindWindow("QEV", tc.name);
    EXPECT_EQ(tc.removed || tc.damaged ? 0u : info.hwnd, found) << tc.name;
    EXPECT_EQ(!tc.removed, PathExists(WindowInfoPath(info.hwnd))) << tc.name;
    EXPECT_EQ(!tc.removed, PathExists(WindowSocketPath(info.hwnd))) << tc.name;
    // A plain file where the socket should be is not a window.
    EXPECT_FALSE(IsWindow(info.hwnd)) << tc.name;
    unlink(WindowInfoPath(info.hwnd).c_str());
    unlink(WindowSocketPath(info.hwnd).c_str());
  }
}

TEST(Window, OrphanSocketAndTemporaryFilesOfDeadOwnersAreRemoved) {
  qevtest::Sandbox sandbox;
  ASSERT_TRUE(CreateFolderTree(WindowsFolder()));
  const HWND dead = static_cast<HWND>(DeadPid()) << kHandleCounterBits | 3;
  const HWND alive = static_cast<HWND>(getppid()) << kHandleCounterBits | 3;
  for (HWND h : {dead, alive}) {
    ASSERT_TRUE(WriteWholeFileAtomic(WindowSocketPath(h), ""));
    ASSERT_TRUE(WriteWholeFileAtomic(WindowInfoPath(h) + ".tmp77", "half"));
  }
  EXPECT_EQ(0u, FindWindow("QEV", "x"));
  EXPECT_FALSE(PathExists(WindowSocketPath(dead)));
  EXPECT_FALSE(PathExists(WindowInfoPath(dead) + ".tmp77"));
  EXPECT_TRUE(PathExists(WindowSocketPath(alive)));
  EXPECT_TRUE(PathExists(WindowInfoPath(alive) + ".tmp77"));
}

TEST(Window, ParseWindowInfoRejectsMalformedText) {
  WindowInfo good;
  good.hwnd = 1234u << kHandleCounterBits | 5;
  good.pid = 1234;
  good.startTime = 99;
  good.className = "QEV";
  good.title = "a\\b\rc\nd";
  WindowInfo out;
  ASSERT_TRUE(ParseWindowInfo(FormatWindowInfo(good), out));
  EXPECT_EQ(good.hwnd, out.hwnd);
  EXPECT_EQ(good.title, out.title);
  EXPECT_EQ(99u, out.startTime);

  const std::string bad[] = {
      "",
      "qev-window 2\nhandle=1263621\npid=1234\nclass=QEV\ntitle=T\n",
      "qev-window 1\npid=1234\nclass=QEV\ntitle=T\n",
      "qev-window 1\nhandle=1263621\npid=1235\nclass=QEV\ntitle=T\n",  // pid is not the handle's
      "qev-window 1\nhandle=1263621\npid=1234\nclass=QEV\n",
      "qev-window 1\nhandle=12a\npid=1234\nclass=QEV\ntitle=T\n",
      "qev-window 1\nhandle=99999999999\npid=1234\nclass=QEV\ntitle=T\n",
      "qev-window 1\nhandle=1263621\npid=1234\nclass=QEV\ntitle=T\\x\n",
      "qev-window 1\nhandle=1263621\npid=1234\nclass=QEV\ntitle=T\\\n",
  };
  for (const std::string& text : bad) EXPECT_FALSE(ParseWindowInfo(text, out)) << text;
  // The same fields as the bad ones, correct: the cases above fail for their own fault.
  EXPECT_TRUE(ParseWindowInfo("qev-window 1\nhandle=1263621\npid=1234\nclass=QEV\ntitle=T\\\\\n", out));
  EXPECT_EQ("T\\", out.title);
}

TEST(Window, PostAndSendToALocalWindow) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  std::vector<Message> seen;
  w.SetProcedure([&](const Message& m, int64_t& result) {
    seen.push_back(m);
    result = m.lParam * 10;
    return true;
  });
  ASSERT_TRUE(w.Create("QEV", "T"));
  ASSERT_TRUE(PostMessage(w.Handle(), WM_INSTALL_PROGRESS, 42));
  ASSERT_TRUE(PostMessage(w.Handle(), WM_COPYDATA, 0, 0, EncodeCopyDataText(L"ok")));
  EXPECT_EQ(70, SendMessage(w.Handle(), WM_APP, 0, 7));  // UI thread: runs at once
  ASSERT_EQ(1u, seen.size());
  Drain(loop);
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(WM_INSTALL_PROGRESS, seen[1].message);
  EXPECT_EQ(42u, seen[1].wParam);
  EXPECT_EQ(L"ok", DecodeCopyDataText(seen[2].payload));

  int64_t result = 0;
  std::thread sender([&] { EXPECT_TRUE(SendMessageTimeout(w.Handle(), WM_APP, 0, 3, -1, result)); });
  while (loop.QueuedCount() < 1) std::this_thread::yield();
  Drain(loop);
  sender.join();
  EXPECT_EQ(30, result);
  EXPECT_EQ(0, SendMessage(0, WM_APP));
}

TEST(Window, PostingFromManyThreadsLosesNothing) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2500;
  std::vector<int64_t> last(kThreads, -1);
  int received = 0, outOfOrder = 0;
  w.SetProcedure([&](const Message& m, int64_t&) {
    if (m.message != WM_APP) return false;
    const size_t t = static_cast<size_t>(m.wParam);
    if (m.lParam != last[t] + 1) ++outOfOrder;
    last[t] = m.lParam;
    if (++received == kThreads * kPerThread) loop.PostQuitMessage(0);
    return true;
  });
  ASSERT_TRUE(w.Create("QEV", "T"));
  const HWND hwnd = w.Handle();
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        if (!PostMessage(hwnd, WM_APP, static_cast<uint64_t>(t), i)) ++failed;
      }
    });
  }
  EXPECT_EQ(0, loop.Run());
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failed.load());
  EXPECT_EQ(kThreads * kPerThread, received);
  EXPECT_EQ(0, outOfOrder);
}

TEST(Window, ShowStateAndBringForward) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  ASSERT_TRUE(w.Create("QEV", "T"));
  EXPECT_FALSE(w.IsVisible());
  EXPECT_FALSE(w.ShowWindow(SW_SHOWNORMAL));
  EXPECT_TRUE(w.IsVisible());
  EXPECT_TRUE(w.ShowWindow(SW_MINIMIZE));
  EXPECT_TRUE(w.IsMinimized());
  w.BringForward();
  EXPECT_FALSE(w.IsMinimized());
  EXPECT_TRUE(w.IsVisible());
  EXPECT_TRUE(w.IsForeground());
  w.ShowWindow(SW_HIDE);
  EXPECT_FALSE(w.IsVisible());
  EXPECT_FALSE(w.IsForeground());
}

TEST(Window, ActivateExistingWindowRestoresOrShowsTheMainWindow) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow minimised(loop), hidden(loop), other(loop);
  ASSERT_TRUE(minimised.Create(kMainWindowClass, "Minimised"));
  ASSERT_TRUE(hidden.Create(kMainWindowClass, "Hidden"));
  ASSERT_TRUE(other.Create("Other", "Other"));
  minimised.ShowWindow(SW_MINIMIZE);

  EXPECT_TRUE(ActivateExistingWindow("Minimised"));
  EXPECT_TRUE(ActivateExistingWindow("Hidden"));
  EXPECT_FALSE(ActivateExistingWindow("Other"));  // not of the main window's class
  EXPECT_FALSE(ActivateExistingWindow("Nobody"));
  EXPECT_TRUE(minimised.IsMinimized());  // posted, not yet handled
  Drain(loop);
  EXPECT_FALSE(minimised.IsMinimized());
  EXPECT_TRUE(minimised.IsVisible());
  EXPECT_TRUE(minimised.IsForeground());
  EXPECT_TRUE(hidden.IsVisible());
  EXPECT_TRUE(hidden.IsForeground());
  EXPECT_FALSE(other.IsVisible());
}

TEST(Window, ProcedureCanOverrideDefaultProcessing) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  w.SetProcedure([](const Message& m, int64_t&) { return m.message == WM_SYSCOMMAND; });
  ASSERT_TRUE(w.Create(kMainWindowClass, "T"));
  ASSERT_TRUE(PostMessage(w.Handle(), WM_SYSCOMMAND, SC_RESTORE));
  Drain(loop);
  EXPECT_FALSE(w.IsVisible());
}

// ---------------------------------------------------------------- text records and wire format

TEST(CopyData, TextIsUtf16LittleEndianWithTerminator) {
  EXPECT_EQ(std::string("\0\0", 2), EncodeCopyDataText(L""));
  EXPECT_EQ(std::string("A\0\0\0", 4), EncodeCopyDataText(L"A"));
  EXPECT_EQ(std::string("\x16\x4e\0\0", 4), EncodeCopyDataText(L"\u4e16"));
  EXPECT_EQ(std::string("\x34\xd8\x1e\xdd\0\0", 6), EncodeCopyDataText(L"\U0001D11E"));

  const struct {
    std::string payload;
    std::wstring text;
  } cases[] = {
      {std::string("h\0i\0\0\0", 6), L"hi"},
      {std::string("h\0i\0", 4), L"hi"},                      // no terminator: up to the end
      {std::string("h\0\0\0i\0", 6), L"h"},                   // stops at the first zero unit
      {std::string("h\0i", 3), L"h"},                         // odd last byte ignored
      {std::string("\x34\xd8\x1e\xdd", 4), L"\U0001D11E"},    // surrogate pair
      {std::string("\x34\xd8" "A\0", 4), L"?A"},              // lone high surrogate
      {std::string("\x1e\xdd", 2), L"?"},                     // lone low surrogate
      {std::string(), L""},
  };
  for (const auto& tc : cases) EXPECT_EQ(tc.text, DecodeCopyDataText(tc.payload));
  const std::wstring mixed = L"Setup \u00e9v\u00e9nement \u4e2d\u6587 \U0001F600";
  EXPECT_EQ(mixed, DecodeCopyDataText(EncodeCopyDataText(mixed)));
}

TEST(Wire, RoundTripAndBounds) {
  Message m = Make(0, WM_COPYDATA, 0xFFFFFFFFFFFFFFFFull, -5);
  m.payload = std::string(kMaxWirePayload, 'x');
  const std::string bytes = EncodeWireMessage(0x1234, m);
  ASSERT_EQ(kWireHeaderSize + kMaxWirePayload, bytes.size());
  EXPECT_EQ("QEVM", bytes.substr(0, 4));
  Message out;
  ASSERT_TRUE(DecodeWireMessage(bytes, 0x1234, out));
  EXPECT_EQ(0x1234u, out.hwnd);
  EXPECT_EQ(WM_COPYDATA, out.message);
  EXPECT_EQ(m.wParam, out.wParam);
  EXPECT_EQ(-5, out.lParam);
  EXPECT_EQ(m.payload, out.payload);
  EXPECT_FALSE(DecodeWireMessage(bytes, 0x1235, out));

  m.payload.push_back('x');
  EXPECT_EQ("", EncodeWireMessage(0x1234, m));
}

// ---------------------------------------------------------------- across processes

TEST(CrossProcess, BadDatagramsAreDropped) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  ASSERT_TRUE(w.Create("QEV", "T"));
  const HWND hwnd = w.Handle();
  const std::string good = EncodeWireMessage(hwnd, Make(0, WM_INSTALL_PROGRESS, 7));
  auto patched = [&](size_t offset, std::string bytes) {
    std::string d = good;
    d.replace(offset, bytes.size(), bytes);
    return d;
  };
  Message big = Make(0, WM_COPYDATA);
  big.payload = std::string(kMaxWirePayload + 1, 'x');
  std::string oversize = EncodeWireMessage(hwnd, Make(0, WM_COPYDATA));
  oversize.replace(32, 4, std::string("\x01\x00\x01\x00", 4));  // 65537
  oversize += big.payload;

  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", std::string()},
      {"short", good.substr(0, 10)},
      {"header cut", good.substr(0, kWireHeaderSize - 1)},
      {"bad magic", patched(0, "QEVX")},
      {"bad version", patched(4, std::string("\x02\x00", 2))},
      {"reserved set", patched(6, std::string("\x01\x00", 2))},
      {"other target", patched(12, std::string("\x01\x00\x00\x00", 4))},
      {"length beyond datagram", patched(32, std::string("\x05\x00\x00\x00", 4))},
      {"trailing bytes", good + "zz"},
      {"payload over the bound", oversize},
      {"random", std::string(200, '\x5a')},
  };
  uint64_t dropped = 0;
  for (const auto& tc : cases) {
    ASSERT_TRUE(SendRaw(hwnd, tc.bytes)) << tc.name;
    EXPECT_TRUE(Drain(loop).empty()) << tc.name;
    EXPECT_EQ(++dropped, w.DroppedDatagrams()) << tc.name;
  }
  ASSERT_TRUE(SendRaw(hwnd, good));
  const std::vector<Message> got = Drain(loop);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(WM_INSTALL_PROGRESS, got[0].message);
  EXPECT_EQ(7u, got[0].wParam);
  EXPECT_EQ(hwnd, got[0].hwnd);
}

TEST(CrossProcess, QevPostDeliversExactValues) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  std::vector<Message> seen;
  w.SetProcedure([&](const Message& m, int64_t&) {
    seen.push_back(m);
    return false;
  });
  ASSERT_TRUE(w.Create(kMainWindowClass, "Corvane Product"));
  const std::string hwnd = std::to_string(w.Handle());
  const std::string text = "progress: 42 % \xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80";

  qevtest::RunResult r = Post({hwnd, "0x46F", "42"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  r = Post({hwnd, "74", "--copydata", text});
  ASSERT_EQ(0, r.exitCode) << r.err;
  r = Post({hwnd, "0x81bc", "0xffffffffffffffff", "-9223372036854775808"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  std::vector<Message> got = Drain(loop);

  ASSERT_EQ(3u, got.size());
  EXPECT_EQ(WM_INSTALL_PROGRESS, got[0].message);
  EXPECT_EQ(42u, got[0].wParam);
  EXPECT_EQ(0, got[0].lParam);
  EXPECT_TRUE(got[0].payload.empty());
  EXPECT_EQ(WM_COPYDATA, got[1].message);
  EXPECT_EQ(Utf8ToWide(text), DecodeCopyDataText(got[1].payload));
  EXPECT_EQ(EncodeCopyDataText(Utf8ToWide(text)), got[1].payload);
  EXPECT_EQ(WM_APP_EXIT, got[2].message);
  EXPECT_EQ(0xFFFFFFFFFFFFFFFFull, got[2].wParam);
  EXPECT_EQ(INT64_MIN, got[2].lParam);
  EXPECT_EQ(3u, seen.size());  // dispatched to the window

  r = Post({"--find", kMainWindowClass, "Corvane Product"});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(hwnd + "\n", r.out);

  // Another instance asking the window forward goes through the same path.
  w.ShowWindow(SW_MINIMIZE);
  r = Post({hwnd, "0x112", "0xF120"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  Drain(loop);
  EXPECT_FALSE(w.IsMinimized());
  EXPECT_TRUE(w.IsForeground());
}

TEST(CrossProcess, QevPostExitCodes) {
  qevtest::Sandbox sandbox;
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  ASSERT_TRUE(w.Create(kMainWindowClass, "T"));
  const std::string hwnd = std::to_string(w.Handle());
  const std::string dead = std::to_string(static_cast<HWND>(DeadPid()) << kHandleCounterBits | 1);
  const struct {
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {{}, 2},
      {{hwnd}, 2},
      {{"abc", "1"}, 2},
      {{"0x", "1"}, 2},
      {{"12abc", "1"}, 2},
      {{"4294967296", "1"}, 2},
      {{hwnd, "0x100000000"}, 2},
      {{hwnd, "1", "2", "3", "4"}, 2},
      {{hwnd, "1", "-2"}, 2},
      {{hwnd, "1", "2", "-0x3"}, 2},
      {{hwnd, "1", "--copydata"}, 2},
      {{hwnd, "1", "--copydata", "a", "--copydata", "b"}, 2},
      {{hwnd, "1", "--bogus"}, 2},
      {{"--find", "QEV"}, 2},
      {{"--find", "QEV", "T", "extra"}, 2},
      {{hwnd, "1", "--copydata", std::string(40000, 'a')}, 2},  // record over 64 KiB
      {{dead, "1"}, 1},
      {{"0", "1"}, 1},
      {{"--find", "QEV", "Nobody"}, 1},
      {{"--find", "QEV", "T"}, 0},
      {{hwnd, "0x400", "1", "-1", "--copydata", ""}, 0},
  };
  for (const auto& tc : cases) {
    const qevtest::RunResult r = Post(tc.args);
    std::string joined;
    for (const auto& a : tc.args) joined += (a.size() > 20 ? a.substr(0, 20) + "..." : a) + " ";
    EXPECT_EQ(tc.exitCode, r.exitCode) << joined << r.err;
    Drain(loop);  // keep the socket's queue short
  }
}

TEST(CrossProcess, HandlesAreUniqueAcrossProcessesAndDeadOnesVanish) {
  qevtest::Sandbox sandbox;
  int toParent[2], toChild[2];
  ASSERT_EQ(0, pipe(toParent));
  ASSERT_EQ(0, pipe(toChild));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child only makes a window, reports its handle and waits to be killed.
    close(toParent[0]);
    close(toChild[1]);
    CHeadlessMessageLoop childLoop;
    NativeWindow childWindow(childLoop);
    if (!childWindow.Create(kMainWindowClass, "Child")) _exit(3);
    const HWND h = childWindow.Handle();
    if (write(toParent[1], &h, sizeof(h)) != sizeof(h)) _exit(4);
    char c;
    while (read(toChild[0], &c, 1) < 0) {
    }
    _exit(0);
  }
  close(toParent[1]);
  close(toChild[0]);
  CHeadlessMessageLoop loop;
  NativeWindow w(loop);
  ASSERT_TRUE(w.Create(kMainWindowClass, "Parent"));
  HWND childHandle = 0;
  ASSERT_EQ(static_cast<ssize_t>(sizeof(childHandle)), read(toParent[0], &childHandle, sizeof(childHandle)));

  EXPECT_NE(w.Handle(), childHandle);
  EXPECT_EQ(child, HandleProcessId(childHandle));
  EXPECT_TRUE(IsWindow(childHandle));
  EXPECT_EQ(kMainWindowClass, GetWindowClassName(childHandle));
  EXPECT_EQ(childHandle, FindWindow(kMainWindowClass, "Child"));
  EXPECT_TRUE(PostMessage(childHandle, WM_INSTALL_PROGRESS, 1));
  EXPECT_EQ(0, SendMessage(childHandle, WM_APP));  // sending stays inside a process

  // Killed without cleaning up: its files stay until someone finds them stale.
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(toParent[0]);
  close(toChild[1]);
  EXPECT_TRUE(PathExists(WindowInfoPath(childHandle)));
  EXPECT_FALSE(IsWindow(childHandle));
  EXPECT_FALSE(PostMessage(childHandle, WM_INSTALL_PROGRESS, 2));
  EXPECT_EQ(0u, FindWindow(kMainWindowClass, "Child"));
  EXPECT_FALSE(PathExists(WindowInfoPath(childHandle)));
  EXPECT_FALSE(PathExists(WindowSocketPath(childHandle)));
  EXPECT_EQ(w.Handle(), FindWindow(kMainWindowClass, "Parent"));
}
