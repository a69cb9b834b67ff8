#include "FileName.h"

#include <dirent.h>
#include <sys/stat.h>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <vector>

namespace pixhold::engine {

bool SameFileName(const std::string& a, const std::string& b) {
    const auto ua = icu::UnicodeString::fromUTF8(TrimBlanks(a));
    const auto ub = icu::UnicodeString::fromUTF8(TrimBlanks(b));
    return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

std::string ResolveFileName(const std::string& given) {
    const std::string path = TrimBlanks(given);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return path;

    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (leaf.empty()) return path;

    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return path;
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        if (SameFileName(entryName, leaf)) matches.push_back(entryName);
    }
    ::closedir(dir);
    if (matches.empty()) return path;
    std::sort(matches.begin(), matches.end());
    return slash == std::string::npos ? matches.front() : path.substr(0, slash + 1) + matches.front();
}

}  // namespace pixhold::engine
