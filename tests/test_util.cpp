#include "test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <regex>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
  static const std::regex progress(R"(\r Scanning\.\.\. [0-9]+ Songs found so far\.)");
  return std::regex_replace(text, progress, "");
}

std::string banner() { return "Plinkard v. 1.6.1\n\n"; }

bool canRunUnprivileged() {
  return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
}

namespace {

// Reads once from `fd` into `sink`; closes it at its end.
void readSome(int& fd, std::string& sink) {
  char buffer[65536];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    sink.append(buffer, static_cast<size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    close(fd);
    fd = -1;
  }
}

// Reads both pipes to their end, or until `deadline`; false when the
// deadline came first.
bool drain(int outFd, int errFd, RunResult& result,
           std::chrono::steady_clock::time_point deadline) {
  while (outFd >= 0 || errFd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      for (int fd : {outFd, errFd}) {
        if (fd >= 0) close(fd);
      }
      return false;
    }
    // poll() leaves out a descriptor of -1.
    struct pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    if (fds[0].revents != 0) readSome(outFd, result.out);
    if (fds[1].revents != 0) readSome(errFd, result.err);
  }
  return true;
}

// A file in memory holding `input`, read from its start.
int inputFile(const std::string& input) {
  const int fd = memfd_create("input", MFD_CLOEXEC);
  if (fd < 0 ||
      write(fd, input.data(), input.size()) !=
          static_cast<ssize_t>(input.size()) ||
      lseek(fd, 0, SEEK_SET) != 0) {
    throw std::runtime_error("cannot make the input file");
  }
  return fd;
}

}  // namespace

RunResult runPlinkard(const std::vector<std::string>& args,
                      const RunOptions& options) {
  std::vector<std::string> command;
  if (options.unprivileged) {
    command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
               "--clear-groups"};
  }
  command.emplace_back(PLINKARD_BINARY);
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (std::string& arg : command) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
  const int in = inputFile(options.input);
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (options.closedInput) {
      close(STDIN_FILENO);
    } else {
      dup2(in, STDIN_FILENO);
    }
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(in);
  RunResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kRunTimeout);
  if (!drain(out[0], err[0], result, deadline)) {
    kill(child, SIGKILL);
    result.err += "plinkard did not end within " +
                  std::to_string(kRunTimeout) + " s and was killed\n";
  }
  result.out = withoutProgressLines(result.out);
  int status = 0;
  waitpid(child, &status, 0);
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}
