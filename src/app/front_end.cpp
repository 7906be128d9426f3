#include "app/front_end.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "app/exit_program.h"
#include "app/usage.h"
#include "job/fill_job.h"
#include "job/interrupt.h"

namespace {

const char kVersion[] = "1.6.1";

// Hands every item of a comma-separated list to addFilter with a dot in
// front; an empty item gets the not-valid line.
void addFilters(FillJob& job, const std::string& list) {
  std::string item;
  auto finishItem = [&] {
    if (item.empty()) {
      std::cout << "Filter '" << item << "' is not valid!" << std::endl;
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

bool takesValue(const std::string& option) {
  static const char* const kOptions[] = {"-i",  "-o",  "-s", "-f",
                                         "-in", "-ex", "-l", "-d"};
  for (const char* name : kOptions) {
    if (option == name) return true;
  }
  return false;
}

// Ends the run when a signal arrived during the stages before the copy.
void stopIfInterrupted(FillJob& job) {
  const int signal = interruptSignal();
  if (signal == 0) return;
  job.reportInterrupt();
  exitProgram(128 + signal, false);
}

[[noreturn]] void runStages(FillJob& job, bool waitAtExit) {
  stopIfInterrupted(job);
  std::cout << "Scanning directories..." << std::endl;
  job.scanInputDirs();
  stopIfInterrupted(job);
  std::cout << "Processing index..." << std::endl;
  job.processIndex();
  stopIfInterrupted(job);
  std::cout << "Creating a plan to fill..." << std::endl;
  job.createPlan(5);
  stopIfInterrupted(job);
  std::cout << "Copying files..." << std::endl;
  job.copyFiles();
  job.writeUsedList();
  // From the copy on, an interrupt still lets the list and the summary
  // record what was transferred.
  const int signal = interruptSignal();
  if (signal != 0) job.reportInterrupt();
  std::cout << std::endl;
  job.printSummary();
  if (signal != 0) exitProgram(128 + signal, false);
  exitProgram(0, waitAtExit);
}

}  // namespace

uint64_t megabytesFromText(const char* text) {
  const double value = std::atof(text);
  if (std::isnan(value) || value >= 18446744073709551616.0) return UINT64_MAX;
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
    const std::string option = argv[i];
    if (takesValue(option) && i + 1 >= argc) {
      result.missingValueFor = option;
      return;
    }
    const std::string value = takesValue(option) ? argv[i + 1] : "";
    if (option == "-v") {
      job.setVerbose(true);
      std::cout << "Printing debug output!" << std::endl;
    } else if (option == "-i") {
      job.setInputDir(value);
      std::cout << "Added Input Dir " << value << std::endl;
    } else if (option == "-o") {
      job.setOutputDir(value);
      std::cout << "Output Dir is " << value << std::endl;
    } else if (option == "-s") {
      if (value == "all") {
        job.setFillSize(0, true);
      } else {
        job.setFillSize(megabytesFromText(value.c_str()), false);
      }
    } else if (option == "-w") {
      result.waitAtExit = true;
    } else if (option == "-m") {
      job.setMove(true);
    } else if (option == "-f") {
      addFilters(job, value);
    } else if (option == "-in") {
      job.setRegex(true, value);
      std::cout << "Regular Expression: File(path) must match \"" << value
                << "\"" << std::endl;
    } else if (option == "-ex") {
      job.setRegex(false, value);
      std::cout << "Regular Expression: File(path) must NOT match \"" << value
                << "\"" << std::endl;
    } else if (option == "-l") {
      job.setUsedList(true, true, value);
      std::cout << "Used songs list: " << value << std::endl;
    } else if (option == "-d") {
      job.setNamingMode(namingModeFromText(value.c_str()));
    }
  }
}

void runPlinkard(int argc, const char* const* argv) {
  FillJob job;
  installInterruptHandlers();
  std::cout << "Plinkard v. " << kVersion << std::endl << std::endl;
  if (argc <= 1) {
    printUsage(std::cout);
    exitProgram(0, false);
  }
  OptionResult options;
  try {
    readOptions(job, argc, argv, options);
    if (!options.missingValueFor.empty()) {
      std::cout << "Missing value for option " << options.missingValueFor << "!"
                << std::endl;
      exitProgram(1, options.waitAtExit);
    }
    if (!job.validate()) exitProgram(1, options.waitAtExit);
    runStages(job, options.waitAtExit);
  } catch (const std::exception& e) {
    std::cout << "Error: " << e.what() << std::endl;
  }
  exitProgram(1, options.waitAtExit);
}
