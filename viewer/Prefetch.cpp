#include "Prefetch.h"

#include "FitImage.h"
#include "WorkerPool.h"

#include <algorithm>
#include <set>

namespace pixhold::viewer {

void TPrefetch::Request(const std::string& key, TDecodeJob job) {
    if (jobs_.count(key) != 0) return;
    ++requests_;
    jobs_[key] = pool_.Submit([job = std::move(job)]() -> std::shared_ptr<const TDecodedPicture> {
                          return std::make_shared<const TDecodedPicture>(job());
                      }).share();
}

std::shared_ptr<const TDecodedPicture> TPrefetch::Take(const std::string& key, const std::function<void()>& idle) {
    auto found = jobs_.find(key);
    if (found == jobs_.end()) return nullptr;
    std::shared_future<std::shared_ptr<const TDecodedPicture>> future = found->second;
    while (future.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        if (idle) idle();
    }
    try {
        auto result = future.get();
        ++hits_;
        return result;
    } catch (...) {
        // A dropped job (the pool going away): decode on the spot instead.
        jobs_.erase(key);
        return nullptr;
    }
}

void TPrefetch::Retain(const std::vector<std::string>& keys) {
    const std::set<std::string> keep(keys.begin(), keys.end());
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        it = keep.count(it->first) != 0 ? std::next(it) : jobs_.erase(it);
    }
}

QImage DisplayImage(const imaging::TPicture& picture, QSize client, int bevel, bool stretchToFit) {
    const imaging::TGraphic* graphic = picture.Graphic();
    if (!stretchToFit || graphic == nullptr || graphic->Empty()) return {};
    if (graphic->Kind() == imaging::TGraphicKind::Metafile || graphic->Kind() == imaging::TGraphicKind::Gif) return {};
    const TFit fit = FitImageToParent(picture.Width(), picture.Height(), client.width(), client.height(), bevel);
    if (!fit.Stretch || fit.Bounds.isEmpty()) return {};
    return graphic->Render().scaled(fit.Bounds.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

TDecodedPicture DecodeFileForDisplay(const std::string& path, QSize client, int bevel, bool stretchToFit) {
    TDecodedPicture result;
    try {
        result.Picture.LoadFromFile(path);
        result.Display = DisplayImage(result.Picture, client, bevel, stretchToFit);
    } catch (const std::exception& error) {
        result.Picture.Clear();
        result.Error = error.what();
    }
    return result;
}

TDecodedPicture DecodeBytesForDisplay(imaging::TImageType type, const imaging::TByteVector& bytes, QSize client,
                                      int bevel, bool stretchToFit) {
    TDecodedPicture result;
    try {
        if (!bytes.empty()) result.Picture.LoadFromBytes(type, bytes);
        result.Display = DisplayImage(result.Picture, client, bevel, stretchToFit);
    } catch (const std::exception& error) {
        result.Picture.Clear();
        result.Error = error.what();
    }
    return result;
}

}  // namespace pixhold::viewer
