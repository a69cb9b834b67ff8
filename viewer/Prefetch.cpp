#include "Prefetch.h"

#include "FitImage.h"
#include "GraphicError.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "PictureKind.h"
#include "WorkerPool.h"

#include <QObject>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>

namespace pixhold::viewer {

using imaging::TImageType;

// ---- the jobs ------------------------------------------------------------------

struct TPrefetch::TJob {
    std::string Key;
    TStage Stage = TStage::Look;
    int Priority = 0;
    long Sequence = 0;
    TDecodeJob Work;
    std::promise<std::shared_ptr<const TDecodedPicture>> Promise;
    std::atomic<bool> Cancel{false};
    std::atomic<bool> Started{false};
    std::atomic<bool> Done{false};
};

// What the workers share with the user-interface thread.
struct TPrefetch::TShared {
    std::mutex Mutex;
    std::vector<std::shared_ptr<TJob>> Queue;  // not started yet
    QObject* Notifier = nullptr;               // null once the prefetch is gone
    std::function<void(const std::string&, TStage)> Deliver;
};

TPrefetch::TPrefetch(imaging::TWorkerPool& pool)
    : pool_(pool), shared_(std::make_shared<TShared>()), notifier_(std::make_unique<QObject>()) {
    shared_->Notifier = notifier_.get();
    // Runs on the user-interface thread (the notifier lives there).
    shared_->Deliver = [this](const std::string& key, TStage stage) {
        const auto found = jobs_.find({key, stage});
        if (found == jobs_.end() || !found->second.Job->Done.load()) return;
        if (Finished) Finished(key, stage);
    };
}

TPrefetch::~TPrefetch() {
    for (auto& [key, entry] : jobs_) Drop(entry);
    jobs_.clear();
    std::lock_guard lock(shared_->Mutex);
    shared_->Notifier = nullptr;
    shared_->Deliver = nullptr;
}

void TPrefetch::RunJob(TJob& job) {
    std::shared_ptr<const TDecodedPicture> result;
    try {
        result = std::make_shared<const TDecodedPicture>(job.Work(job.Cancel));
    } catch (const std::exception& error) {
        auto failed = std::make_shared<TDecodedPicture>();
        failed->Error = error.what();
        result = failed;
    } catch (...) {
        auto failed = std::make_shared<TDecodedPicture>();
        failed->Error = "The picture could not be decoded";
        result = failed;
    }
    job.Work = nullptr;  // what the job held (bytes) goes now
    job.Promise.set_value(std::move(result));
    job.Done = true;
}

void TPrefetch::RunNext(const std::shared_ptr<TShared>& shared) {
    std::shared_ptr<TJob> job;
    {
        std::lock_guard lock(shared->Mutex);
        auto& queue = shared->Queue;
        if (queue.empty()) return;
        const auto first = std::min_element(queue.begin(), queue.end(), [](const auto& a, const auto& b) {
            return a->Priority != b->Priority ? a->Priority < b->Priority : a->Sequence < b->Sequence;
        });
        job = *first;
        queue.erase(first);
        job->Started = true;
    }
    RunJob(*job);
    std::lock_guard lock(shared->Mutex);
    if (shared->Notifier != nullptr && !job->Cancel.load()) {
        // Queued to the notifier's thread; dropped with the notifier.
        QMetaObject::invokeMethod(
            shared->Notifier,
            [shared, key = job->Key, stage = job->Stage] {
                if (shared->Deliver) shared->Deliver(key, stage);
            },
            Qt::QueuedConnection);
    }
}

void TPrefetch::Request(const std::string& key, TStage stage, int priority, TDecodeJob job) {
    const auto found = jobs_.find({key, stage});
    if (found != jobs_.end()) {
        if (!found->second.Job->Started.load()) {
            std::lock_guard lock(shared_->Mutex);
            found->second.Job->Priority = priority;
        }
        return;
    }
    if (stage == TStage::Look) ++requests_;
    auto entry = std::make_shared<TJob>();
    entry->Key = key;
    entry->Stage = stage;
    entry->Priority = priority;
    entry->Sequence = ++sequence_;
    entry->Work = std::move(job);
    jobs_[{key, stage}] = TEntry{entry, entry->Promise.get_future().share()};
    {
        std::lock_guard lock(shared_->Mutex);
        shared_->Queue.push_back(entry);
    }
    // One runner for each job: it runs whichever queued job is most urgent then.
    pool_.Submit([shared = shared_] { RunNext(shared); });
}

void TPrefetch::Put(const std::string& key, TStage stage, std::shared_ptr<const TDecodedPicture> result) {
    auto found = jobs_.find({key, stage});
    if (found != jobs_.end()) {
        Drop(found->second);
        jobs_.erase(found);
    }
    auto job = std::make_shared<TJob>();
    job->Key = key;
    job->Stage = stage;
    job->Started = true;
    job->Promise.set_value(std::move(result));
    job->Done = true;
    jobs_[{key, stage}] = TEntry{job, job->Promise.get_future().share()};
}

bool TPrefetch::Ready(const std::string& key, TStage stage) const {
    const auto found = jobs_.find({key, stage});
    return found != jobs_.end() && found->second.Job->Done.load();
}

std::shared_ptr<const TDecodedPicture> TPrefetch::Peek(const std::string& key, TStage stage) const {
    const auto found = jobs_.find({key, stage});
    if (found == jobs_.end() || !found->second.Job->Done.load()) return nullptr;
    return found->second.Result.get();
}

std::shared_ptr<const TDecodedPicture> TPrefetch::Take(const std::string& key, TStage stage,
                                                       const std::function<void()>& idle) {
    const auto found = jobs_.find({key, stage});
    if (found == jobs_.end()) return nullptr;
    const std::shared_ptr<TJob> job = found->second.Job;
    const auto future = found->second.Result;
    bool here = false;
    {
        std::lock_guard lock(shared_->Mutex);
        auto& queue = shared_->Queue;
        const auto queued = std::find(queue.begin(), queue.end(), job);
        if (queued != queue.end()) {
            queue.erase(queued);
            job->Started = true;
            here = true;
        }
    }
    // Not started yet: waiting behind other jobs would take longer than doing it.
    if (here) RunJob(*job);
    while (future.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
        if (idle) idle();
    }
    return future.get();
}

void TPrefetch::Drop(TEntry& entry) {
    TJob& job = *entry.Job;
    if (job.Done.load()) return;
    std::lock_guard lock(shared_->Mutex);
    auto& queue = shared_->Queue;
    const auto queued = std::find(queue.begin(), queue.end(), entry.Job);
    if (queued != queue.end()) {
        queue.erase(queued);
    } else if (job.Started.load() && !job.Done.load()) {
        job.Cancel = true;
        ++cancelled_;
    }
}

void TPrefetch::Retain(const std::vector<TKeep>& keep) {
    std::map<TKey, bool> wanted;  // key -> done only
    for (const TKeep& k : keep) {
        auto [it, added] = wanted.emplace(TKey{k.Key, k.Stage}, k.DoneOnly);
        if (!added) it->second = it->second && k.DoneOnly;
    }
    std::vector<TEntry> dropped;
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        const auto w = wanted.find(it->first);
        const bool keepIt = w != wanted.end() && (!w->second || it->second.Job->Done.load());
        if (keepIt) {
            ++it;
        } else {
            Drop(it->second);
            dropped.push_back(std::move(it->second));
            it = jobs_.erase(it);
        }
    }
    // A full picture is tens of megabytes: giving them back to the system
    // takes a while, which a worker spends instead of this thread.
    if (!dropped.empty()) {
        pool_.Submit([dropped = std::move(dropped)]() mutable { dropped.clear(); });
    }
}

// ---- decoding -------------------------------------------------------------------

namespace {

// The kind the bytes are decoded as: what they hold, else the given kind.
TImageType DecodedKind(TImageType kind, imaging::TBytes bytes) {
    const TImageType held = imaging::DetectPictureKind(bytes);
    return held != TImageType::Unknown ? held : kind;
}

// The bytes of a source and the kind they are named as. A file that cannot
// be read (or names no picture kind, or is empty) raises what loading it
// raises.
struct TSourceBytes {
    TImageType Kind = TImageType::Unknown;
    std::shared_ptr<const imaging::TByteVector> Bytes;
};

TSourceBytes ReadSource(const TPictureSource& source) {
    TSourceBytes read;
    if (source.Path.empty()) {
        read.Kind = source.Type;
        read.Bytes = source.Bytes ? source.Bytes : std::make_shared<const imaging::TByteVector>();
        return read;
    }
    read.Kind = imaging::ImageTypeOfExtension(source.Path);
    if (source.Bytes && !source.Bytes->empty()) {
        read.Bytes = source.Bytes;
        return read;
    }
    if (read.Kind == TImageType::Unknown) {
        imaging::TPicture picture;
        picture.LoadFromFile(source.Path);  // raises the error of an unknown extension
    }
    auto bytes = std::make_shared<imaging::TByteVector>(imaging::ReadPictureFile(source.Path));
    if (bytes->empty()) {
        imaging::TPicture picture;
        picture.LoadFromFile(source.Path);  // raises the error of an empty file
        throw imaging::EInvalidGraphic("The picture file is empty");
    }
    read.Bytes = std::move(bytes);
    return read;
}

// The preview of JPEG bytes for the place, or false when none is to be had.
bool MakePreview(TDecodedPicture& result, const TPictureSource& source, const TSourceBytes& read,
                 const TDisplayPlace& place, const std::atomic<bool>* cancel) {
    if (!place.Stretch || read.Bytes->empty()) return false;
    if (DecodedKind(read.Kind, *read.Bytes) != TImageType::Jpeg) return false;
    try {
        const imaging::TJpegInfo info = imaging::ReadJpegInfo(*read.Bytes);
        const bool turned = info.Orientation >= 5 && info.Orientation <= 8;
        const int width = turned ? info.Height : info.Width;
        const int height = turned ? info.Width : info.Height;
        const TFit fit = FitImageToParent(width, height, place.Client.width(), place.Client.height(), place.Bevel);
        if (!fit.Stretch || fit.Bounds.isEmpty()) return false;
        // The scale is chosen on the stored axes: the place turned back.
        const int targetW = turned ? fit.Bounds.height() : fit.Bounds.width();
        const int targetH = turned ? fit.Bounds.width() : fit.Bounds.height();
        imaging::TJpegDecodeOptions options;
        options.ScaleNum = imaging::JpegScaleToCover(info.Width, info.Height, targetW, targetH);
        options.Cancel = cancel;
        if (options.ScaleNum >= 8) return false;
        QImage reduced = imaging::DecodeJpeg(*read.Bytes, options);
        result.Display = reduced.scaled(fit.Bounds.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        result.Reduced = std::move(reduced);
        result.FullSize = QSize(width, height);
        result.Preview = true;
        result.Source = source;
        result.Source.Bytes = read.Bytes;
        return true;
    } catch (const std::exception&) {
        // The full decode tells what is wrong with the picture.
        result = TDecodedPicture();
        return false;
    }
}

TDecodedPicture DecodeFullFrom(const TSourceBytes& read, const TDisplayPlace& place,
                               const std::atomic<bool>* cancel) {
    TDecodedPicture result;
    try {
        const imaging::TByteVector& bytes = *read.Bytes;
        if (!bytes.empty()) {
            if (DecodedKind(read.Kind, bytes) == TImageType::Jpeg) {
                result.Picture.SetGraphic(imaging::TJpegGraphic::Decode(bytes, cancel));
            } else {
                result.Picture.LoadFromBytes(read.Kind, bytes);
            }
        }
        result.Display = DisplayImage(result.Picture, place);
    } catch (const std::exception& error) {
        result.Picture.Clear();
        result.Error = error.what();
    }
    return result;
}

}  // namespace

QImage DisplayImage(const imaging::TPicture& picture, const TDisplayPlace& place) {
    const imaging::TGraphic* graphic = picture.Graphic();
    if (!place.Stretch || graphic == nullptr || graphic->Empty()) return {};
    if (graphic->Kind() == imaging::TGraphicKind::Metafile || graphic->Kind() == imaging::TGraphicKind::Gif) return {};
    const TFit fit = FitImageToParent(picture.Width(), picture.Height(), place.Client.width(), place.Client.height(),
                                      place.Bevel);
    if (!fit.Stretch || fit.Bounds.isEmpty()) return {};
    return graphic->Render().scaled(fit.Bounds.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

namespace {

// The source's bytes; false with the reader's message in `failed` when they
// cannot be read.
bool ReadSourceOrFail(const TPictureSource& source, TSourceBytes& read, TDecodedPicture& failed) {
    try {
        read = ReadSource(source);
        return true;
    } catch (const std::exception& error) {
        failed.Error = error.what();
        return false;
    }
}

}  // namespace

TDecodedPicture DecodeForDisplay(const TPictureSource& source, const TDisplayPlace& place, bool preview,
                                 const std::atomic<bool>* cancel) {
    TSourceBytes read;
    TDecodedPicture result;
    if (!ReadSourceOrFail(source, read, result)) return result;
    if (preview && MakePreview(result, source, read, place, cancel)) return result;
    if (cancel != nullptr && cancel->load()) {
        result = TDecodedPicture();
        result.Error = imaging::JpegCancelledMessage;
        return result;
    }
    return DecodeFullFrom(read, place, cancel);
}

TDecodedPicture DecodeFull(const TPictureSource& source, const TDisplayPlace& place,
                           const std::atomic<bool>* cancel) {
    TSourceBytes read;
    TDecodedPicture failed;
    if (!ReadSourceOrFail(source, read, failed)) return failed;
    return DecodeFullFrom(read, place, cancel);
}

}  // namespace pixhold::viewer
