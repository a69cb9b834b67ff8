// The data module's operations on single records and on the records of the
// view: export, move, category change, delete all, and the thumbnail cache's
// clean-up and the 100 x 100 copies of picture files.

#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "ImageFns.h"
#include "ImportRecord.h"
#include "Picture.h"
#include "PictureFile.h"
#include "TableFiles.h"
#include "fDM.h"

#include <sys/stat.h>

#include <QImage>
#include <QPainter>
#include <QString>

#include <stdexcept>

namespace pixhold::store {

namespace {

// Longest category the image table keeps, in characters.
constexpr int kMaxCategory = 10;
constexpr int kMaxFileName = 250;
// The side of the copies ConvertFileToThumbnail writes.
constexpr int kFileThumbSide = 100;

const QString kWriteErrorCaption = QStringLiteral("Write error");

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The name with its extension (from the last dot on) replaced by `extension`;
// a name without one gets it appended.
std::string ReplaceExtension(const std::string& name, const std::string& extension) {
    const std::size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

// A stored file name that would write outside the export folder (or nowhere)
// is refused like a file that cannot be written.
void CheckPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        throw std::runtime_error("Cannot write \"" + name + "\": it is not a plain file name");
    }
}

std::vector<std::uint8_t> ReadBlob(engine::TCofferTable& table, const char* field) {
    return table.CreateBlobStream(table.FieldByName(field), engine::TBlobStreamMode::bmRead)->ReadAll();
}

void WriteBlob(engine::TCofferTable& table, const char* field, const std::vector<std::uint8_t>& bytes) {
    table.CreateBlobStream(table.FieldByName(field), engine::TBlobStreamMode::bmWrite)->WriteAll(bytes);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Cancels a pending edit and closes the handle unless the work was done.
struct TCloseUnlessDone {
    engine::TCofferTable& table;
    bool done = false;
    ~TCloseUnlessDone() {
        if (done || !table.Active()) return;
        try {
            if (table.Editing()) table.Cancel();
            table.Close();
        } catch (...) {
            // The error that brought us here is the one to report.
        }
    }
};

// Writes bytes to a file of the export folder; false after the failure was
// shown in a "Write error" box.
bool WriteExportFile(IDataModuleHost& host, const std::string& folder, const std::string& name,
                            const std::vector<std::uint8_t>& bytes) {
    try {
        CheckPlainFileName(name);
        imaging::WritePictureFile(folder + name, bytes);
        return true;
    } catch (const std::exception& error) {
        host.ShowMessage(kWriteErrorCaption, FromUtf8(error.what()), TBoxIcon::Error);
        return false;
    }
}

}  // namespace

void TDM::ExportThumbnails() {
    const std::optional<QString> chosen = host_.ChooseFolder(FromUtf8(config_.LastExportDir));
    if (chosen) {
        std::string folder = chosen->toStdString();
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        config_.LastExportDir = folder;
        folder += '/';

        TBusyScope busy(host_);
        engine::TBookmark here = tblData.GetBookmark();
        // The records go once the walk is over: deleting the view's last
        // record puts the cursor back on the one before, which would be
        // visited again.
        std::vector<engine::TBookmark> written;
        for (tblData.First(); !tblData.Eof(); tblData.Next()) {
            const std::string name = tblData.FieldByName("FileName").AsString();
            if (WriteExportFile(host_, folder, ReplaceExtension(name, ".jpg"), ReadBlob(tblData, "Thumb"))) {
                written.push_back(tblData.GetBookmark());
            }
        }
        // A record whose thumbnail did not reach its file is kept.
        if (config_.DeleteFilesAfterExport) {
            for (const engine::TBookmark& record : written) {
                tblData.GotoBookmark(record);
                tblData.Delete();
            }
        }
        try {
            if (!here.empty()) tblData.GotoBookmark(here);
        } catch (...) {
            // The remembered record was exported and deleted: the view starts at its first record.
            tblData.First();
        }
        tblData.FreeBookmark(here);
    }
    if (config_.DeleteFilesAfterExport) host_.RefreshImageList();
}

void TDM::ExportImage(const std::string& name, const std::string& folder) {
    if (!tblData.FindKey({name, config_.CategoryKey()})) return;
    const bool written = WriteExportFile(host_, folder, tblData.FieldByName("FileName").AsString(),
                                         ReadBlob(tblData, "Image"));
    if (config_.DeleteFilesAfterExport && written) tblData.Delete();
}

bool TDM::MoveImageToTable(const std::string& name, const std::string& table, const std::string& category) {
    if (!DataFileExists(config_.DataFolder, table + ".blb")) {
        host_.ShowMessage(PlainCaption, QStringLiteral("The database: ") + FromUtf8(table) +
                                            QStringLiteral(" does not exist"),
                          TBoxIcon::None);
        return false;
    }
    if (!tblData.FindKey({name, config_.CurrentCategory})) return true;
    const std::vector<std::uint8_t> thumb = ReadBlob(tblData, "Thumb");
    const std::vector<std::uint8_t> image = ReadBlob(tblData, "Image");
    const engine::TField& typeField = tblData.FieldByName("Type");
    const bool typeNull = typeField.IsNull();
    const std::int64_t type = typeNull ? 0 : typeField.AsInteger();
    const std::string stored = CutText(category, kMaxCategory);

    if (tblDest.Active()) tblDest.Close();
    tblDest.SetTableName(table);
    tblDest.Open();
    TCloseUnlessDone guard{tblDest};

    std::string target = name;
    bool replace = false;
    if (tblDest.FindKey({name, stored})) {
        // Moving a picture onto itself (same table, same category) moves nothing.
        if (&tblDest.Handle().Table() == &tblData.Handle().Table() &&
            tblDest.GetBookmark() == tblData.GetBookmark()) {
            guard.done = true;
            tblDest.Close();
            return true;
        }
        replace = host_.AskYesNo(ConfirmCaption, FromUtf8(name) + QStringLiteral(" already exists. Replace?"),
                                 TBoxIcon::Confirmation);
        if (!replace) {
            const std::string base = FileBaseName(name);
            for (int n = 1;; ++n) {
                target = CutText(NumberedName(name, base, n), kMaxFileName);
                if (!tblDest.FindKey({target, stored})) break;
            }
        }
    }
    if (replace) {
        tblDest.FindKey({name, stored});
        tblDest.Edit();
    } else {
        tblDest.Append();
    }
    tblDest.FieldByName("FileName").SetAsString(target);
    tblDest.FieldByName("Category").SetAsString(stored);
    WriteBlob(tblDest, "Thumb", thumb);
    WriteBlob(tblDest, "Image", image);
    if (typeNull) {
        tblDest.FieldByName("Type").Clear();
    } else {
        tblDest.FieldByName("Type").SetAsInteger(type);
    }
    tblDest.Post();
    // The copy is on the disk before the original goes.
    tblDest.FlushBuffers();
    guard.done = true;
    tblDest.Close();

    // Found again: in the same table the append may have moved tblData.
    if (tblData.FindKey({name, config_.CurrentCategory})) tblData.Delete();
    return true;
}

void TDM::SetImageCategory(const std::string& category) {
    const std::string value = category == "All" ? std::string() : category;
    if (tblData.IsEmpty()) return;
    tblData.Edit();
    try {
        tblData.FieldByName("Category").SetAsString(CutText(value, kMaxCategory));
        tblData.Post();
    } catch (...) {
        // A refused post (the name exists in that category) leaves the record as it was.
        if (tblData.Editing()) tblData.Cancel();
        throw;
    }
}

void TDM::DeleteAllImages() {
    {
        TBusyScope busy(host_);
        tblData.First();
        while (!tblData.IsEmpty()) {
            if (tblData.Eof()) {
                tblData.First();
                continue;
            }
            tblData.Delete();
        }
    }
    CompactImageTable();
    host_.RefreshImageList();
}

void TDM::RemoveOrphanedThumbs() {
    TBusyScope busy(host_);
    engine::TField& fileName = tblThumbs.FieldByName("FileName");
    tblThumbs.First();
    while (!tblThumbs.Eof()) {
        if (FileExists(fileName.AsString())) {
            tblThumbs.Next();
        } else {
            tblThumbs.Delete();
        }
    }
    tblThumbs.Close();
    tblThumbs.SetExclusive(true);
    try {
        tblThumbs.OptimizeTable();
    } catch (...) {
        // The cache stays usable, shared as before, when it can be opened.
        tblThumbs.SetExclusive(false);
        try {
            tblThumbs.Open();
        } catch (...) {
        }
        throw;
    }
    tblThumbs.Open();
}

bool TDM::ConvertFileToThumbnail(const std::string& path, const std::string& text) {
    imaging::TPicture picture;
    picture.LoadFromFile(path);

    QImage canvas(kFileThumbSide, kFileThumbSide, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    try {
        QPainter painter(&canvas);
        picture.StretchDraw(painter, QRectF(0, 0, kFileThumbSide, kFileThumbSide));
    } catch (const std::exception& error) {
        host_.ShowMessage(PlainCaption, FromUtf8(error.what()), TBoxIcon::None);
    }
    imaging::TPicture copy;
    copy.SetBitmap(imaging::TBitmap::FromImage(canvas));

    try {
        const std::string stem = PathWithoutExtension(path);
        if (stem.empty()) throw std::runtime_error("Cannot write a copy of \"" + path + "\": it has no extension");
        const std::string target = stem + text + FileExtension(path);
        imaging::ConvertPictureToFormat(copy, target);
        copy.SaveToFile(target);
    } catch (const std::exception& error) {
        host_.ShowMessage(kWriteErrorCaption, FromUtf8(error.what()), TBoxIcon::Error);
    }
    return true;
}

void TDM::DisconnectDatabase() {
    for (engine::TCofferTable* table : {&tblDest, &tblData, &tblThumbs}) {
        if (table->Active()) {
            if (table->Editing()) table->Cancel();
            table->Close();
        }
    }
    if (qry1.Active()) qry1.Close();
    DB.Close();
}

void TDM::ConnectDatabase() {
    DB.SetDirectory(config_.DataFolder);
    DB.Open();
}

}  // namespace pixhold::store
