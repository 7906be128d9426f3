#ifndef PLINKARD_INDEX_PATH_FILTERS_H_
#define PLINKARD_INDEX_PATH_FILTERS_H_

#include <boost/regex.hpp>
#include <string>

// An expression compiled once for a whole run of the path filters:
// case-insensitive, Perl syntax. When it does not compile, `compileError`
// holds the library's description and every test reports it.
struct RegexTest {
  std::string expression;
  boost::regex compiled;
  std::string compileError;
};

RegexTest compileRegexTest(const std::string& expression);

// The include and exclude expressions of a run, compiled together once.
struct RegexTests {
  RegexTest include;
  RegexTest exclude;
};

#endif  // PLINKARD_INDEX_PATH_FILTERS_H_
