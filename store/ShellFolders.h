#pragma once

#include <string>

namespace pixhold::store {

// Folders the desktop provides, mapped to Linux (see docs/linux-mapping.md).
// None of them throws; a folder that cannot be determined yields the empty text.

enum class TSpecialFolder {
    AppData,  // per-user application data: $XDG_CONFIG_HOME, else ~/.config
};

// The special folder with a trailing separator, or empty when it cannot be
// determined (no usable $XDG_CONFIG_HOME and no home folder).
std::string SpecialFolderPath(TSpecialFolder folder = TSpecialFolder::AppData);

// The legacy settings location: the user's home folder ($HOME, else the
// password database), with a trailing separator when that folder exists.
std::string WindowsFolder();

// The user's temporary folder ($TMPDIR, else /tmp), with a trailing separator.
std::string TempFolder();

// The folder of the running program file, with a trailing separator.
std::string ProgramFileFolder();

}  // namespace pixhold::store
