#include "RecordPicture.h"

#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "GraphicError.h"
#include "JpegCodec.h"
#include "Picture.h"
#include "PictureFile.h"
#include "Thumbnail.h"
#include "fDM.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pixhold::store {

namespace {

// The temporary thumbnail file's name starts with this.
constexpr const char* kThumbFilePrefix = "_TC";

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A unique name in the user's temporary folder: the system makes an empty
// file of that name, which is deleted again, and ".jpg" is appended.
std::string UniqueThumbPath() {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(kThumbFilePrefix) + "XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw imaging::EPictureFileError("Cannot create a temporary file in " +
                                         std::filesystem::temp_directory_path().string() + ": " +
                                         std::strerror(errno));
    }
    ::close(fd);
    ::unlink(pattern.c_str());
    return pattern + ".jpg";
}

imaging::TByteVector ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw imaging::EPictureFileError("Cannot read the thumbnail file " + path);
    return imaging::TByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

void LoadRecordImage(imaging::TPicture& picture, const TRecordImage& image) {
    picture.Clear();
    if (image.Bytes.empty()) return;
    picture.LoadFromBytes(image.Type, image.Bytes);
}

std::string MakeThumbnailFile(const imaging::TPicture& picture, IDataModuleHost& host) {
    const QImage thumb = imaging::MakeThumbnailImage(picture);
    const std::string path = UniqueThumbPath();
    try {
        imaging::WritePictureFile(path, imaging::EncodeJpeg(thumb, imaging::RecordThumbQuality));
    } catch (const std::exception& error) {
        host.ShowMessage(QStringLiteral("Write error"), FromUtf8(error.what()), TBoxIcon::None);
    }
    return path;
}

TRecordImage TDM::ReadRecordImage() {
    TRecordImage image;
    const std::int64_t type = tblData.FieldByName("Type").AsInteger();
    image.Type = static_cast<imaging::TImageType>(type >= 0 && type <= 6 ? type : 255);
    image.Bytes = tblData.CreateBlobStream(tblData.FieldByName("Image"), engine::TBlobStreamMode::bmRead)->ReadAll();
    return image;
}

void TDM::LoadRecordPicture(imaging::TPicture& picture) {
    picture.Clear();
    LoadRecordImage(picture, ReadRecordImage());
}

void TDM::SavePictureToRecord(const imaging::TPicture& picture, const std::string& name) {
    WritePictureRecord(picture, name, false);
}

void TDM::SavePictureToNewRecord(const imaging::TPicture& picture, const std::string& name) {
    WritePictureRecord(picture, name, true);
}

void TDM::WritePictureRecord(const imaging::TPicture& picture, const std::string& name, bool append) {
    const imaging::TImageType code = imaging::ImageTypeOfExtension(name);
    // Everything that can fail on the picture's side comes first.
    const imaging::TByteVector bytes =
        code == imaging::TImageType::Unknown ? imaging::TByteVector() : picture.Encode(code);
    const std::string thumbPath = MakeThumbnailFile(picture, host_);
    imaging::TByteVector thumb;
    try {
        thumb = ReadWholeFile(thumbPath);
    } catch (...) {
        ::unlink(thumbPath.c_str());
        throw;
    }
    ::unlink(thumbPath.c_str());

    if (append) {
        tblData.Append();
    } else {
        tblData.Edit();
    }
    try {
        if (append) tblData.FieldByName("Category").SetAsString(config_.CategoryKey());
        tblData.FieldByName("FileName").SetAsString(name);
        tblData.FieldByName("Type").SetAsInteger(static_cast<std::int64_t>(code));
        tblData.CreateBlobStream(tblData.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll(bytes);
        tblData.CreateBlobStream(tblData.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(thumb);
        tblData.Post();
    } catch (...) {
        if (tblData.Editing()) tblData.Cancel();
        throw;
    }
    tblData.FlushBuffers();
}

void TDM::SavePictureToFile(imaging::TPicture& picture, const std::string& path) {
    picture.SaveToFile(path);
    if (config_.StoreFileThumbsInDatabase && !config_.QuickBrowse && tblThumbs.Active()) {
        const imaging::TByteVector jpeg =
            imaging::EncodeJpeg(imaging::MakeThumbnailImage(picture), imaging::CacheThumbQuality);
        if (tblThumbs.FindKey({path})) {
            tblThumbs.Edit();
        } else {
            tblThumbs.Append();
            tblThumbs.FieldByName("FileName").SetAsString(path);
        }
        try {
            tblThumbs.CreateBlobStream(tblThumbs.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(jpeg);
            tblThumbs.Post();
        } catch (...) {
            if (tblThumbs.Editing()) tblThumbs.Cancel();
            throw;
        }
    }
    picture.LoadFromFile(path);
}

}  // namespace pixhold::store
