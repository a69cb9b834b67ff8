#pragma once

#include "ByteSpan.h"
#include "ThumbSize.h"

#include <QImage>

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

namespace pixhold::imaging {

// One thumbnail of the main list, kept as small as it can be: the stored JPEG,
// or a way to read it again, rather than its pixels.
struct TThumbData {
    TByteVector Jpeg;                    // the thumbnail's JPEG, when kept here
    std::function<TByteVector()> Fetch;  // reads the JPEG when it is not kept (may raise)
    QImage Image;                        // the picture itself, for thumbnails made as pixels
    bool Etched = true;                  // drawn with the list's etched edge
};
using TThumbHandle = std::shared_ptr<const TThumbData>;

TThumbHandle ThumbOfImage(QImage image, bool etched = false);
TThumbHandle ThumbOfJpeg(TByteVector jpeg);
TThumbHandle ThumbOfFetch(std::function<TByteVector()> fetch);

// The main list's image list: ThumbSize pictures on white, picture i for list
// entry i. Entries hold their thumbnails encoded; Picture decodes on demand
// and keeps the decoded pictures of the entries seen last in a bounded cache,
// so memory follows the screen, not the table.
class TImageList {
public:
    static constexpr int Width = ThumbSize;
    static constexpr int Height = ThumbSize;
    static constexpr std::size_t DefaultCacheLimit = 2048;

    // Adds a copy of the picture (fitted onto a white square, top-left kept); returns its index.
    std::size_t Add(const QImage& picture);
    std::size_t Add(TThumbHandle thumb);
    // Removes picture i; an index out of range is ignored.
    void Delete(std::size_t i);
    void Clear();

    std::size_t Count() const { return entries_.size(); }
    // Picture i, or a null image when i is out of range. A thumbnail that
    // cannot be read or decoded shows the placeholder.
    QImage Picture(std::size_t i) const;
    // Whether picture i is decoded already (nothing is read or decoded).
    bool Cached(std::size_t i) const;
    // Puts the decoded picture of entry i into the cache (a worker made it).
    void Prime(std::size_t i, const QImage& decoded);

    void SetPlaceholder(QImage placeholder) { placeholder_ = std::move(placeholder); }
    void SetCacheLimit(std::size_t limit);
    std::size_t CachedCount() const { return cache_.size(); }

    // The list picture of a thumbnail: decoded, fitted on white, edged.
    static QImage Render(const TThumbData& thumb, const QImage& placeholder);
    // A decoded thumbnail as the list shows it: fitted on white (top-left
    // kept), with the etched edge when asked.
    static QImage ListPicture(const QImage& decoded, bool etched);

private:
    using TCacheList = std::list<std::pair<const TThumbData*, QImage>>;
    void Remember(const TThumbData* key, QImage picture) const;
    void Forget(const TThumbData* key);

    std::vector<TThumbHandle> entries_;
    QImage placeholder_;
    std::size_t cacheLimit_ = DefaultCacheLimit;
    mutable TCacheList cache_;  // most recently used first
    mutable std::unordered_map<const TThumbData*, TCacheList::iterator> cacheIndex_;
};

}  // namespace pixhold::imaging
