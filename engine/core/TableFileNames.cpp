#include "TableFileNames.h"

#include "FileName.h"

namespace pixhold::engine {

namespace {
constexpr char kSeparator = '/';
}  // namespace

std::string DirectoryPath(const std::string& folder) {
    std::string path = TrimBlanks(folder);
    if (!path.empty() && path.back() != kSeparator) path += kSeparator;
    return path;
}

std::string TableFileName(const std::string& folder, const std::string& table, const char* extension) {
    std::string name = TrimBlanks(table);
    const auto slash = name.rfind(kSeparator);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        SameFileName(name.substr(dot), tableext::Data)) {
        name.erase(dot);
    }
    return folder + name + extension;
}

bool HasFolder(const std::string& name) { return name.find(kSeparator) != std::string::npos; }

bool SameTableName(const std::string& a, const std::string& b) { return SameFileName(a, b); }

}  // namespace pixhold::engine
