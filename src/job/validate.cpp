#include "convert/convert_module.h"
#include "index/path_filters.h"
#include "job/fill_job.h"
#include "job/paths.h"

namespace {

// Compiles the -in and -ex expressions for the run into job.regexTests, or
// names the first one that does not compile and returns false.
bool compileRegexes(FillJob& job) {
  auto tests = std::make_shared<RegexTests>(RegexTests{
      compileRegexTest(job.includeRegex), compileRegexTest(job.excludeRegex)});
  for (const auto& [option, test] :
       {std::pair{"-in", &tests->include}, {"-ex", &tests->exclude}}) {
    if (test->compileError.empty()) continue;
    job.printLine("Regular expression '", test->expression, "' of ", option,
                  " is not valid: ", test->compileError);
    return false;
  }
  job.regexTests = std::move(tests);
  return true;
}

// Reads -c into job.convertFormat and says what it converts to; a format or
// bitrate it does not know, and -m beside it, are refused with one line.
bool readConvertFormat(FillJob& job) {
  if (!job.bConvert) return true;
  std::string error;
  if (!parseConvertFormat(job.convertText, job.convertFormat, error)) {
    job.printLine(error);
    return false;
  }
  if (job.bMove) {
    job.printLine(
        "-m and -c can't go together: the source would be removed after a "
        "lossy copy!");
    return false;
  }
  if (const std::string unloadable = loadConverter(); !unloadable.empty()) {
    job.printLine(unloadable);
    return false;
  }
  job.printLine("Converting songs to ", job.convertFormat.name, " at ",
                job.convertFormat.kbps, " kbit/s");
  return true;
}

}  // namespace

bool FillJob::validate() {
  if (inputDirs.empty()) {
    printLine("No input directory given!");
    return false;
  }
  if (fillSize == 0) {
    printLine("No size to fill given!");
    return false;
  }
  if (!readConvertFormat(*this)) return false;
  if (filters.empty()) {
    printLine("No filters given, only search for .mp3 files.");
    filters.emplace_back(".mp3");
  }
  if (queryPathKind(outputDir.native()) == os::PathKind::Missing) {
    printLine("Output directory ", outputDir.native(), " does not exist!");
    return false;
  }
  if (!compileRegexes(*this)) return false;
  // Without it the stages fall back to the folder's path, and to names and
  // lookups that suit every file system.
  if (!outputFolder.hold(outputDir.native())) {
    os::VolumeInfo volume;
    if (!outputFolder.volume(volume)) targetVolume = describeVolume(volume);
  }
  return !usedListIsOwnFile() && checkUsedList();
}
