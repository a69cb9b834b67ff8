#include "ImageList.h"

#include "JpegCodec.h"
#include "Thumbnail.h"

#include <QPainter>

#include <algorithm>

namespace pixhold::imaging {

namespace {

// Larger or smaller pictures keep their top-left corner, as a fixed-size
// image list does.
QImage FitOnWhite(const QImage& picture) {
    if (picture.size() == QSize(TImageList::Width, TImageList::Height) &&
        picture.format() == QImage::Format_RGB32) {
        return picture;
    }
    QImage square(TImageList::Width, TImageList::Height, QImage::Format_RGB32);
    square.fill(Qt::white);
    if (!picture.isNull()) {
        QPainter painter(&square);
        painter.drawImage(QPoint(0, 0), picture,
                          QRect(0, 0, std::min(picture.width(), TImageList::Width),
                                std::min(picture.height(), TImageList::Height)));
    }
    return square;
}

}  // namespace

TThumbHandle ThumbOfImage(QImage image, bool etched) {
    auto thumb = std::make_shared<TThumbData>();
    thumb->Image = std::move(image);
    thumb->Etched = etched;
    return thumb;
}

TThumbHandle ThumbOfJpeg(TByteVector jpeg) {
    auto thumb = std::make_shared<TThumbData>();
    thumb->Jpeg = std::move(jpeg);
    return thumb;
}

TThumbHandle ThumbOfFetch(std::function<TByteVector()> fetch) {
    auto thumb = std::make_shared<TThumbData>();
    thumb->Fetch = std::move(fetch);
    return thumb;
}

std::size_t TImageList::Add(const QImage& picture) {
    return Add(ThumbOfImage(FitOnWhite(picture)));
}

std::size_t TImageList::Add(TThumbHandle thumb) {
    entries_.push_back(std::move(thumb));
    return entries_.size() - 1;
}

void TImageList::Delete(std::size_t i) {
    if (i >= entries_.size()) return;
    Forget(entries_[i].get());
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TImageList::Clear() {
    entries_.clear();
    cache_.clear();
    cacheIndex_.clear();
}

QImage TImageList::Render(const TThumbData& thumb, const QImage& placeholder) {
    QImage picture = thumb.Image;
    if (picture.isNull()) {
        try {
            const TByteVector fetched = thumb.Jpeg.empty() && thumb.Fetch ? thumb.Fetch() : TByteVector();
            const TByteVector& jpeg = thumb.Jpeg.empty() ? fetched : thumb.Jpeg;
            picture = DecodeJpeg(jpeg);
        } catch (const std::exception&) {
            // A damaged thumbnail shows the placeholder; the rest of the list goes on.
            return FitOnWhite(placeholder);
        }
    }
    return ListPicture(picture, thumb.Etched);
}

QImage TImageList::ListPicture(const QImage& decoded, bool etched) {
    QImage square = FitOnWhite(decoded);
    if (etched) DrawEtchedEdge(square);
    return square;
}

QImage TImageList::Picture(std::size_t i) const {
    if (i >= entries_.size()) return QImage();
    const TThumbData* key = entries_[i].get();
    if (const auto hit = cacheIndex_.find(key); hit != cacheIndex_.end()) {
        cache_.splice(cache_.begin(), cache_, hit->second);
        return hit->second->second;
    }
    // Pictures kept as pixels need no cache.
    if (!key->Image.isNull() && !key->Etched) return key->Image;
    QImage picture = Render(*key, placeholder_);
    Remember(key, picture);
    return picture;
}

bool TImageList::Cached(std::size_t i) const {
    return i < entries_.size() && cacheIndex_.count(entries_[i].get()) != 0;
}

void TImageList::Prime(std::size_t i, const QImage& decoded) {
    if (i < entries_.size()) Remember(entries_[i].get(), decoded);
}

void TImageList::SetCacheLimit(std::size_t limit) {
    cacheLimit_ = std::max<std::size_t>(limit, 1);
    while (cache_.size() > cacheLimit_) {
        cacheIndex_.erase(cache_.back().first);
        cache_.pop_back();
    }
}

void TImageList::Remember(const TThumbData* key, QImage picture) const {
    if (const auto hit = cacheIndex_.find(key); hit != cacheIndex_.end()) {
        hit->second->second = std::move(picture);
        cache_.splice(cache_.begin(), cache_, hit->second);
        return;
    }
    cache_.emplace_front(key, std::move(picture));
    cacheIndex_[key] = cache_.begin();
    while (cache_.size() > cacheLimit_) {
        cacheIndex_.erase(cache_.back().first);
        cache_.pop_back();
    }
}

void TImageList::Forget(const TThumbData* key) {
    if (const auto hit = cacheIndex_.find(key); hit != cacheIndex_.end()) {
        cache_.erase(hit->second);
        cacheIndex_.erase(hit);
    }
}

}  // namespace pixhold::imaging
