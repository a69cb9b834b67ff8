#include "ImageListFill.h"

#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "ImageFns.h"
#include "ImageHelper.h"
#include "ImageList.h"
#include "ImportRecord.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "Thumbnail.h"
#include "WorkerPool.h"
#include "fDM.h"

#include <unistd.h>

#include <deque>
#include <future>
#include <optional>

namespace pixhold::store {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What a worker makes of one browsed file.
struct TFolderThumb {
    QImage Image;          // the list picture (edged), when made
    imaging::TByteVector Jpeg;  // the cache-quality JPEG of the thumbnail
    std::string Error;     // the decoder's text when the file cannot be shown
};

TFolderThumb ThumbOfFile(const std::string& path, const std::string& name) {
    TFolderThumb result;
    try {
        const imaging::TByteVector bytes = imaging::ReadPictureFile(path);
        if (bytes.empty()) throw std::runtime_error("0 length file");
        const QImage thumb = imaging::ThumbnailOfPictureBytes(bytes, name);
        result.Jpeg = imaging::EncodeJpeg(thumb, imaging::CacheThumbQuality);
        result.Image = imaging::TImageList::ListPicture(thumb, true);
    } catch (const std::exception& e) {
        result.Error = e.what();
    }
    return result;
}

TFolderThumb ThumbOfCache(imaging::TByteVector jpeg) {
    TFolderThumb result;
    try {
        result.Image = imaging::TImageList::ListPicture(imaging::DecodeJpeg(jpeg), true);
        result.Jpeg = std::move(jpeg);
    } catch (const std::exception& e) {
        result.Error = e.what();
    }
    return result;
}

}  // namespace

TImageListFill::TImageListFill(TDM& dm, imaging::TWorkerPool& pool)
    : dm_(dm), pool_(pool), alive_(std::make_shared<TDM*>(&dm)) {}

TImageListFill::~TImageListFill() {
    *alive_ = nullptr;
}

void TImageListFill::Fill(imaging::TPH& ph, imaging::TImageList& list) {
    // Window messages run during a folder fill; a refresh asked for meanwhile
    // would empty the lists under this one.
    if (filling_) return;
    filling_ = true;
    struct TReset {
        bool& flag;
        ~TReset() { flag = false; }
    } reset{filling_};
    if (dm_.Config().BrowseMode) {
        FillFromFolder(ph, list);
    } else {
        FillFromTable(ph, list);
    }
}

void TImageListFill::FillFromTable(imaging::TPH& ph, imaging::TImageList& list) {
    engine::TCofferTable& table = dm_.tblData;
    if (!table.Active()) return;
    // Records written through other handles (an import, a move into this
    // table) or by other programs since the table's buffers were read.
    table.Refresh();
    table.First();
    engine::TField& fileName = table.FieldByName("FileName");
    while (!table.Eof()) {
        ph.ImageNames.push_back(FromUtf8(fileName.AsString()));
        std::weak_ptr<TDM*> alive = alive_;
        imaging::TThumbHandle thumb = imaging::ThumbOfFetch(
            [alive, bookmark = table.GetBookmark()]() -> imaging::TByteVector {
                const std::shared_ptr<TDM*> dm = alive.lock();
                if (!dm || *dm == nullptr) throw std::runtime_error("the table is closed");
                return (*dm)->ReadThumbAt(bookmark);
            });
        ph.ThumbBitmaps.push_back(thumb);
        list.Add(std::move(thumb));
        table.Next();
    }
}

void TImageListFill::FillFromFolder(imaging::TPH& ph, imaging::TImageList& list) {
    TConfig& config = dm_.Config();
    IDataModuleHost& host = dm_.Host();
    const std::string folder = config.LastBrowseDir;
    const bool quick = config.QuickBrowse;
    const bool caching = config.StoreFileThumbsInDatabase && dm_.tblThumbs.Active();

    struct TPending {
        std::string Name;
        std::string Path;
        bool Cached = false;
        std::size_t CachedBytes = 0;
        std::future<TFolderThumb> Result;
    };
    std::deque<TPending> pending;
    const std::vector<std::string> entries = FolderEntries(folder, false);
    std::size_t next = 0;
    // Enough files in flight to keep every worker busy while this thread
    // waits; refilled in runs of about half of that, each run of cache
    // look-ups under one read lock of the cache table.
    const std::size_t ahead = 8 * pool_.Threads() + 8;

    auto startMore = [&] {
        if (pending.size() > ahead / 2) return;
        std::optional<engine::TDataSetReadRun> reads;
        if (caching) reads.emplace(dm_.tblThumbs);
        while (next < entries.size() && pending.size() < ahead) {
            const std::string& name = entries[next++];
            if (!imaging::IsPictureFile(name)) continue;
            TPending item;
            item.Name = name;
            item.Path = folder + name;
            std::optional<imaging::TByteVector> cached;
            if (caching && dm_.tblThumbs.FindKey({item.Path})) {
                auto stream = dm_.tblThumbs.CreateBlobStream(dm_.tblThumbs.FieldByName("Thumb"),
                                                             engine::TBlobStreamMode::bmRead);
                cached = stream->ReadAll();
            }
            if (cached) {
                item.Cached = true;
                item.CachedBytes = cached->size();
                ++cacheHits_;
                if (cached->empty()) {
                    std::promise<TFolderThumb> empty;
                    empty.set_value(TFolderThumb{{}, {}, "0 length file"});
                    item.Result = empty.get_future();
                } else {
                    item.Result = pool_.Submit([jpeg = std::move(*cached)]() mutable {
                        return ThumbOfCache(std::move(jpeg));
                    });
                }
            } else {
                ++filesRead_;
                item.Result = pool_.Submit([path = item.Path, name = item.Name] { return ThumbOfFile(path, name); });
            }
            pending.push_back(std::move(item));
        }
    };

    if (quick) {
        for (const std::string& name : entries) {
            if (imaging::IsPictureFile(name)) ph.ImageNames.push_back(FromUtf8(name));
            host.ProcessMessages();
        }
        return;
    }

    startMore();
    while (!pending.empty()) {
        TPending item = std::move(pending.front());
        pending.pop_front();
        TFolderThumb result = imaging::AwaitResult<TFolderThumb>(item.Result, [&host] { host.ProcessMessages(); });
        bool rewriteCache = false;
        if (item.Cached && !result.Error.empty() && item.CachedBytes > 0) {
            // A damaged cache row says nothing about the file: the thumbnail
            // is made again from the file, and the row rewritten.
            ++filesRead_;
            result = ThumbOfFile(item.Path, item.Name);
            rewriteCache = result.Error.empty();
        }
        if (!result.Error.empty()) {
            const QString question =
                FromUtf8(result.Error) + " " + FromUtf8(item.Path) + QStringLiteral(" corrupt. Delete?");
            if (host.AskYesNo(ConfirmCaption, question, TBoxIcon::Confirmation)) {
                ::unlink(item.Path.c_str());
            }
        } else {
            if (rewriteCache && dm_.tblThumbs.FindKey({item.Path})) {
                dm_.tblThumbs.Edit();
                dm_.tblThumbs.CreateBlobStream(dm_.tblThumbs.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)
                    ->WriteAll(result.Jpeg);
                dm_.tblThumbs.Post();
            } else if (caching && !item.Cached) {
                dm_.tblThumbs.Append();
                dm_.tblThumbs.FieldByName("FileName").SetAsString(item.Path);
                dm_.tblThumbs.CreateBlobStream(dm_.tblThumbs.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)
                    ->WriteAll(result.Jpeg);
                dm_.tblThumbs.Post();
            }
            ph.ImageNames.push_back(FromUtf8(item.Name));
            imaging::TThumbHandle thumb = imaging::ThumbOfJpeg(std::move(result.Jpeg));
            ph.ThumbBitmaps.push_back(thumb);
            const std::size_t at = list.Add(std::move(thumb));
            list.Prime(at, result.Image);
        }
        host.ProcessMessages();
        startMore();
    }
}

}  // namespace pixhold::store
