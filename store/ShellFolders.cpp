#include "ShellFolders.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace pixhold::store {

namespace {

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// An environment value usable as a folder: set, not empty and absolute
// (relative values are ignored, as the XDG rules require for XDG_CONFIG_HOME).
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    return value;
}

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty()) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// An XDG base folder: the variable when it is absolute, else the home folder
// followed by the standard relative path.
std::string XdgFolder(const char* variable, const char* belowHome) {
    const std::string folder = AbsoluteEnv(variable);
    if (!folder.empty()) return WithSeparator(folder);
    const std::string home = HomeFolder();
    if (!home.empty()) return WithSeparator(home) + belowHome;
    return {};
}

}  // namespace

std::string SpecialFolderPath(TSpecialFolder folder) {
    switch (folder) {
        case TSpecialFolder::AppData:
            return XdgFolder("XDG_CONFIG_HOME", ".config/");
        case TSpecialFolder::LocalData:
            return XdgFolder("XDG_DATA_HOME", ".local/share/");
    }
    return {};
}

std::string WindowsFolder() {
    std::string home = HomeFolder();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    std::error_code ec;
    if (!home.empty() && std::filesystem::is_directory(home, ec)) return WithSeparator(home);
    return home;
}

std::string TempFolder() {
    const std::string temp = AbsoluteEnv("TMPDIR");
    return WithSeparator(temp.empty() ? std::string("/tmp") : temp);
}

std::string ProgramFileFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) return ProgramFilesFolder(exe.parent_path().string());
    const std::filesystem::path current = std::filesystem::current_path(ec);
    return ec ? std::string("./") : WithSeparator(current.string());
}

std::string ProgramFilesFolder(const std::string& exeFolder) {
    namespace fs = std::filesystem;
    const std::string folder = WithSeparator(exeFolder);
    std::error_code ec;
    if (fs::is_regular_file(folder + "Pixhold.hlp", ec)) return folder;
    // The layout of an installation (the install rules put the program in
    // bin/ and its files in share/pixhold/).
    const fs::path installed = fs::path(folder).parent_path().parent_path() / "share" / "pixhold";
    if (fs::is_directory(installed, ec)) return WithSeparator(installed.string());
    return folder;
}

}  // namespace pixhold::store
