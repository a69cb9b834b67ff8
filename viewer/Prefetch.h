#pragma once

#include "ImageTypes.h"
#include "Picture.h"

#include <QImage>
#include <QSize>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QObject;

namespace pixhold::imaging {
class TWorkerPool;
}

namespace pixhold::viewer {

// Where the viewer will put a picture: the panel's client size, its bevel, and
// whether the picture is stretched to fit (StretchImageToFit) or keeps its
// own size.
struct TDisplayPlace {
    QSize Client;
    int Bevel = 0;
    bool Stretch = true;
};

// Where the bytes of an entry come from: a file (read by the worker itself,
// unless the bytes are given), or a record's type code and bytes, read on the
// user-interface thread.
struct TPictureSource {
    std::string Path;  // empty for a record
    imaging::TImageType Type = imaging::TImageType::Unknown;
    std::shared_ptr<const imaging::TByteVector> Bytes;
};

// A picture decoded away from the user-interface thread, or the decoder's
// error text. It is either
// - the picture itself, with its rendering already stretched for its place
//   (Display, null when it is not stretched), or
// - a preview: a large JPEG decoded by libjpeg's DCT scaling at the smallest
//   scale that still covers its place (Reduced, upright), with that stretched
//   for the place (Display) and the full picture's size. A preview is for the
//   eyes only; the full picture is decoded from the same bytes (Source) next.
struct TDecodedPicture {
    imaging::TPicture Picture;
    QImage Display;
    std::string Error;

    bool Preview = false;
    QSize FullSize;
    QImage Reduced;
    TPictureSource Source;
};

// How a worker makes the decoded picture; a job that can stop early watches
// the flag, which turns true once the result is no longer wanted.
using TDecodeJob = std::function<TDecodedPicture(const std::atomic<bool>& cancel)>;

// The pictures of the shown entry and of its neighbours, decoded on the
// worker threads. Each entry is known by a key that changes whenever what it
// names may have changed (path with the file's time and size; record bookmark
// and name), and has two stages: the first look (a preview or the picture,
// whatever can go on show soonest) and the full picture (after a preview).
// Jobs run most urgent first (lowest priority number); a job not started yet
// that the user-interface thread waits for runs there at once. Only pixel
// work runs on the workers; keys and results are handled on the
// user-interface thread.
class TPrefetch {
public:
    enum class TStage { Look, Full };
    using TKey = std::pair<std::string, TStage>;
    // A key to keep: `doneOnly` keeps a finished result but drops (and
    // cancels) the job while it is still queued or running.
    struct TKeep {
        std::string Key;
        TStage Stage = TStage::Look;
        bool DoneOnly = false;
    };

    explicit TPrefetch(imaging::TWorkerPool& pool);
    ~TPrefetch();
    TPrefetch(const TPrefetch&) = delete;
    TPrefetch& operator=(const TPrefetch&) = delete;

    // Starts the job unless that key and stage is under way or done already;
    // a job still queued takes the new priority.
    void Request(const std::string& key, TStage stage, int priority, TDecodeJob job);
    // Keeps a result made elsewhere (on the spot) as if it had been requested.
    void Put(const std::string& key, TStage stage, std::shared_ptr<const TDecodedPicture> result);
    // The result for the key (waiting for it while `idle` runs; a job not yet
    // started runs on the spot), or nothing when it was never requested. The
    // result stays available.
    std::shared_ptr<const TDecodedPicture> Take(const std::string& key, TStage stage,
                                                const std::function<void()>& idle);
    bool Has(const std::string& key, TStage stage) const { return jobs_.count({key, stage}) != 0; }
    bool Ready(const std::string& key, TStage stage) const;
    // The result when it is done, without waiting; else nothing.
    std::shared_ptr<const TDecodedPicture> Peek(const std::string& key, TStage stage) const;
    // Keeps only these; queued jobs of the others are dropped and running
    // ones are told to stop.
    void Retain(const std::vector<TKeep>& keep);
    void Clear() { Retain({}); }

    // Runs on the user-interface thread each time a worker has finished a job
    // that is still kept.
    std::function<void(const std::string& key, TStage stage)> Finished;

    // First looks asked for, and entries shown from what was decoded ahead
    // (counted by the viewer).
    void CountHit() { ++hits_; }
    int Hits() const { return hits_; }
    int Requests() const { return requests_; }
    // Jobs told to stop while they were running.
    int Cancelled() const { return cancelled_; }

private:
    struct TJob;
    struct TShared;
    struct TEntry {
        std::shared_ptr<TJob> Job;
        std::shared_future<std::shared_ptr<const TDecodedPicture>> Result;
    };
    static void RunNext(const std::shared_ptr<TShared>& shared);
    static void RunJob(TJob& job);
    void Drop(TEntry& entry);

    imaging::TWorkerPool& pool_;
    std::shared_ptr<TShared> shared_;
    std::unique_ptr<QObject> notifier_;  // receives the workers' news on this thread
    std::map<TKey, TEntry> jobs_;
    long sequence_ = 0;
    int hits_ = 0;
    int requests_ = 0;
    int cancelled_ = 0;
};

// The first look at an entry: a preview when `preview` allows one and the
// picture is a JPEG that is stretched to a size libjpeg's scaling reaches;
// otherwise the picture itself. Decoding errors are in Error.
// A decoding stops early (Error JpegCancelledMessage) once `cancel` turns true.
TDecodedPicture DecodeForDisplay(const TPictureSource& source, const TDisplayPlace& place, bool preview,
                                 const std::atomic<bool>* cancel = nullptr);
// The picture itself with its rendering for the place; a JPEG stops early
// (Error JpegCancelledMessage) once `cancel` turns true.
TDecodedPicture DecodeFull(const TPictureSource& source, const TDisplayPlace& place,
                           const std::atomic<bool>* cancel = nullptr);
// The display rendering alone (null when the picture is not stretched).
QImage DisplayImage(const imaging::TPicture& picture, const TDisplayPlace& place);

}  // namespace pixhold::viewer
