#pragma once

#include "ByteSpan.h"

#include <QImage>

#include <cstddef>
#include <vector>

namespace pixhold::imaging {

// The size an empty icon reports, and the size the program writes.
inline constexpr int SystemIconSize = 32;

// Windows icons, our own reader and writer (docs/icon-format.md).
struct TIconEntry {
    int Width = 0;
    int Height = 0;
    int BitCount = 0;
    bool Png = false;
    friend bool operator==(const TIconEntry&, const TIconEntry&) = default;
};

// The entries of an ".ico" file as its directory lists them.
std::vector<TIconEntry> ReadIconDirectory(TBytes file);
// The entry a desktop would show at `size` x `size` pixels (DIB entries with
// their AND mask, PNG entries), as ARGB32 at the entry's own size.
QImage ReadIcon(TBytes file, int size = SystemIconSize);
// Entry `index` (from 0, in directory order) as ARGB32.
QImage ReadIconEntry(TBytes file, std::size_t index);
// The index of the entry ReadIcon shows at `size`: the smallest entry at
// least that size on both axes (an exact size therefore first), else the
// largest; among equal sizes the deepest; among equals the first.
std::size_t ChooseIconEntry(const std::vector<TIconEntry>& entries, int size);
// The program's icon encoding: the SystemIconSize square at the top left of
// the picture, transparent where a pixel equals the top-left pixel.
TByteVector WriteIcon(const QImage& picture);

}  // namespace pixhold::imaging
