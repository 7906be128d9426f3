// The program's side: converter.h and song_facts.h passed on to the
// module, which is looked for beside the program (the build folder) and
// then where it is installed, relative to the program.
#include "convert/convert_module.h"
#include "convert/module_folder.h"
#include "os/module.h"

namespace {

const char kModuleFile[] = "plinkard-convert.so";

struct Loaded {
  os::Module kept;  // loaded for the rest of the run
  const ConvertModule* module = nullptr;
  std::string error;
};

Loaded load() {
  Loaded loaded;
  const std::string folder = os::programFolder();
  for (const std::string& place :
       {folder, folder + "/" + kConvertModuleFolder}) {
    const std::string path = place + "/" + kModuleFile;
    std::string error;
    const os::Module found =
        os::loadModule(path, PLINKARD_CONVERT_MODULE_ENTRY, error);
    const auto* module =
        found.symbol == nullptr
            ? nullptr
            : reinterpret_cast<const ConvertModule* (*)()>(found.symbol)();
    if (module != nullptr && module->size != sizeof(ConvertModule)) {
      error = path + ": made for another build of Plinkard";
      module = nullptr;
    }
    if (module != nullptr) {
      loaded.kept = found;
      loaded.module = module;
      loaded.error.clear();
      return loaded;
    }
    loaded.error += (loaded.error.empty() ? "" : "; ") + error;
  }
  loaded.error = "Can't load the converter: " + loaded.error;
  return loaded;
}

const Loaded& converter() {
  static const Loaded loaded = load();
  return loaded;
}

ConvertResult notLoaded() {
  ConvertResult result;
  result.error = converter().error;
  return result;
}

}  // namespace

std::string loadConverter() { return converter().error; }

ConvertResult convertToPending(const std::string& source,
                               const os::HeldFolder& below,
                               const std::string& target,
                               const ConvertFormat& format,
                               const std::function<bool()>& stop,
                               os::PendingFile& pending) {
  const ConvertModule* module = converter().module;
  if (module == nullptr) return notLoaded();
  return module->convertToPending(source, below, target, format, stop, pending);
}

void placeConverted(os::PendingFile& pending, ConvertResult& result) {
  if (const ConvertModule* module = converter().module) {
    module->placeConverted(pending, result);
  }
}

ConvertResult convertSong(const std::string& source,
                          const os::HeldFolder& below,
                          const std::string& target,
                          const ConvertFormat& format,
                          const std::function<bool()>& stop) {
  const ConvertModule* module = converter().module;
  if (module == nullptr) return notLoaded();
  return module->convertSong(source, below, target, format, stop);
}

size_t removeConvertLeftovers(const os::HeldFolder& below,
                              const std::string& folder) {
  const ConvertModule* module = converter().module;
  return module == nullptr ? 0 : module->removeConvertLeftovers(below, folder);
}

std::string readSongFacts(const std::string& path, const ConvertFormat& format,
                          SongFacts& facts) {
  const ConvertModule* module = converter().module;
  if (module == nullptr) return converter().error;
  return module->readSongFacts(path, format, facts);
}
