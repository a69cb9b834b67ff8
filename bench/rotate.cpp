// Quarter turn of a 4000 x 3000 24-bit bitmap (RotateBitmap), next to a plain
// memcpy of its pixel array into a new buffer (the least any rotation into a
// new buffer must do) and, for information, the same memcpy into a buffer
// offered huge pages as RotateBitmap offers its target, and a naive per-pixel
// rotation that walks the target row by row without blocking.
//
//   bench_rotate [repetitions] [width height]
//
// Repetitions default to 15. Each side allocates its target afresh, as
// RotateBitmap does; the sides take turns within each repetition. The program
// prints the best and the median of every side and the ratio of the medians.

#include "Bitmap.h"
#include "bmpRot.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

using namespace pixhold::imaging;

namespace {

double Milliseconds(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The straightforward rotation: every target pixel fetched from its source
// position, target rows in order.
std::vector<std::uint8_t> NaiveRotate(const TBitmap& b) {
    const int w = b.Width;
    const int h = b.Height;
    const std::size_t srcStride = static_cast<std::size_t>(TBitmap::RowSize(w, 24));
    const std::size_t dstStride = static_cast<std::size_t>(TBitmap::RowSize(h, 24));
    std::vector<std::uint8_t> out(dstStride * static_cast<std::size_t>(w));
    for (int r = 0; r < w; ++r) {  // target row r from the bottom holds source column w - 1 - r
        std::uint8_t* d = out.data() + static_cast<std::size_t>(r) * dstStride;
        const std::size_t column = static_cast<std::size_t>(w - 1 - r) * 3;
        for (int i = 0; i < h; ++i, d += 3) {
            const std::uint8_t* s = b.Bits.data() + static_cast<std::size_t>(i) * srcStride + column;
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
    return out;
}

// A new buffer of `size` bytes, untouched, with huge pages asked for.
std::vector<std::uint8_t> HugeBuffer(std::size_t size) {
    std::vector<std::uint8_t> v;
    v.reserve(size);
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(v.data());
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t end = (start + size) & ~(page - 1);
    if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const int width = argc > 3 ? std::atoi(argv[2]) : 4000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 3000;

    TBitmap source(width, height, 24);
    std::mt19937 random(1);
    for (auto& byte : source.Bits) byte = static_cast<std::uint8_t>(random());

    // The rotation is checked once against the naive one before timing.
    {
        TBitmap turned = source;
        RotateBitmap(turned);
        if (turned.Bits != NaiveRotate(source)) {
            std::fprintf(stderr, "RotateBitmap and the naive rotation disagree\n");
            return 1;
        }
    }

    std::vector<double> rotate, copy, hugeCopy, naive;
    volatile std::uint8_t sink = 0;
    for (int rep = 0; rep < repetitions; ++rep) {
        TBitmap work = source;  // copied outside the timing
        rotate.push_back(Milliseconds([&] { RotateBitmap(work); }));
        sink = sink + work.Bits[work.Bits.size() / 2];
        copy.push_back(Milliseconds([&] {
            const std::unique_ptr<std::uint8_t[]> target(new std::uint8_t[source.Bits.size()]);
            std::memcpy(target.get(), source.Bits.data(), source.Bits.size());
            sink = sink + target[source.Bits.size() / 2];
        }));
        hugeCopy.push_back(Milliseconds([&] {
            std::vector<std::uint8_t> target = HugeBuffer(source.Bits.size());
            target.insert(target.end(), source.Bits.begin(), source.Bits.end());  // one memcpy
            sink = sink + target[target.size() / 2];
        }));
        naive.push_back(Milliseconds([&] {
            const std::vector<std::uint8_t> target = NaiveRotate(source);
            sink = sink + target[target.size() / 2];
        }));
    }

    const double mb = static_cast<double>(source.Bits.size()) / 1e6;
    std::printf("%d x %d, 24 bits, %.1f MB of pixels, %d repetitions\n", width, height, mb, repetitions);
    std::printf("%-26s %10s %10s\n", "", "best ms", "median ms");
    const auto line = [](const char* name, const std::vector<double>& v) {
        std::printf("%-26s %10.2f %10.2f\n", name, *std::min_element(v.begin(), v.end()), Median(v));
    };
    line("RotateBitmap", rotate);
    line("memcpy of the pixels", copy);
    line("memcpy, huge pages asked", hugeCopy);
    line("naive per-pixel rotation", naive);
    std::printf("RotateBitmap / memcpy (medians): %.2f\n", Median(rotate) / Median(copy));
    std::printf("RotateBitmap / memcpy with huge pages asked (medians): %.2f\n", Median(rotate) / Median(hugeCopy));
    std::printf("naive / RotateBitmap (medians):  %.2f\n", Median(naive) / Median(rotate));
    return 0;
}
