#ifndef PLINKARD_TESTS_TEST_UTIL_H_
#define PLINKARD_TESTS_TEST_UTIL_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// Creates `path` (and its missing folders) holding `size` zero bytes, or
// `content` when given.
void writeFile(const std::string& path, uint64_t size);
void writeText(const std::string& path, const std::string& content);
std::string readText(const std::string& path);
void makeDirs(const std::string& path);
bool pathExists(const std::string& path);

// Every file below `dir`, as paths relative to it ("Rock/song.mp3"); folders
// are listed with a trailing '/'.
std::set<std::string> listTree(const std::string& dir);

// How to run the program.
struct RunOptions {
  std::string cwd;            // working folder; the test's own when empty
  std::string input;          // bytes on standard input
  bool closedInput = false;   // standard input closed instead
  bool unprivileged = false;  // run as nobody through setpriv
  // "NAME=value" each, set for the run. Without an XDG_CACHE_HOME among
  // them the run gets one in a temporary folder of the test program, so
  // that no test writes into the user's cache.
  std::vector<std::string> environment = {};
  std::string program = {};  // another program file than the built one
};

struct RunResult {
  std::string out;  // all of standard output
  std::string err;  // all of standard error
  int status = -1;  // exit status, or 128 + the signal that ended it
};

// How long a run may take before it is killed, in seconds.
constexpr int kRunTimeout = 120;

// Runs the built plinkard with `args` and waits for it, at most kRunTimeout
// seconds. Standard output comes without the scan's progress lines, which
// any run slower than half a second prints.
RunResult runBinary(const std::vector<std::string>& args,
                    const RunOptions& options = RunOptions());

// `text` without the scan's progress lines ("\r Scanning... N Songs found so
// far."), so that a comparison of a whole output does not depend on the
// speed of the machine.
std::string withoutProgressLines(const std::string& text);

// The banner and the empty line every run begins with.
std::string banner();

// Whether the unprivileged runs of RunOptions can be arranged here.
bool canRunUnprivileged();

#endif  // PLINKARD_TESTS_TEST_UTIL_H_
