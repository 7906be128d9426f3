#include "index/path_filters.h"

#include <algorithm>
#include <exception>

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

bool FillJob::matchesRegex(std::string_view text, const RegexTest& test) const {
  std::string failure = test.compileError;
  if (failure.empty()) {
    try {
      return boost::regex_search(text.begin(), text.end(), test.compiled);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  printLine("Regular expression '", test.expression,
            "' on couldn't be applied to string '", text, "': ", failure);
  return false;
}

bool FillJob::applyRegexFilters() {
  if (includeRegex.empty() && excludeRegex.empty()) return true;
  const RegexTest include = compileRegexTest(includeRegex);
  const RegexTest exclude = compileRegexTest(excludeRegex);
  const size_t before = songs.size();

  // Songs are decided from the last to the first, so that the messages of a
  // failing expression come in that order; the survivors then stand in
  // reverse order.
  std::vector<bool> passes(songs.size(), true);
  for (size_t i = songs.size(); i-- > 0 && os::interruptSignal() == 0;) {
    const std::string_view text = songs[i].relativePath();
    bool pass = includeRegex.empty() || matchesRegex(text, include);
    if (pass && !excludeRegex.empty() && matchesRegex(text, exclude)) {
      pass = false;
    }
    passes[i] = pass;
  }
  size_t kept = 0;
  for (size_t i = 0; i < songs.size(); ++i) {
    if (!passes[i]) continue;
    if (kept != i) songs[kept] = std::move(songs[i]);
    ++kept;
  }
  songs.resize(kept);
  std::reverse(songs.begin(), songs.end());

  printLine("Filtering done, ", before - songs.size(), " songs didn't pass.");
  return true;
}
