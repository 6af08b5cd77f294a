#pragma once
// Processes: start, wait with a time-out, end; the administrator check; rights dropping for
// starting a program "through the desktop shell".
#include <sys/types.h>

#include <string>
#include <vector>

namespace plat {

// Splits a command line with the Windows rules: blanks separate, double quotes group,
// 2n backslashes before a quote give n backslashes and a quote mark toggles grouping,
// 2n+1 backslashes before a quote give n backslashes and a literal quote, other
// backslashes are literal, "" inside a quoted part gives a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

struct SpawnOptions {
  bool hidden = true;              // stdin from /dev/null; stdout/stderr kept unless redirected
  bool dropToDesktopUser = false;  // run as $SUDO_UID/$SUDO_GID when set
  std::string workingDir;          // empty: inherit
  std::string stdoutPath;          // empty: inherit; otherwise appended to
};

// Starts argv[0] (searched on PATH when it has no '/'). Returns the process id, or -1 when
// the program cannot be found or started (or the rights cannot be dropped). With
// dropToDesktopUser the output file and the working folder are opened as that user.
pid_t Spawn(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// Waits for the child. Returns true with its exit code (0..255; a signal death gives -1) when
// it ended within timeoutMs (negative: wait for ever); false on time-out. A process that is
// not our child is polled until it is gone, with exit code -1.
bool WaitForExit(pid_t pid, int timeoutMs, int& exitCode);
// SIGKILL and reap. Ignores pid <= 0.
void Terminate(pid_t pid);

// Runs a command line hidden, waits up to timeoutMs, ends it on time-out (exit code -1).
// True only when it ended with exit code 0.
bool RunHiddenWithTimeout(const std::string& commandLine, int timeoutMs, int* exitCode = nullptr);

// Effective user id 0, or, in a sandbox, the owner of the sandbox root.
bool IsAdministrator();

// Opens an address or a file with the desktop's handler (xdg-open), not waiting, as the
// desktop user when we run through sudo. False when xdg-open cannot be found or started.
bool OpenWithDesktop(const std::string& target);

}  // namespace plat
