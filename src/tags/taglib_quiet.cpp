#include "tags/taglib_quiet.h"

#include <taglib/tdebuglistener.h>

namespace {

// Keeps TagLib from writing its complaints about malformed files to
// standard error: such a file only has no tags.
class SilentListener : public TagLib::DebugListener {
 public:
  void printMessage(const TagLib::String&) override {}
};

}  // namespace

void silenceTagLib() {
  static SilentListener listener;
  static const bool silenced = [] {
    TagLib::setDebugListener(&listener);
    return true;
  }();
  (void)silenced;
}
