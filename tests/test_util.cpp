#include "test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
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
    out.write(block.data(), std::streamsize(n));
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

std::string banner() { return "Plinkard v. 1.6.1\n\n"; }

bool canRunUnprivileged() {
  return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
}

namespace {

// Reads both pipes to their end while feeding `input` to the child.
void drain(int outFd, int errFd, int inFd, const std::string& input,
           RunResult& result) {
  size_t fed = 0;
  if (inFd >= 0 && input.empty()) {
    close(inFd);
    inFd = -1;
  }
  while (outFd >= 0 || errFd >= 0) {
    struct pollfd fds[3];
    int count = 0;
    if (outFd >= 0) fds[count++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[count++] = {errFd, POLLIN, 0};
    if (inFd >= 0) fds[count++] = {inFd, POLLOUT, 0};
    if (poll(fds, count, -1) < 0) continue;
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        const ssize_t n = write(inFd, input.data() + fed, input.size() - fed);
        if (n > 0) fed += size_t(n);
        if (n < 0 || fed == input.size()) {
          close(inFd);
          inFd = -1;
        }
        continue;
      }
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      std::string& sink = fds[i].fd == outFd ? result.out : result.err;
      if (n > 0) {
        sink.append(buffer, size_t(n));
      } else {
        close(fds[i].fd);
        (fds[i].fd == outFd ? outFd : errFd) = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
}

}  // namespace

RunResult runPlinkard(const std::vector<std::string>& args,
                      const RunOptions& options) {
  std::vector<std::string> command;
  if (options.unprivileged) {
    command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
               "--clear-groups"};
  }
  command.push_back(PLINKARD_BINARY);
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : command) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  int out[2], err[2], in[2];
  if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0) {
    throw std::runtime_error("pipe");
  }
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (options.closedInput) {
      close(STDIN_FILENO);
    } else {
      dup2(in[0], STDIN_FILENO);
    }
    for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]}) close(fd);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(in[0]);
  RunResult result;
  drain(out[0], err[0], in[1], options.input, result);
  int status = 0;
  waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status)
                                    : 128 + WTERMSIG(status);
  return result;
}
