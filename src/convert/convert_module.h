#ifndef PLINKARD_CONVERT_CONVERT_MODULE_H_
#define PLINKARD_CONVERT_CONVERT_MODULE_H_

#include <cstddef>
#include <string>

#include "convert/converter.h"
#include "convert/song_facts.h"

// FFmpeg's libraries and the hundred or so libraries they load take about
// 25 ms of every start and 25 MB of memory, so the code that uses them is a
// module of its own (plinkard-convert.so), loaded the first time a song is
// converted or probed: a run without -c never loads it. The program's
// functions of converter.h and song_facts.h pass each call on to the
// module's, through this table.
struct ConvertModule {
  // sizeof(ConvertModule) of the module's build: a module of another build
  // of this header is refused.
  size_t size;
  ConvertResult (*convertToPending)(const std::string&, const os::HeldFolder&,
                                    const std::string&, const ConvertFormat&,
                                    const std::function<bool()>&,
                                    os::PendingFile&);
  void (*placeConverted)(os::PendingFile&, ConvertResult&);
  ConvertResult (*convertSong)(const std::string&, const os::HeldFolder&,
                               const std::string&, const ConvertFormat&,
                               const std::function<bool()>&);
  size_t (*removeConvertLeftovers)(const os::HeldFolder&, const std::string&);
  std::string (*readSongFacts)(const std::string&, const ConvertFormat&,
                               SongFacts&);
};

// The module's one exported symbol.
#define PLINKARD_CONVERT_MODULE_ENTRY "plinkardConvertModule"
extern "C" const ConvertModule* plinkardConvertModule();

// Loads the module, once; "" or why it cannot be loaded ("Can't load the
// converter: ..."). Safe to call from any thread.
std::string loadConverter();

#endif  // PLINKARD_CONVERT_CONVERT_MODULE_H_
