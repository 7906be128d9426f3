#include "job/interrupt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "run_output.h"
#include "test_util.h"
#include "transfer/file_copy.h"

namespace {

// Starts plinkard with its output going to `outFd`. Whatever the test
// runner ignored or blocked is not passed on; `blocked` starts out blocked
// and pending, and SIGHUP ignored when `ignoreHangup`.
pid_t startPlinkard(std::vector<std::string> args, int outFd, int blocked = 0,
                    bool ignoreHangup = false) {
  args.insert(args.begin(), PLINKARD_BINARY);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child != 0) return child;
  dup2(outFd, STDOUT_FILENO);
  // On a busy machine the test, not the copy, should get the processor.
  setpriority(PRIO_PROCESS, 0, 19);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
  if (ignoreHangup) signal(SIGHUP, SIG_IGN);
  sigset_t mask;
  sigemptyset(&mask);
  if (blocked != 0) sigaddset(&mask, blocked);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  if (blocked != 0) raise(blocked);  // pending until the program unblocks it
  execv(argv[0], argv.data());
  _exit(127);
}

int waitForExit(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A library of a big song, whose copy takes long enough to be caught, and a
// small one, made once for all the tests.
class InterruptTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    library = new TempDir;
    writeFile(*library / "big.mp3", 200 << 20);
    writeFile(*library / "small.mp3", 1 << 20);
  }
  static void TearDownTestSuite() { delete library; }

  // Fills everything into `out` and sends `signal` once the big song's
  // target appeared; returns the exit status.
  int fill(int signal, int blocked = 0, bool ignoreHangup = false) {
    makeDirs(out);
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t child = startPlinkard(
        {"-i", library->path(), "-o", out, "-s", "1000", "-l", list}, logFd,
        blocked, ignoreHangup);
    close(logFd);
    // Until then; a child that ended stays a zombie, safe to signal.
    siginfo_t ended = {};
    while (!pathExists(out + "/big.mp3") &&
           waitid(P_PID, child, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           ended.si_pid == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(child, signal);
    return waitForExit(child);
  }

  std::string head() const {
    return echoLines(library->path(), out) + newListLines(list) +
           kDefaultFilter;
  }

  static TempDir* library;
  TempDir dir;
  const std::string out = dir / "out", list = dir / "used", log = dir / "log";
};

TempDir* InterruptTest::library = nullptr;

TEST_F(InterruptTest, SignalDuringCopyKeepsWhatWasCopiedAndEndsTheRun) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    std::system(("rm -rf " + out + " " + list).c_str());
    EXPECT_EQ(fill(signal), 128 + signal);
    // The plan's order is random: what reached the target tells it.
    const bool small = pathExists(out + "/small.mp3");
    const bool big = pathExists(out + "/big.mp3");
    if (big) std::cout << "note: the big copy finished before the signal\n";
    EXPECT_EQ(listTree(out).size(), size_t(small) + big);
    EXPECT_EQ(readText(out + "/big.mp3").size(), big ? 200u << 20 : 0);
    EXPECT_EQ(readText(out + "/small.mp3").size(), small ? 1u << 20 : 0);
    EXPECT_EQ(readText(list), std::string(small ? "1024\"small.mp3\n" : "") +
                                  (big ? "204800\"big.mp3\n" : ""));
    EXPECT_EQ(withoutProgressLines(readText(log)),
              head() + scanLines(2) + planLines("0.201", false) +
                  (small ? "Copying file 1 / 2: small.mp3\nCopying file 2 / "
                           "2: big.mp3\n"
                         : "Copying file 1 / 2: big.mp3\n") +
                  "Interrupted!\n" +
                  (big ? ""
                       : "File '" + *library / "big.mp3" +
                             " could not be copied!\n") +
                  summaryLines("201 / 1000  MB (20.1%", 2, small + big));
  }
}

TEST_F(InterruptTest, SignalBeforeTheCopyEndsTheRunWithNothingWritten) {
  EXPECT_EQ(fill(SIGKILL, SIGTERM), 128 + SIGTERM);
  EXPECT_EQ(withoutProgressLines(readText(log)), head() + "Interrupted!\n");
  EXPECT_FALSE(pathExists(list));
  EXPECT_TRUE(listTree(out).empty());
}

TEST_F(InterruptTest, HangupIgnoredByTheCallerStaysIgnored) {
  EXPECT_EQ(fill(SIGHUP, 0, true), 0);
  EXPECT_EQ(readText(out + "/big.mp3").size(), 200u << 20);
  EXPECT_EQ(listTree(out), (std::set<std::string>{"big.mp3", "small.mp3"}));
}

TEST(InterruptUnit, NotedSignalStopsTheCopyAndTheWait) {
  TempDir dir;
  writeFile(dir / "a.mp3", 10 << 20);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  raiseInterrupt(SIGINT);
  EXPECT_EQ(copyFileExclusive(dir / "a.mp3", dir / "b.mp3"), kCopyInterrupted);
  EXPECT_FALSE(pathExists(dir / "b.mp3"));
  EXPECT_FALSE(waitForInput(fds[0]));
  clearInterrupt();
  close(fds[1]);
  EXPECT_TRUE(waitForInput(fds[0])) << "the end of input ends the wait";
  close(fds[0]);
}

}  // namespace
