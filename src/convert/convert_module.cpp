// The module's side: the table of its functions. Everything else in the
// module is hidden (-fvisibility=hidden), so that its copies of the
// platform layer never meet the program's.
#include "convert/convert_module.h"

extern "C" __attribute__((visibility("default"))) const ConvertModule*
plinkardConvertModule() {
  static const ConvertModule module{sizeof(ConvertModule),  convertToPending,
                                    placeConverted,         convertSong,
                                    removeConvertLeftovers, readSongFacts};
  return &module;
}
