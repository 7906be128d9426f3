#ifndef PLINKARD_TESTS_RUN_OUTPUT_H_
#define PLINKARD_TESTS_RUN_OUTPUT_H_

#include <string>

#include "test_util.h"

// Pieces of what a whole run prints, for tests that compare all of it.

// The banner and the echo lines of "-i `input` -o `output`".
inline std::string echoLines(const std::string& input,
                             const std::string& output) {
  return banner() + "Added Input Dir " + input + "\nOutput Dir is " + output +
         "\n";
}

// The notice of "-l `list`" for a list that does not exist yet.
inline std::string missingListLine(const std::string& list) {
  return "Used songs list '" + list +
         "' does not exist! We will create one at the end though.\n";
}

// The lines of "-l `list`" for a list that does not exist yet.
inline std::string newListLines(const std::string& list) {
  return missingListLine(list) + "Used songs list: " + list + "\n";
}

const char kDefaultFilter[] = "No filters given, only search for .mp3 files.\n";
const char kMirrored[] = "File naming: folder/subfolder/filename.ext\n";
const char kDashed[] = "File naming: folder-subfolder-filename.ext\n";

// The scan with the `messages` it printed, its total, and the heading of
// the processing.
inline std::string scanLines(int found, const std::string& messages = "") {
  return "Scanning directories...\n" + messages + "\n" + std::to_string(found) +
         " files found!\nProcessing index...\n";
}

// The planner's line and the heading of the copy.
inline std::string planLines(const std::string& efficiency, bool move) {
  return "Creating a plan to fill...\nMost efficient combination: " +
         efficiency + "\nCopying files...\nbMove is " +
         (move ? "true" : "false") + "\n";
}

// The progress line of the `number`th of `count` songs.
inline std::string copyingLine(int number, int count, const std::string& name) {
  return "Copying file " + std::to_string(number) + " / " +
         std::to_string(count) + ": " + name + "\n";
}

// The lines of a song whose copy failed for `why`.
inline std::string copyFailed(const std::string& target,
                              const std::string& source,
                              const std::string& why) {
  return "Can't check whether " + target + " exists: " + why + "\nFile '" +
         source + " could not be copied!\n";
}

// The empty line and the summary; `sizes` reads like "1 / 10  MB (10%".
inline std::string summaryLines(const std::string& sizes, int processed,
                                int copied) {
  return "\nThis configuration uses " + sizes + ").\n" +
         std::to_string(processed) + " files were processed, " +
         std::to_string(copied) + " files werde copied.\n";
}

// The end of a run that found nothing to copy, under "-s `megabytes`".
inline std::string nothingToCopy(int megabytes) {
  return "Creating a plan to fill...\nMost efficient combination: 0\n"
         "Copying files...\nThere are no songs to copy! Did you forget to "
         "create an index or to create a choice?\n" +
         summaryLines("0 / " + std::to_string(megabytes) + "  MB (0%", 0, 0);
}

#endif  // PLINKARD_TESTS_RUN_OUTPUT_H_
