// Splits the input at NUL bytes into an argument vector and runs the option
// loop and validation on it, as the front end does. It runs in its working
// folder, where it makes the folders "in" and "out" and the file "used.txt"
// for the options to find; the setters' messages are dropped.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "job/fill_job.h"

namespace {

constexpr size_t kMaxArguments = 64;

bool prepareFolder() {
  mkdir("in", 0755);
  mkdir("out", 0755);
  close(open("used.txt", O_WRONLY | O_CREAT, 0644));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool prepared = prepareFolder();
  (void)prepared;
  std::vector<std::string> args = {"plinkard", ""};
  for (size_t i = 0; i < size && args.size() <= kMaxArguments; ++i) {
    if (data[i] == '\0') {
      args.emplace_back();
    } else {
      args.back() += char(data[i]);
    }
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());

  // A stream without a buffer drops what the setters print.
  static std::ostream discard(nullptr);
  FillJob job(discard);
  OptionResult result;
  try {
    readOptions(job, int(argv.size()), argv.data(), result);
    if (result.missingValueFor.empty()) job.validate();
  } catch (const std::exception&) {
    // The front end reports these as "Error: ..." and ends with status 1.
  }
  return 0;
}
