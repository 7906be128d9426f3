#include "job/interrupt.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_util.h"
#include "transfer/file_copy.h"

namespace {

// How the child is set up before it runs the program; whatever the test
// runner ignored or blocked is not passed on.
enum class Start { Plain, TermPending, HangupIgnored };

pid_t startPlinkard(std::vector<std::string> args, int outFd, Start start) {
  args.insert(args.begin(), PLINKARD_BINARY);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child != 0) return child;
  dup2(outFd, STDOUT_FILENO);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
  sigset_t set;
  sigfillset(&set);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  if (start == Start::HangupIgnored) signal(SIGHUP, SIG_IGN);
  if (start == Start::TermPending) {
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    raise(SIGTERM);
  }
  execv(argv[0], argv.data());
  _exit(127);
}

int exitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

off_t sizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// A library of a big song, whose copy takes long enough to be caught, and
// a small one, made once for all the tests.
class InterruptTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    library = new TempDir;
    writeFile(*library / "big.mp3", 200 << 20);
    writeFile(*library / "small.mp3", 1 << 20);
  }
  static void TearDownTestSuite() { delete library; }

  void SetUp() override { makeDirs(out); }

  // Fills everything into `out`; sends `signal` once the big song's copy
  // has begun. Returns the exit status.
  int fill(int signal, Start start = Start::Plain) {
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t child = startPlinkard(
        {"-i", library->path(), "-o", out, "-s", "1000", "-l", list}, logFd,
        start);
    close(logFd);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (pathExists(out + "/big.mp3")) {
        kill(child, signal);
        waitpid(child, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return exitStatus(status);
  }

  // The output of a fill of both songs, from the heading of the copy on.
  std::string head() const {
    return banner() + "Added Input Dir " + library->path() +
           "\nOutput Dir is " + out + "\nUsed songs list '" + list +
           "' does not exist! We will create one at the end though.\n"
           "Used songs list: " +
           list + "\nNo filters given, only search for .mp3 files.\n";
  }

  static TempDir* library;
  TempDir dir;
  const std::string out = dir / "out";
  const std::string list = dir / "used.txt";
  const std::string log = dir / "log";
};

TempDir* InterruptTest::library = nullptr;

TEST_F(InterruptTest, SignalDuringCopyKeepsWhatWasCopiedAndEndsTheRun) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    for (const std::string& name : listTree(out))
      unlink((out + "/" + name).c_str());
    unlink(list.c_str());
    EXPECT_EQ(fill(signal), 128 + signal);
    // The plan's order is random: what is at the target tells it.
    const bool smallCopied = pathExists(out + "/small.mp3");
    const bool bigCopied = pathExists(out + "/big.mp3");
    if (bigCopied) std::cout << "note: the big copy finished first\n";
    EXPECT_EQ(listTree(out).size(), size_t(smallCopied) + bigCopied);
    EXPECT_EQ(sizeOf(out + "/big.mp3"), bigCopied ? 200 << 20 : -1);
    EXPECT_EQ(sizeOf(out + "/small.mp3"), smallCopied ? 1 << 20 : -1);
    EXPECT_EQ(readText(list),
              std::string(smallCopied ? "1024\"small.mp3\n" : "") +
                  (bigCopied ? "204800\"big.mp3\n" : ""));
    EXPECT_EQ(readText(log),
              head() +
                  "Scanning directories...\n\n2 files found!\n"
                  "Processing index...\nCreating a plan to fill...\n"
                  "Most efficient combination: 0.201\nCopying files...\n"
                  "bMove is false\n" +
                  (smallCopied ? "Copying file 1 / 2: small.mp3\n"
                                 "Copying file 2 / 2: big.mp3\n"
                               : "Copying file 1 / 2: big.mp3\n") +
                  "Interrupted!\n" +
                  (bigCopied ? ""
                             : "File '" + *library / "big.mp3" +
                                   " could not be copied!\n") +
                  "\nThis configuration uses 201 / 1000  MB (20.1%).\n"
                  "2 files were processed, " +
                  std::to_string(smallCopied + bigCopied) +
                  " files werde copied.\n");
  }
}

TEST_F(InterruptTest, SignalBeforeTheCopyEndsTheRunWithNothingWritten) {
  EXPECT_EQ(fill(SIGKILL, Start::TermPending), 128 + SIGTERM);
  EXPECT_EQ(readText(log), head() + "Interrupted!\n");
  EXPECT_FALSE(pathExists(list));
  EXPECT_TRUE(listTree(out).empty());
}

TEST_F(InterruptTest, HangupIgnoredByTheCallerStaysIgnored) {
  EXPECT_EQ(fill(SIGHUP, Start::HangupIgnored), 0);
  EXPECT_EQ(sizeOf(out + "/big.mp3"), 200 << 20);
  EXPECT_EQ(sizeOf(out + "/small.mp3"), 1 << 20);
}

// Output must not be lost to a signal that arrives while the program waits
// for a reader that is slow to take it.
TEST(InterruptOutput, SignalDuringABlockedWriteLosesNoOutput) {
  TempDir dir;
  for (int i = 0; i < 2000; ++i) writeText(dir / std::to_string(i), "");
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  const pid_t child = startPlinkard(
      {"-v", "-i", dir.path(), "-o", dir.path(), "-s", "1"}, fds[1],
      Start::Plain);
  close(fds[1]);
  // The pipe is full when what waits in it stops growing.
  for (int queued = -1, now = 0; queued != now || now == 0;) {
    queued = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ioctl(fds[0], FIONREAD, &now);
  }
  kill(child, SIGINT);
  // Left alone for a while, the woken writer finds the pipe still full.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::string out;
  char buffer[65536];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
    out.append(buffer, size_t(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(exitStatus(status), 128 + SIGINT);
  EXPECT_EQ(out.substr(out.size() - 14), "\nInterrupted!\n") << out;
}

TEST(CopyFileExclusive, NotedSignalStopsTheCopyAndRemovesItsTarget) {
  TempDir dir;
  writeFile(dir / "a.mp3", 10 << 20);
  raiseInterrupt(SIGINT);
  EXPECT_EQ(copyFileExclusive(dir / "a.mp3", dir / "b.mp3"), kCopyInterrupted);
  clearInterrupt();
  EXPECT_FALSE(pathExists(dir / "b.mp3"));
}

TEST(WaitForInput, SignalEndsTheWait) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  installInterruptHandlers();
  const pthread_t waiter = pthread_self();
  std::thread sender([waiter] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pthread_kill(waiter, SIGTERM);
  });
  EXPECT_FALSE(waitForInput(fds[0]));
  sender.join();
  EXPECT_EQ(interruptSignal(), SIGTERM);
  clearInterrupt();
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
  close(fds[1]);
  EXPECT_TRUE(waitForInput(fds[0])) << "the end of input is input";
  close(fds[0]);
}

}  // namespace
