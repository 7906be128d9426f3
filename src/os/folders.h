#ifndef PLINKARD_OS_FOLDERS_H_
#define PLINKARD_OS_FOLDERS_H_

#include <string>
#include <system_error>

namespace os {

// Creates the folder `path` and its missing parents, as `mkdir -p` does,
// each new one readable by its owner alone. A folder already there is no
// error; anything else there is EEXIST.
std::error_code createPrivateFolders(const std::string& path);

// Renames `from` to `to`, replacing what is at `to`.
std::error_code renamePath(const std::string& from, const std::string& to);

}  // namespace os

#endif  // PLINKARD_OS_FOLDERS_H_
