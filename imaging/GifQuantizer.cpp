// The GIF encoder's colour reduction: a fixed part (the system palette's 20
// static colours) and 236 colours chosen for the picture by median cut over
// its exact 24-bit histogram; every pixel then takes the nearest entry.
#include "GifQuantizer.h"

#include "GraphicError.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <queue>
#include <vector>

namespace pixhold::imaging {

namespace {

constexpr int PaletteSize = 256;
constexpr int StaticLow = 10;          // entries 0 to 9
constexpr int FreeFirst = StaticLow;   // entries 10 to 245 are the picture's
constexpr int FreeCount = 236;
constexpr std::uint32_t ColourMask = 0x00FFFFFFu;

constexpr std::array<TRgbQuad, 20> SystemStatic = {{
    // blue, green, red
    {0, 0, 0, 0},         // 0 black
    {0, 0, 128, 0},       // 1 dark red
    {0, 128, 0, 0},       // 2 dark green
    {0, 128, 128, 0},     // 3 dark yellow
    {128, 0, 0, 0},       // 4 dark blue
    {128, 0, 128, 0},     // 5 dark magenta
    {128, 128, 0, 0},     // 6 dark cyan
    {192, 192, 192, 0},   // 7 light grey
    {192, 220, 192, 0},   // 8 money green
    {240, 202, 166, 0},   // 9 sky blue
    {240, 251, 255, 0},   // 246 cream
    {164, 160, 160, 0},   // 247 medium grey
    {128, 128, 128, 0},   // 248 dark grey
    {0, 0, 255, 0},       // 249 red
    {0, 255, 0, 0},       // 250 green
    {0, 255, 255, 0},     // 251 yellow
    {255, 0, 0, 0},       // 252 blue
    {255, 0, 255, 0},     // 253 magenta
    {255, 255, 0, 0},     // 254 cyan
    {255, 255, 255, 0},   // 255 white
}};

bool IsStatic(std::uint32_t colour) {
    return std::any_of(SystemStatic.begin(), SystemStatic.end(), [colour](const TRgbQuad& q) {
        return ((std::uint32_t{q.Red} << 16) | (std::uint32_t{q.Green} << 8) | q.Blue) == colour;
    });
}

int RedOf(std::uint32_t c) { return static_cast<int>((c >> 16) & 0xFF); }
int GreenOf(std::uint32_t c) { return static_cast<int>((c >> 8) & 0xFF); }
int BlueOf(std::uint32_t c) { return static_cast<int>(c & 0xFF); }
int Component(std::uint32_t c, int axis) { return static_cast<int>((c >> (16 - 8 * axis)) & 0xFF); }

// One distinct colour of the picture (0x00RRGGBB) and how many pixels have it.
struct TColourCount {
    std::uint32_t Colour;
    std::uint32_t Count;
};

// The picture's pixels as 0x00RRGGBB, row by row; alpha is composed onto white
// (a GIF written by the program is opaque).
std::vector<std::uint32_t> OpaquePixels(const QImage& image) {
    const QImage src = image.convertToFormat(QImage::Format_ARGB32);
    if (src.isNull()) throw EInvalidGraphic("Out of memory while reducing a picture to 256 colours");
    const int w = src.width();
    const int h = src.height();
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::uint32_t* out = pixels.data();
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = row[x];
            const unsigned a = qAlpha(p);
            if (a == 255) {
                *out++ = p & ColourMask;
            } else {
                const auto over = [a](unsigned c) { return (c * a + 255 * (255 - a) + 127) / 255; };
                *out++ = (over(static_cast<unsigned>(qRed(p))) << 16) |
                         (over(static_cast<unsigned>(qGreen(p))) << 8) | over(static_cast<unsigned>(qBlue(p)));
            }
        }
    }
    return pixels;
}

// Large pictures count their colours in a table over all 2^24 colours, which
// is later reused as the colour -> palette index map; small ones sort.
constexpr std::size_t DenseThreshold = std::size_t{1} << 20;

std::vector<TColourCount> Histogram(const std::vector<std::uint32_t>& pixels,
                                    std::vector<std::uint32_t>& dense) {
    std::vector<TColourCount> colours;
    if (pixels.size() >= DenseThreshold) {
        dense.assign(std::size_t{1} << 24, 0);
        for (const std::uint32_t p : pixels) ++dense[p];
        for (std::uint32_t c = 0; c < (1u << 24); ++c) {
            if (dense[c] != 0) colours.push_back({c, dense[c]});
        }
        return colours;
    }
    std::vector<std::uint32_t> sorted(pixels);
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i + 1;
        while (j < sorted.size() && sorted[j] == sorted[i]) ++j;
        colours.push_back({sorted[i], static_cast<std::uint32_t>(j - i)});
        i = j;
    }
    return colours;
}

// A box of the colour cube holding colours[First, Last) of the working list,
// with the best way to split it in two.
struct TBox {
    std::size_t First = 0;
    std::size_t Last = 0;
    std::uint32_t Mean = 0;
    int Axis = 0;       // the split: colours whose component on Axis (0 red,
    int Cut = -1;       // 1 green, 2 blue) is <= Cut go to the first half
    double Gain = 0;    // how much the split lowers the pixels' squared error
};

// Measures a box: its mean colour, and the split along one axis that lowers
// the squared error of its pixels (in all three components) most.
void Measure(const std::vector<TColourCount>& colours, TBox& box) {
    // Per axis and value: pixel count, component sums and the sum of squares.
    struct TMoments {
        double N = 0, R = 0, G = 0, B = 0, Q = 0;
        void Add(const TMoments& o) { N += o.N; R += o.R; G += o.G; B += o.B; Q += o.Q; }
        double Error() const { return N > 0 ? Q - (R * R + G * G + B * B) / N : 0; }
    };
    static thread_local TMoments bins[3][256];
    for (auto& axis : bins) std::fill(std::begin(axis), std::end(axis), TMoments{});
    TMoments total;
    for (std::size_t i = box.First; i < box.Last; ++i) {
        const std::uint32_t c = colours[i].Colour;
        const double w = colours[i].Count;
        const double r = RedOf(c), g = GreenOf(c), b = BlueOf(c);
        const TMoments m{w, w * r, w * g, w * b, w * (r * r + g * g + b * b)};
        total.Add(m);
        bins[0][RedOf(c)].Add(m);
        bins[1][GreenOf(c)].Add(m);
        bins[2][BlueOf(c)].Add(m);
    }
    const auto round = [&](double sum) {
        return static_cast<std::uint32_t>(std::clamp(static_cast<int>(sum / total.N + 0.5), 0, 255));
    };
    box.Mean = (round(total.R) << 16) | (round(total.G) << 8) | round(total.B);
    const double error = total.Error();
    box.Gain = 0;
    box.Cut = -1;
    for (int a = 0; a < 3; ++a) {
        TMoments low;
        for (int v = 0; v < 255; ++v) {
            low.Add(bins[a][v]);
            if (low.N == 0) continue;
            if (low.N == total.N) break;
            const TMoments high{total.N - low.N, total.R - low.R, total.G - low.G, total.B - low.B,
                                total.Q - low.Q};
            const double gain = error - low.Error() - high.Error();
            if (gain > box.Gain) {
                box.Gain = gain;
                box.Axis = a;
                box.Cut = v;
            }
        }
    }
}

// Splits a box as Measure chose.
void Split(std::vector<TColourCount>& colours, const TBox& box, TBox& low, TBox& high) {
    // Stable so that the order of the list, and so the result, never depends
    // on the partition's implementation.
    const auto mid = std::stable_partition(
        colours.begin() + static_cast<std::ptrdiff_t>(box.First),
        colours.begin() + static_cast<std::ptrdiff_t>(box.Last),
        [&](const TColourCount& c) { return Component(c.Colour, box.Axis) <= box.Cut; });
    const auto m = static_cast<std::size_t>(mid - colours.begin());
    low.First = box.First;
    low.Last = m;
    high.First = m;
    high.Last = box.Last;
}

// Up to `wanted` colours for the picture: its own colours when it has no more,
// else the means of the boxes of a median cut that always makes the split
// lowering the squared error most (the cut of a box is placed where the two
// halves' error is least, not at the median).
std::vector<std::uint32_t> ChooseColours(std::vector<TColourCount> colours, std::size_t wanted) {
    std::vector<std::uint32_t> chosen;
    if (colours.size() <= wanted) {
        for (const TColourCount& c : colours) chosen.push_back(c.Colour);
        return chosen;
    }
    std::vector<TBox> boxes;
    boxes.reserve(wanted);
    TBox all;
    all.First = 0;
    all.Last = colours.size();
    Measure(colours, all);
    boxes.push_back(all);
    // Largest gain first; equal gains by creation order (determinism).
    const auto less = [&boxes](std::size_t a, std::size_t b) {
        if (boxes[a].Gain != boxes[b].Gain) return boxes[a].Gain < boxes[b].Gain;
        return a > b;
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(less)> queue(less);
    queue.push(0);
    while (boxes.size() < wanted && !queue.empty()) {
        const std::size_t i = queue.top();
        queue.pop();
        if (boxes[i].Cut < 0) break;  // no box left that two colours would serve better
        TBox low, high;
        Split(colours, boxes[i], low, high);
        Measure(colours, low);
        Measure(colours, high);
        boxes[i] = low;
        boxes.push_back(high);
        queue.push(i);
        queue.push(boxes.size() - 1);
    }
    for (const TBox& b : boxes) chosen.push_back(b.Mean);
    return chosen;
}

// Nearest palette entry by Euclidean distance in RGB (the lowest index of
// equally near ones). The entries are searched in order of green, outwards
// from the colour's green, stopping once green alone is farther than the best.
class TNearest {
public:
    explicit TNearest(const std::vector<TRgbQuad>& palette) {
        for (int i = 0; i < static_cast<int>(palette.size()); ++i) {
            entries_.push_back({palette[i].Red, palette[i].Green, palette[i].Blue, i});
        }
        std::stable_sort(entries_.begin(), entries_.end(),
                         [](const TEntry& a, const TEntry& b) { return a.G < b.G; });
        // First entry whose green is >= g, for every g.
        std::size_t k = 0;
        for (int g = 0; g < 256; ++g) {
            while (k < entries_.size() && entries_[k].G < g) ++k;
            start_[g] = static_cast<int>(k);
        }
    }

    std::uint8_t Find(std::uint32_t colour) const {
        const int r = RedOf(colour);
        const int g = GreenOf(colour);
        const int b = BlueOf(colour);
        int best = 1 << 30;
        int bestIndex = 0;
        const auto consider = [&](const TEntry& e) {
            const int dr = e.R - r, dg = e.G - g, db = e.B - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < best || (d == best && e.Index < bestIndex)) {
                best = d;
                bestIndex = e.Index;
            }
        };
        const int n = static_cast<int>(entries_.size());
        int up = start_[g];
        int down = up - 1;
        while (up < n || down >= 0) {
            if (up < n) {
                const int dg = entries_[up].G - g;
                if (dg * dg > best) {
                    up = n;
                } else {
                    consider(entries_[up++]);
                }
            }
            if (down >= 0) {
                const int dg = g - entries_[down].G;
                if (dg * dg > best) {
                    down = -1;
                } else {
                    consider(entries_[down--]);
                }
            }
        }
        return static_cast<std::uint8_t>(bestIndex);
    }

private:
    struct TEntry {
        int R, G, B, Index;
    };
    std::vector<TEntry> entries_;
    int start_[256] = {};
};

}  // namespace

std::array<TRgbQuad, 20> StaticColours() { return SystemStatic; }

TBitmap QuantizeForGif(const QImage& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        throw EInvalidGraphic("Cannot reduce an empty picture to 256 colours");
    }
    CheckPictureSize(image.width(), image.height(), "GIF");
    const int width = image.width();
    const int height = image.height();
    std::vector<std::uint32_t> pixels = OpaquePixels(image);

    std::vector<std::uint32_t> dense;
    std::vector<TColourCount> colours = Histogram(pixels, dense);
    // Pixels of a static colour are exact already: the free entries go to the rest.
    std::vector<TColourCount> others;
    others.reserve(colours.size());
    for (const TColourCount& c : colours) {
        if (!IsStatic(c.Colour)) others.push_back(c);
    }
    const std::vector<std::uint32_t> chosen = ChooseColours(std::move(others), FreeCount);

    TBitmap bitmap(width, height, 8);
    for (int i = 0; i < StaticLow; ++i) bitmap.Palette[static_cast<std::size_t>(i)] = SystemStatic[static_cast<std::size_t>(i)];
    for (int i = StaticLow; i < 20; ++i) {
        bitmap.Palette[static_cast<std::size_t>(PaletteSize - 20 + i)] = SystemStatic[static_cast<std::size_t>(i)];
    }
    // Unused free entries stay black, like entry 0.
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const std::uint32_t c = chosen[i];
        bitmap.Palette[FreeFirst + i] = TRgbQuad{static_cast<std::uint8_t>(BlueOf(c)),
                                                 static_cast<std::uint8_t>(GreenOf(c)),
                                                 static_cast<std::uint8_t>(RedOf(c)), 0};
    }

    // Every distinct colour's entry, then every pixel's.
    const TNearest nearest(bitmap.Palette);
    if (!dense.empty()) {
        for (const TColourCount& c : colours) dense[c.Colour] = nearest.Find(c.Colour);
        const std::uint32_t* p = pixels.data();
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = bitmap.Row(y);
            for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(dense[*p++]);
        }
    } else {
        // The histogram is sorted by colour: look each pixel up in it.
        std::vector<std::uint8_t> index(colours.size());
        for (std::size_t i = 0; i < colours.size(); ++i) {
            index[i] = nearest.Find(colours[i].Colour);
        }
        const std::uint32_t* p = pixels.data();
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = bitmap.Row(y);
            for (int x = 0; x < width; ++x, ++p) {
                const auto it = std::lower_bound(colours.begin(), colours.end(), *p,
                                                 [](const TColourCount& c, std::uint32_t v) { return c.Colour < v; });
                row[x] = index[static_cast<std::size_t>(it - colours.begin())];
            }
        }
    }
    return bitmap;
}

}  // namespace pixhold::imaging
