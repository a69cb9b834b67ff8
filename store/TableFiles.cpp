#include "TableFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include <sys/stat.h>

namespace pixhold::store {

namespace {

namespace fs = std::filesystem;

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && SameNameIgnoringCase(text.substr(text.size() - end.size()), end);
}

}  // namespace

bool DataFileExists(const std::string& folder, const std::string& name) {
    return !DataFilePath(folder, name).empty();
}

std::string DataFilePath(const std::string& folder, const std::string& name) {
    // A name that reaches into another folder names no file of this one.
    if (name.find_first_of("/\\") != std::string::npos) return {};
    std::error_code ec;
    if (fs::is_regular_file(folder + name, ec)) return folder + name;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (SameNameIgnoringCase(it->path().filename().string(), name) && it->is_regular_file(typeError)) {
            return it->path().string();
        }
    }
    return {};
}

void ClearFileAttributes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::chmod(path.c_str(), st.st_mode | S_IWUSR);
}

std::string FileBaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return name;
    return name.substr(0, name.find(name.substr(dot)));
}

std::string FileExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) return {};
    return path.substr(dot);
}

std::string PathWithoutExtension(const std::string& path) {
    const std::string extension = FileExtension(path);
    if (extension.empty()) return {};
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, path.find(extension, start));
}

QString CapitalizeWords(const QString& text) {
    QString result = text.toLower();
    bool wordStart = true;
    for (QChar& c : result) {
        if (c == c.toUpper()) {
            wordStart = true;
        } else if (wordStart) {
            c = c.toUpper();
            wordStart = false;
        }
    }
    return result;
}

QStringList ListImageTables(const std::string& folder) {
    QStringList tables;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        std::error_code typeError;
        if (!EndsWithIgnoringCase(file, ".Blb") || !it->is_regular_file(typeError)) continue;
        const std::string base = FileBaseName(file);
        const QString display = CapitalizeWords(QString::fromStdString(base));
        if (display == QStringLiteral("Thumbs")) continue;
        if (DataFileExists(folder, base + ".Idx") && DataFileExists(folder, base + ".Dat")) {
            tables.append(display);
        }
    }
    std::sort(tables.begin(), tables.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return tables;
}

}  // namespace pixhold::store
