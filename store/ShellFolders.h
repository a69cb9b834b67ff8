#pragma once

#include <string>

namespace pixhold::store {

// Folders the desktop provides, mapped to Linux (see docs/linux-mapping.md).
// None of them throws; a folder that cannot be determined yields the empty text.

enum class TSpecialFolder {
    AppData,    // per-user application data (settings): $XDG_CONFIG_HOME, else ~/.config
    LocalData,  // per-user data files (tables): $XDG_DATA_HOME, else ~/.local/share
};

// The special folder with a trailing separator, or empty when it cannot be
// determined (no usable environment variable and no home folder).
std::string SpecialFolderPath(TSpecialFolder folder = TSpecialFolder::AppData);

// The legacy settings location: the user's home folder ($HOME, else the
// password database), with a trailing separator when that folder exists.
std::string WindowsFolder();

// The user's temporary folder ($TMPDIR, else /tmp), with a trailing separator.
std::string TempFolder();

// The folder of the program's own files (help files, placeholder picture),
// with a trailing separator: ProgramFilesFolder of the running program file's
// folder (/proc/self/exe).
std::string ProgramFileFolder();

// Where a program installed in `exeFolder` keeps its files: `exeFolder` itself
// when "Pixhold.hlp" is there (a build tree, or files kept beside the
// program), else `exeFolder`/../share/pixhold/ when that folder exists (an
// installation into PREFIX/bin and PREFIX/share/pixhold), else `exeFolder`.
// With a trailing separator.
std::string ProgramFilesFolder(const std::string& exeFolder);

}  // namespace pixhold::store
