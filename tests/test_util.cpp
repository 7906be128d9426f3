#include "test_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/version.h"
#include "child_process.h"

namespace fs = boost::filesystem;

TempDir::TempDir() {
  std::string pattern = fs::temp_directory_path().string() + "/plinkard-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
  // Unprivileged runs must be able to reach what the test puts here.
  chmod(path_.c_str(), 0755);
}

namespace {

// Gives back to every folder below `dir` the permissions a test took away.
void restorePermissions(const fs::path& dir) {
  chmod(dir.c_str(), 0755);
  boost::system::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (fs::is_directory(it->symlink_status(error))) {
      restorePermissions(it->path());
    }
  }
}

}  // namespace

TempDir::~TempDir() {
  restorePermissions(path_);
  boost::system::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string& relative) const {
  return path_ + "/" + relative;
}

void makeDirs(const std::string& path) { fs::create_directories(path); }

bool pathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void writeFile(const std::string& path, uint64_t size) {
  makeDirs(fs::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string block(65536, '\0');
  for (uint64_t left = size; left > 0;) {
    const uint64_t n = left < block.size() ? left : block.size();
    // n is at least 1 here: the loop runs while something is left.
    // cppcheck-suppress invalidFunctionArg
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

void writeText(const std::string& path, const std::string& content) {
  makeDirs(fs::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> listTree(const std::string& dir) {
  std::set<std::string> entries;
  for (fs::recursive_directory_iterator it(dir), end; it != end; ++it) {
    std::string relative = it->path().string().substr(dir.size() + 1);
    if (fs::is_directory(it->symlink_status())) relative += "/";
    entries.insert(relative);
  }
  return entries;
}

std::string withoutProgressLines(const std::string& text) {
  static const std::string head = "\r Scanning... ",
                           tail = " Songs found so far.";
  std::string result;
  size_t from = 0;
  for (size_t at = text.find(head); at != std::string::npos;
       at = text.find(head, from)) {
    const size_t digits = at + head.size();
    const size_t end = text.find_first_not_of("0123456789", digits);
    const bool whole = end != digits && end != std::string::npos &&
                       text.compare(end, tail.size(), tail) == 0;
    const size_t next = whole ? end + tail.size() : digits;
    result.append(text, from, whole ? at - from : next - from);
    from = next;
  }
  return result.append(text, from, std::string::npos);
}

std::string banner() {
  return std::string("Plinkard v. ") + PLINKARD_VERSION + "\n\n";
}

bool canRunUnprivileged() {
  return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
}

namespace {

// The cache folder of the runs that name none: one for the test program,
// which any user may write to (unprivileged runs too).
const std::string& sharedCacheHome() {
  static const TempDir dir;
  static const bool open = chmod(dir.path().c_str(), 01777) == 0;
  (void)open;
  return dir.path();
}

}  // namespace

RunResult runBinary(const std::vector<std::string>& args,
                    const RunOptions& options) {
  std::vector<std::string> command;
  if (options.unprivileged) {
    command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
               "--clear-groups"};
  }
  command.emplace_back(options.program.empty() ? PLINKARD_BINARY
                                               : options.program);
  command.insert(command.end(), args.begin(), args.end());
  ChildOptions child;
  child.cwd = options.cwd;
  child.input = options.input;
  child.closedInput = options.closedInput;
  child.environment = options.environment;
  bool cacheGiven = false;
  for (const std::string& setting : options.environment) {
    cacheGiven = cacheGiven || setting.rfind("XDG_CACHE_HOME=", 0) == 0;
  }
  if (!cacheGiven) {
    child.environment.push_back("XDG_CACHE_HOME=" + sharedCacheHome());
  }
  child.timeoutSeconds = kRunTimeout;
  const ChildResult ran = runChild(command, child);
  return RunResult{withoutProgressLines(ran.out), ran.err, ran.status};
}
