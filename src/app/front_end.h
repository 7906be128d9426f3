#ifndef PLINKARD_APP_FRONT_END_H_
#define PLINKARD_APP_FRONT_END_H_

#include <cstdint>
#include <string>

class FillJob;

// What the option loop found besides the settings it handed to the job.
struct OptionResult {
  bool waitAtExit = false;
  // A value-taking option that came last, without its value.
  std::string missingValueFor;
};

// Feeds every recognised argument of argv[1..argc-1] to its setter and
// prints the echo lines. Each option's value is examined as an option too.
// `result` is filled as the loop goes, so it is up to date when a setter
// throws.
void readOptions(FillJob& job, int argc, const char* const* argv,
                 OptionResult& result);

// The megabytes of a "-s" value: the decimal number it starts with (after
// blank space; exponents too, as atof reads it), truncated toward zero; 0
// for a negative number or none, hexadecimal, infinity and NaN included;
// UINT64_MAX for a number of 2^64 or more.
uint64_t megabytesFromText(const char* text);

// The minutes of a "-t" value: the decimal number it starts with, as for
// "-s" but not truncated; 0 for none or a number not above 0.
double minutesFromText(const char* text);

// The count of an "-e" value: a whole decimal number of up to 32 bits; 0
// for anything else.
uint32_t countFromText(const char* text);

// The mode of a "-d" value: the leading decimal integer, 0 without digits,
// and a value outside 32 bits clamped to the nearest end.
int32_t namingModeFromText(const char* text);

// Banner, usage or options, validation, the stages, and the exit.
[[noreturn]] void runPlinkard(int argc, const char* const* argv);

#endif  // PLINKARD_APP_FRONT_END_H_
