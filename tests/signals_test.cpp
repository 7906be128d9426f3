#include "os/signals.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "child_process.h"
#include "os/copy.h"
#include "os/signals_for_tests.h"
#include "run_output.h"
#include "test_util.h"

namespace {

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
    ChildOptions options;
    options.capture = false;
    options.outputFd = logFd;
    // On a busy machine the test, not the copy, should get the processor.
    options.niceness = 19;
    options.defaultSignals = true;
    options.pendingSignal = blocked;
    options.ignoreHangup = ignoreHangup;
    ChildProcess child({PLINKARD_BINARY, "-i", library->path(), "-o", out, "-s",
                        "1000", "-l", list},
                       options);
    close(logFd);
    // Until then; a child that ended stays a zombie, safe to signal.
    while (!pathExists(out + "/big.mp3") && child.running()) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(child.pid(), signal);
    return child.wait().status;
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

// -w waits for a key at the end; a signal that ends the wait ends the run
// with 128 + its number, as one at any other time does. Standard input is
// a pipe that stays open and empty.
TEST(InterruptRun, SignalDuringTheWaitAtTheEndSetsTheStatus) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    const std::string log = dir / "log", prompt = "Press any key to continue";
    int input[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ChildOptions options;
    options.capture = false;
    options.outputFd = logFd;
    options.inputFd = input[0];
    options.defaultSignals = true;
    options.timeoutSeconds = 30;
    ChildProcess child({PLINKARD_BINARY, "-w"}, options);
    close(logFd);
    while (readText(log).find(prompt) == std::string::npos && child.running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(child.pid(), signal);
    const ChildResult ended = child.wait();
    close(input[0]);
    close(input[1]);
    EXPECT_EQ(ended.status, 128 + signal);
    EXPECT_EQ(readText(log),
              banner() + "No input directory given!\n" + prompt + " . . . \n");
  }
}

TEST(InterruptUnit, NotedSignalStopsTheCopyAndTheWait) {
  TempDir dir;
  writeFile(dir / "a.mp3", 10 << 20);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  os::raiseInterrupt(SIGINT);
  os::CopyOptions options;
  options.stop = [] { return os::interruptSignal() != 0; };
  EXPECT_EQ(os::copyFileExclusive(dir / "a.mp3", os::HeldFolder(),
                                  dir / "b.mp3", options)
                .status,
            os::CopyStatus::Interrupted);
  EXPECT_FALSE(pathExists(dir / "b.mp3"));
  EXPECT_FALSE(os::waitForInput(fds[0]));
  os::clearInterrupt();
  close(fds[1]);
  EXPECT_TRUE(os::waitForInput(fds[0])) << "the end of input ends the wait";
  close(fds[0]);
}

}  // namespace
