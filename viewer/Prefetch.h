#pragma once

#include "Picture.h"

#include <QImage>
#include <QSize>

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pixhold::imaging {
class TWorkerPool;
}

namespace pixhold::viewer {

// A picture decoded away from the user-interface thread, with its rendering
// already stretched for the place the viewer will give it (when it is to be
// stretched), or the decoder's error text.
struct TDecodedPicture {
    imaging::TPicture Picture;
    QImage Display;
    std::string Error;
};

// How a worker makes the decoded picture: bytes already read on the user-
// interface thread, or read by the worker itself from a file.
using TDecodeJob = std::function<TDecodedPicture()>;

// The neighbours of the shown entry, decoded ahead on the worker threads. Each
// entry is known by a key that changes whenever what it names may have
// changed (path with the file's time and size; record bookmark and name).
// Only pixel work runs on the workers; keys and results are handled on the
// user-interface thread.
class TPrefetch {
public:
    explicit TPrefetch(imaging::TWorkerPool& pool) : pool_(pool) {}

    // Starts decoding unless that key is under way or done already.
    void Request(const std::string& key, TDecodeJob job);
    // The result for the key (waiting for it while `idle` runs), or nothing
    // when it was never requested. The key stays available.
    std::shared_ptr<const TDecodedPicture> Take(const std::string& key, const std::function<void()>& idle);
    // Keeps only these keys.
    void Retain(const std::vector<std::string>& keys);
    void Clear() { jobs_.clear(); }
    bool Has(const std::string& key) const { return jobs_.count(key) != 0; }

    int Hits() const { return hits_; }
    int Requests() const { return requests_; }

private:
    imaging::TWorkerPool& pool_;
    std::map<std::string, std::shared_future<std::shared_ptr<const TDecodedPicture>>> jobs_;
    int hits_ = 0;
    int requests_ = 0;
};

// The decoded picture of a file or of record bytes, with its display
// rendering for a panel of that client size (see FitImageToParent).
TDecodedPicture DecodeFileForDisplay(const std::string& path, QSize client, int bevel, bool stretchToFit);
TDecodedPicture DecodeBytesForDisplay(imaging::TImageType type, const imaging::TByteVector& bytes, QSize client,
                                      int bevel, bool stretchToFit);
// The display rendering alone.
QImage DisplayImage(const imaging::TPicture& picture, QSize client, int bevel, bool stretchToFit);

}  // namespace pixhold::viewer
