#include "app/front_end.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "app/exit_program.h"
#include "app/usage.h"
#include "app/version.h"
#include "job/fill_job.h"
#include "os/signals.h"

namespace {

// Hands every item of a comma-separated list to addFilter with a dot in
// front; an empty item gets the not-valid line.
void addFilters(FillJob& job, const std::string& list) {
  std::string item;
  auto finishItem = [&] {
    if (item.empty()) {
      job.printLine("Filter '", item, "' is not valid!");
    } else {
      job.addFilter("." + item);
    }
    item.clear();
  };
  for (char c : list) {
    if (c == ',') {
      finishItem();
    } else {
      item += c;
    }
  }
  finishItem();
}

// One option of the command line: its name, whether the next argument is
// its value, and what it does.
struct Option {
  const char* name;
  bool takesValue;
  void (*act)(FillJob& job, const std::string& value, OptionResult& result);
};

const Option kOptions[] = {
    {"-v", false,
     [](FillJob& job, const std::string&, OptionResult&) {
       job.setVerbose(true);
       job.printLine("Printing debug output!");
     }},
    {"-i", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setInputDir(value);
       job.printLine("Added Input Dir ", value);
     }},
    {"-o", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setOutputDir(value);
       job.printLine("Output Dir is ", value);
     }},
    {"-s", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       if (value == "all") {
         job.setFillSize(0, true);
       } else {
         job.setFillSize(megabytesFromText(value.c_str()), false);
       }
     }},
    {"-w", false,
     [](FillJob&, const std::string&, OptionResult& result) {
       result.waitAtExit = true;
     }},
    {"-m", false,
     [](FillJob& job, const std::string&, OptionResult&) {
       job.setMove(true);
     }},
    {"-f", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       addFilters(job, value);
     }},
    {"-in", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setRegex(true, value);
       job.printLine("Regular Expression: File(path) must match \"", value,
                     "\"");
     }},
    {"-ex", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setRegex(false, value);
       job.printLine("Regular Expression: File(path) must NOT match \"", value,
                     "\"");
     }},
    {"-l", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setUsedList(true, true, value);
       job.printLine("Used songs list: ", value);
     }},
    {"-n", false,
     [](FillJob& job, const std::string&, OptionResult&) {
       job.setDryRun(true);
     }},
    {"-r", false,
     [](FillJob& job, const std::string&, OptionResult&) {
       job.setReplace(true);
     }},
    {"-p", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setPlaylist(value);
       job.printLine("Playlist: ", value);
     }},
    {"-d", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setNamingMode(namingModeFromText(value.c_str()));
     }},
    {"-c", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setConvert(value);
     }},
    {"-a", false,
     [](FillJob& job, const std::string&, OptionResult&) {
       job.setAlbums(true);
       job.printLine("Planning whole albums!");
     }},
    {"-t", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setFillTime(minutesFromText(value.c_str()));
     }},
    {"-e", true,
     [](FillJob& job, const std::string& value, OptionResult&) {
       job.setArtistLimit(countFromText(value.c_str()));
     }},
};

const Option* findOption(const std::string& name) {
  for (const Option& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// Ends the run when a signal arrived during the stages before the copy.
void stopIfInterrupted(FillJob& job) {
  const int signal = os::interruptSignal();
  if (signal == 0) return;
  job.reportInterrupt();
  exitProgram(job.output(), 128 + signal, false);
}

// The stages up to the plan, each after its heading.
void prepareRun(FillJob& job) {
  stopIfInterrupted(job);
  job.printLine("Scanning directories...");
  job.scanInputDirs();
  stopIfInterrupted(job);
  job.printLine("Processing index...");
  job.processIndex();
  stopIfInterrupted(job);
  job.readEveryTag();
  job.estimateConvertedSizes();
  stopIfInterrupted(job);
  job.printLine("Creating a plan to fill...");
  job.createPlan(5);
  stopIfInterrupted(job);
  job.readPlannedTags();
  stopIfInterrupted(job);
}

// The transfer, or what it would do, and the used-songs list.
void transfer(FillJob& job) {
  if (job.bDryRun) {
    job.printLine("Dry run, nothing changes on disk:");
    job.describePlan();
    job.finishRecord();
    return;
  }
  job.printLine("Copying files...");
  job.copyFiles();
  job.writeUsedList();
  job.finishRecord();
}

// What the arguments ask for instead of a run: the usage text (no
// arguments, "-h" or "--help") or the banner line alone ("--version"). The
// first such argument decides wherever it stands, as the value of another
// option too, since every value is examined as an option; then no other
// option acts.
enum class Request { Run, Usage, Version };

Request requestOf(int argc, const char* const* argv) {
  if (argc <= 1) return Request::Usage;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") return Request::Usage;
    if (arg == "--version") return Request::Version;
  }
  return Request::Run;
}

[[noreturn]] void runStages(FillJob& job, bool waitAtExit) {
  stopIfInterrupted(job);
  if (const int status = job.keepRecord()) {
    exitProgram(job.output(), status, waitAtExit);
  }
  prepareRun(job);
  transfer(job);
  // From the copy on, an interrupt still lets the list and the summary
  // record what was transferred.
  const int signal = os::interruptSignal();
  if (signal != 0) job.reportInterrupt();
  job.printLine();
  job.printSummary();
  if (signal != 0) exitProgram(job.output(), 128 + signal, false);
  exitProgram(job.output(), job.runStatus(), waitAtExit);
}

}  // namespace

namespace {

size_t digitsAt(const char* text, size_t& i) {
  const size_t start = i;
  while (text[i] >= '0' && text[i] <= '9') ++i;
  return i - start;
}

// The longest start of `text`, after blank space, that is a decimal number:
// a sign, digits with at most one '.', and an exponent. Empty when there is
// none, so "0x10" gives "0" and "inf" gives "".
std::string decimalPrefix(const char* text) {
  size_t i = 0;
  while (std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  const size_t start = i;
  if (text[i] == '+' || text[i] == '-') ++i;
  size_t digits = digitsAt(text, i);
  if (text[i] == '.') digits += digitsAt(text, ++i);
  if (digits == 0) return "";
  size_t end = i;
  if (text[i] == 'e' || text[i] == 'E') {
    if (text[++i] == '+' || text[i] == '-') ++i;
    if (digitsAt(text, i) > 0) end = i;
  }
  return std::string(text + start, end - start);
}

}  // namespace

double minutesFromText(const char* text) {
  const double value = std::strtod(decimalPrefix(text).c_str(), nullptr);
  return value > 0 ? value : 0;
}

uint32_t countFromText(const char* text) {
  const std::string digits = decimalPrefix(text);
  if (digits.empty() ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
  return value > UINT32_MAX ? 0 : static_cast<uint32_t>(value);
}

uint64_t megabytesFromText(const char* text) {
  const double value = std::strtod(decimalPrefix(text).c_str(), nullptr);
  if (value >= 18446744073709551616.0) return UINT64_MAX;
  if (!(value >= 1.0)) return 0;
  return static_cast<uint64_t>(value);
}

int32_t namingModeFromText(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void readOptions(FillJob& job, int argc, const char* const* argv,
                 OptionResult& result) {
  for (int i = 1; i < argc; ++i) {
    const Option* option = findOption(argv[i]);
    if (option == nullptr) continue;
    if (option->takesValue && i + 1 >= argc) {
      result.missingValueFor = option->name;
      return;
    }
    option->act(job, option->takesValue ? argv[i + 1] : "", result);
  }
}

void runPlinkard(int argc, const char* const* argv) {
  FillJob job;
  os::installInterruptHandlers();
  job.printLine("Plinkard v. ", PLINKARD_VERSION);
  const Request request = requestOf(argc, argv);
  if (request == Request::Version) exitProgram(job.output(), 0, false);
  job.printLine();
  if (request == Request::Usage) {
    printUsage(job.output());
    exitProgram(job.output(), 0, false);
  }
  OptionResult options;
  try {
    readOptions(job, argc, argv, options);
    if (!options.missingValueFor.empty()) {
      job.printLine("Missing value for option ", options.missingValueFor, "!");
      exitProgram(job.output(), 1, options.waitAtExit);
    }
    if (!job.validate()) exitProgram(job.output(), 1, options.waitAtExit);
    runStages(job, options.waitAtExit);
  } catch (const std::exception& e) {
    job.printLine("Error: ", e.what());
  }
  exitProgram(job.output(), 1, options.waitAtExit);
}
