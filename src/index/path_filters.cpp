#include "index/path_filters.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "job/fill_job.h"
#include "os/signals.h"

RegexTest compileRegexTest(const std::string& expression) {
  RegexTest test;
  test.expression = expression;
  try {
    test.compiled.assign(expression, boost::regex::perl | boost::regex::icase);
  } catch (const std::exception& e) {
    test.compileError = e.what();
    if (test.compileError.empty()) test.compileError = "invalid expression";
  }
  return test;
}

namespace {

enum class Search { Match, NoMatch, Failed };

// Searches `text` with `test`'s expression; a failure is reported on
// `job`'s output.
Search search(const FillJob& job, std::string_view text,
              const RegexTest& test) {
  std::string failure = test.compileError;
  if (failure.empty()) {
    try {
      return boost::regex_search(text.begin(), text.end(), test.compiled)
                 ? Search::Match
                 : Search::NoMatch;
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  job.printLine("Regular expression '", test.expression,
                "' on couldn't be applied to string '", text, "': ", failure);
  return Search::Failed;
}

}  // namespace

bool FillJob::matchesRegex(std::string_view text, const RegexTest& test) const {
  return search(*this, text, test) == Search::Match;
}

bool FillJob::applyRegexFilters() {
  if (includeRegex.empty() && excludeRegex.empty()) return true;
  if (!regexTests) {
    regexTests = std::make_shared<RegexTests>(RegexTests{
        compileRegexTest(includeRegex), compileRegexTest(excludeRegex)});
  }
  const RegexTest& include = regexTests->include;
  const RegexTest& exclude = regexTests->exclude;
  const size_t before = songs.size();

  // Songs are decided from the last to the first, so that the messages of a
  // failing expression come in that order; the survivors then stand in
  // reverse order.
  std::vector<bool> passes(songs.size(), true);
  for (size_t i = songs.size(); i-- > 0 && os::interruptSignal() == 0;) {
    const std::string_view text = songs[i].relativePath();
    bool pass = includeRegex.empty() || matchesRegex(text, include);
    // An exclude expression that cannot tell keeps the song out: a run with
    // -m must never move what the user meant to keep.
    if (pass && !excludeRegex.empty()) {
      pass = search(*this, text, exclude) == Search::NoMatch;
    }
    passes[i] = pass;
  }
  size_t kept = 0;
  for (size_t i = 0; i < songs.size(); ++i) {
    if (!passes[i]) {
      noteTakenOut(songs[i]);
      continue;
    }
    if (kept != i) songs[kept] = std::move(songs[i]);
    ++kept;
  }
  songs.resize(kept);
  std::reverse(songs.begin(), songs.end());

  printLine("Filtering done, ", before - songs.size(), " songs didn't pass.");
  return true;
}
