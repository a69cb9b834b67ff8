#include "ImportRecord.h"

#include "CofferBlobStream.h"
#include "CofferTable.h"
#include "GraphicError.h"
#include "ImageTypes.h"
#include "PictureFile.h"
#include "TableFiles.h"
#include "Thumbnail.h"

#include <dirent.h>

#include <algorithm>
#include <sys/stat.h>

#include <QString>

namespace pixhold::store {

namespace {

int CompareIgnoringAsciiCase(const std::string& a, const std::string& b) {
    auto upper = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u;
    };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int x = upper(a[i]);
        const int y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Longest texts the image table keeps, in characters.
constexpr int kMaxFileName = 250;
constexpr int kMaxCategory = 10;

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string NumberedName(const std::string& name, const std::string& base, int n) {
    const QString q = QString::fromStdString(name);
    const QString b = QString::fromStdString(base);
    const qsizetype at = q.indexOf(b, 0, Qt::CaseInsensitive);
    if (at < 0 || b.isEmpty()) return name + std::to_string(n);
    QString numbered = q;
    numbered.replace(at, b.size(), b + QString::number(n));
    return numbered.toStdString();
}

std::string CutText(const std::string& text, int characters) {
    const QString whole = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (whole.size() <= characters) return text;
    QString cut;
    int count = 0;
    for (auto it = whole.cbegin(); it != whole.cend() && count < characters; ++count) {
        const bool pair = it->isHighSurrogate() && (it + 1) != whole.cend();
        cut += *it++;
        if (pair) cut += *it++;
    }
    return cut.toStdString();
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> FolderEntries(const std::string& folder, bool folders) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (folders && name.front() == '.') continue;
        struct stat st {};
        if (::stat((folder + name).c_str(), &st) != 0) continue;
        if (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) names.push_back(name);
    }
    ::closedir(dir);
    // readdir gives the entries in the order of the folder's hash table,
    // which means nothing to a user: the listing is in name order.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int order = CompareIgnoringAsciiCase(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

TPreparedFile PrepareImportFile(const std::string& path) {
    TPreparedFile prepared;
    if (!IsFile(path)) {
        prepared.Missing = true;
        return prepared;
    }
    try {
        prepared.Bytes = imaging::ReadPictureFile(path);
        if (prepared.Bytes.empty()) throw imaging::EInvalidGraphic("The picture file is empty");
        prepared.Thumb = imaging::RecordThumbnailJpeg(prepared.Bytes, FileNameOf(path));
    } catch (const std::exception& e) {
        prepared.Error = e.what();
    }
    return prepared;
}

std::string StoreImportRecord(engine::TCofferTable& table, const std::string& fileName,
                              const std::string& category, const TPreparedFile& prepared,
                              const std::function<TDuplicateChoice(const std::string& name)>& onDuplicate) {
    if (!prepared.Error.empty()) throw imaging::EInvalidGraphic(prepared.Error);
    const std::string original = CutText(fileName, kMaxFileName);
    const imaging::TImageType code = imaging::ImageTypeOfExtension(original);
    std::string name = original;
    bool replace = false;
    if (table.FindKey({name})) {
        const TDuplicateChoice choice = onDuplicate(name);
        if (choice == TDuplicateChoice::Skip) return {};
        replace = choice == TDuplicateChoice::Replace;
        if (!replace) {
            const std::string base = FileBaseName(original);
            for (int n = 1;; ++n) {
                name = CutText(NumberedName(original, base, n), kMaxFileName);
                if (!table.FindKey({name})) break;
            }
        }
    }
    if (replace) {
        table.FindKey({original});
        table.Edit();
    } else {
        table.Append();
    }
    table.FieldByName("FileName").SetAsString(name);
    table.FieldByName("Category").SetAsString(CutText(category, kMaxCategory));
    table.CreateBlobStream(table.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll(prepared.Bytes);
    table.CreateBlobStream(table.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(prepared.Thumb);
    table.FieldByName("Type").SetAsInteger(static_cast<int>(code));
    table.Post();
    return name;
}

}  // namespace pixhold::store
