#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "platform/Folders.h"
#include "platform/Process.h"
#include "support/Sandbox.h"

namespace {

using plat::SingleInstance;

// 0: the child got the name, 1: someone else holds it, 2: the lock could not be made.
int AcquireInChild(const std::string& name) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    SingleInstance s;
    const bool got = s.Acquire(name);
    _exit(got ? 0 : (s.HeldElsewhere() ? 1 : 2));
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SingleInstance, SecondProcessIsRefusedWhileTheFirstHolds) {
  qevtest::Sandbox box;
  SingleInstance first;
  ASSERT_TRUE(first.Acquire("Demo_qev"));
  EXPECT_TRUE(first.Held());
  EXPECT_EQ(AcquireInChild("Demo_qev"), 1);
  first.Release();
  EXPECT_FALSE(first.Held());
  EXPECT_EQ(AcquireInChild("Demo_qev"), 0);
}

TEST(SingleInstance, SecondHolderInTheSameProcessIsRefused) {
  qevtest::Sandbox box;
  SingleInstance first;
  ASSERT_TRUE(first.Acquire("Demo_qev"));
  {
    SingleInstance second;
    EXPECT_FALSE(second.Acquire("Demo_qev"));
    EXPECT_TRUE(second.HeldElsewhere());
  }
  // Acquiring again on the holder itself keeps it held.
  EXPECT_TRUE(first.Acquire("Demo_qev"));
  {
    SingleInstance scoped;
    first.Release();
    EXPECT_TRUE(scoped.Acquire("Demo_qev"));
  }
  // The destructor let it go.
  EXPECT_EQ(AcquireInChild("Demo_qev"), 0);
}

TEST(SingleInstance, FreedWhenTheHolderDies) {
  qevtest::Sandbox box;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    close(fds[0]);
    SingleInstance s;
    const char got = s.Acquire("Demo_qev") ? 'y' : 'n';
    if (write(fds[1], &got, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(fds[1]);
  char got = 0;
  ASSERT_EQ(read(fds[0], &got, 1), 1);
  close(fds[0]);
  ASSERT_EQ(got, 'y');

  SingleInstance mine;
  EXPECT_FALSE(mine.Acquire("Demo_qev"));
  EXPECT_TRUE(mine.HeldElsewhere());
  kill(holder, SIGKILL);
  int status;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(mine.Acquire("Demo_qev"));
  EXPECT_FALSE(mine.HeldElsewhere());
}

TEST(SingleInstance, StartedProgramsDoNotInheritTheLock) {
  qevtest::Sandbox box;
  pid_t child = -1;
  {
    SingleInstance s;
    ASSERT_TRUE(s.Acquire("Demo_qev"));
    child = plat::Spawn({"sleep", "30"});
    ASSERT_GT(child, 0);
  }
  // The sleep still runs, yet the name is free.
  EXPECT_EQ(AcquireInChild("Demo_qev"), 0);
  plat::Terminate(child);
}

TEST(SingleInstance, DifferentNamesDoNotCollide) {
  qevtest::Sandbox box;
  const std::vector<std::string> names = {
      "Demo_qev", "Demo_qev_fork", "demo_qev", "", ".", "..", "a/b c", "a%2Fb%20c", "../../escape",
      "\xe4\xb8\xad\xe6\x96\x87 \xe4\xba\xa7\xe5\x93\x81_qev", "A", "%41", std::string(300, 'x'),
      std::string(300, 'x') + "y", "tab\there", std::string("nul\0byte", 8),
  };
  std::vector<SingleInstance> holders(names.size());
  std::set<std::string> paths;
  const std::string locks = plat::RuntimeFolder() + "locks/";
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(holders[i].Acquire(names[i]));
    const std::string path = SingleInstance::LockPath(names[i]);
    ASSERT_EQ(path.compare(0, locks.size(), locks), 0);
    const std::string file = path.substr(locks.size());
    EXPECT_EQ(file.find('/'), std::string::npos);
    EXPECT_LE(file.size(), 255u);
    EXPECT_TRUE(plat::IsRegularFile(path));
    paths.insert(path);
  }
  EXPECT_EQ(paths.size(), names.size());
  // Each one is still exclusive.
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(AcquireInChild(names[i]), 1);
  }
}

TEST(SingleInstance, UnusableLockFolderIsNotMistakenForAnotherInstance) {
  qevtest::Sandbox box;
  // A plain file where the lock folder should be.
  box.WriteFile("run/qev/locks", "not a folder");
  SingleInstance s;
  EXPECT_FALSE(s.Acquire("Demo_qev"));
  EXPECT_FALSE(s.HeldElsewhere());
}

}  // namespace
