// Writing a photo as a GIF: EncodeGif (the program's palette rule, no
// dithering) against ImageMagick's `convert IN.png -colors 256 +dither OUT.gif`
// on the same picture in the same run.
//
//   bench_gif_encode [picture] [repetitions]
//
// Without a picture (or with an empty argument) a 4000 x 3000 photo-like one
// is made: smooth gradients, soft shapes and noise. ImageMagick reads it from
// a PNG file (its time includes reading that file and starting the program;
// how long that alone takes is printed too, as is the CPU time of our colour
// reduction alone, measured apart from the timed runs). Each figure is the median of the
// repetitions (default 5), as wall-clock time and as CPU time (ImageMagick may
// use both cores, and the machine may be busy). The error columns are the
// root-mean-square distance per pixel of each GIF from the picture, both read
// back by our decoder.

#include "GifCodec.h"
#include "GifQuantizer.h"
#include "GraphicError.h"

#include <QImage>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "BenchFolder.h"

namespace fs = std::filesystem;
using namespace pixhold::imaging;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU seconds of this thread, and of the finished child processes: with other
// work on the machine these move less than the wall-clock times.
double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double ChildrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QImage PhotoLike(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(20261210);
    std::normal_distribution<double> grain(0.0, 6.0);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            // A sky-like gradient, a warm soft disc and a darker rolling ground.
            double r = 90 + 120 * v, g = 140 + 60 * v - 40 * u, b = 230 - 120 * v;
            const double dx = u - 0.65, dy = v - 0.3;
            const double disc = std::exp(-(dx * dx + dy * dy) * 40);
            r += 120 * disc;
            g += 70 * disc;
            b -= 60 * disc;
            if (v > 0.6 + 0.08 * std::sin(u * 12)) {
                r = 60 + 50 * u + 30 * std::sin(u * 40 + v * 25);
                g = 100 + 40 * v + 25 * std::cos(u * 31);
                b = 40 + 20 * u;
            }
            const auto c = [&](double value) {
                return std::clamp(static_cast<int>(value + grain(random)), 0, 255);
            };
            row[x] = qRgb(c(r), c(g), c(b));
        }
    }
    return image;
}

std::size_t DistinctColours(const QImage& image) {
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    std::vector<bool> seen(std::size_t{1} << 24);
    std::size_t count = 0;
    for (int y = 0; y < src.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < src.width(); ++x) {
            const std::size_t c = p[x] & 0xFFFFFFu;
            if (!seen[c]) {
                seen[c] = true;
                ++count;
            }
        }
    }
    return count;
}

double RmsError(const QImage& original, const TByteVector& gif) {
    const TGifAnimation a = DecodeGif(gif);
    const QImage& decoded = a.Frames.at(0).Image;
    const QImage src = original.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < src.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(decoded.constScanLine(y));
        for (int x = 0; x < src.width(); ++x) {
            const double dr = qRed(p[x]) - qRed(q[x]), dg = qGreen(p[x]) - qGreen(q[x]),
                         db = qBlue(p[x]) - qBlue(q[x]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    return std::sqrt(sum / (double(src.width()) * src.height()));
}

TByteVector ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return TByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string picture = argc > 1 ? argv[1] : "";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    // The real ImageMagick program, not a wrapper found earlier on the PATH.
    const std::string convert = fs::exists("/usr/bin/convert") ? "/usr/bin/convert" : "convert";

    const fs::path folder = pixhold::bench::BenchFolder(0, argv, "pixhold_gif_");
    fs::create_directories(folder);
    const fs::path png = folder / "in.png";
    const fs::path imGif = folder / "im.gif";

    QImage image;
    if (picture.empty()) {
        image = PhotoLike(4000, 3000);
    } else {
        image = QImage(QString::fromStdString(picture));
        if (image.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", picture.c_str());
            return 1;
        }
    }
    if (!image.save(QString::fromStdString(png.string()), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", png.string().c_str());
        return 1;
    }
    std::printf("picture: %s, %d x %d, %zu distinct colours; %d repetitions\n",
                picture.empty() ? "made at run time" : picture.c_str(), image.width(), image.height(),
                DistinctColours(image), repetitions);

    std::vector<double> ours, theirs, theirReadOnly, oursCpu, theirsCpu, theirReadOnlyCpu, quantiseCpu;
    TByteVector ourGif;
    const std::string imCommand = convert + " '" + png.string() + "' -colors 256 +dither '" + imGif.string() + "'";
    const std::string readCommand = convert + " '" + png.string() + "' null:";
    for (int i = 0; i < repetitions; ++i) {
        // Alternate the order so that neither side always runs on a warm cache.
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == (i % 2 == 0)) {
                const auto start = Clock::now();
                const double cpu = ThreadCpu();
                ourGif = EncodeGif(image);
                ours.push_back(Seconds(start));
                oursCpu.push_back(ThreadCpu() - cpu);
                const double quantiseStart = ThreadCpu();
                const TBitmap reduced = QuantizeForGif(image);
                quantiseCpu.push_back(ThreadCpu() - quantiseStart);
            } else {
                auto start = Clock::now();
                double cpu = ChildrenCpu();
                if (Run(imCommand) != 0) {
                    std::fprintf(stderr, "ImageMagick failed: %s\n", imCommand.c_str());
                    return 1;
                }
                theirs.push_back(Seconds(start));
                theirsCpu.push_back(ChildrenCpu() - cpu);
                start = Clock::now();
                cpu = ChildrenCpu();
                Run(readCommand);
                theirReadOnly.push_back(Seconds(start));
                theirReadOnlyCpu.push_back(ChildrenCpu() - cpu);
            }
        }
    }
    const TByteVector imBytes = ReadFile(imGif);
    const double oursMedian = Median(ours);
    const double theirsMedian = Median(theirs);
    std::printf("%-34s %10s %10s %12s %10s\n", "", "median s", "CPU s", "bytes", "RMS error");
    std::printf("%-34s %10.3f %10.3f %12zu %10.2f\n", "EncodeGif", oursMedian, Median(oursCpu), ourGif.size(),
                RmsError(image, ourGif));
    std::printf("%-34s %10s %10.3f\n", "  of which QuantizeForGif", "", Median(quantiseCpu));
    std::printf("%-34s %10.3f %10.3f %12zu %10.2f\n", "convert -colors 256 +dither", theirsMedian,
                Median(theirsCpu), imBytes.size(), RmsError(image, imBytes));
    std::printf("%-34s %10.3f %10.3f\n", "  of which convert reading the PNG", Median(theirReadOnly),
                Median(theirReadOnlyCpu));
    std::printf("ratio EncodeGif / ImageMagick: %.2f (CPU time %.2f)\n", oursMedian / theirsMedian,
                Median(oursCpu) / Median(theirsCpu));
    fs::remove_all(folder);
    return 0;
}
