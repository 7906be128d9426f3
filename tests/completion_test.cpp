#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "child_process.h"
#include "test_util.h"

// The bash completion script, in bash-completion where that is installed
// and in a plain bash otherwise: each case is a command line and the
// completions of its last word, sorted.
TEST(Completion, FoldersFilesAndValuesAfterEachOption) {
  TempDir dir;
  makeDirs(dir / "my music");
  writeText(dir / "mine.txt", "");
  const char kComplete[] = R"(
    f=/usr/share/bash-completion/bash_completion; [ -f $f ] && . $f
    . "$0"; read -ra COMP_WORDS <<< "$1"; [[ $1 == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$1 COMP_POINT=${#1}
    _plinkard plinkard "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')";
  const std::pair<std::string, std::string> cases[] = {
      {"plinkard -i m", "my music "},
      {"plinkard -o ", "my music "},
      {"plinkard -l mi", "mine.txt "},
      {"plinkard -s ", "all "},
      {"plinkard -d ", "0 1 2 "},
      {"plinkard -ex ", " "},
      {"plinkard -o my -p ", " "},
      {"plinkard --v", "--version "},
      {"plinkard -i x -",
       "--help --version -a -c -d -e -ex -f -h -i -in -l -m -n -o -p -r "
       "-s -t -v -w "},
      {"plinkard -t ", " "},
      {"plinkard -c o", "ogg opus "}};
  ChildOptions options;
  options.cwd = dir.path();
  for (const auto& [line, words] : cases) {
    const ChildResult run =
        runChild({"bash", "-c", kComplete, PLINKARD_COMPLETION, line}, options);
    EXPECT_EQ(run.out, words) << "line: " << line << run.err;
  }
}
