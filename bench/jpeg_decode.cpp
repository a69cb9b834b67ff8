// Full-size decoding of a 12-megapixel JPEG with DecodeJpeg, next to libjpeg's
// own command-line decoder djpeg on the same file in the same run.
//
//   bench_jpeg_decode [file.jpg] [repetitions]
//
// Without a file (or with an empty argument) a photo-like 4000 x 3000 picture
// (smooth colour fields with fine noise, so that the scans are as busy as a
// camera's) is made and encoded at quality 90 with EncodeJpeg into a file
// under $TMPDIR (or /tmp). Repetitions default to 21; the sides take turns.
//
// What is timed, so that both sides do the same work: ours reads the file
// into memory and decodes it to a 32-bit QImage (DecodeJpeg, default
// settings). djpeg is started as `djpeg -outfile /dev/null FILE`: it reads the
// file, decodes it to RGB and writes a PPM to /dev/null (which costs only the
// write calls); its figure is the whole process, from spawning it to its exit.
// The start-up of djpeg alone (the same command on an 8 x 8 picture) is printed
// too, so that the ratio can be read with and without it.

#include "GraphicError.h"
#include "JpegCodec.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace pixhold::imaging;

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "failed: %s\n", what.c_str());
    std::exit(1);
}

TByteVector ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    TByteVector bytes(in ? static_cast<std::size_t>(fs::file_size(path)) : 0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) Fail("cannot read " + path.string());
    return bytes;
}

void WriteFile(const fs::path& path, const TByteVector& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail("cannot write " + path.string());
}

// Smooth fields of colour with a little noise on every pixel.
QImage PhotoLike(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    std::minstd_rand noise(12345);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = static_cast<int>(noise() % 17) - 8;
            const int r = (x * 255 / width + y / 40 % 2 * 30 + n);
            const int g = ((x + y) * 255 / (width + height) + (x / 97 + y / 131) % 3 * 25 + n);
            const int b = (255 - y * 255 / height + n);
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return image;
}

// Wall-clock time and processor time (user + system) of one run.
struct TTimes {
    double Wall = 0;
    double Cpu = 0;
};

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

template <typename F>
TTimes TimeOurs(F&& fn) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    fn();
    const auto end = std::chrono::steady_clock::now();
    getrusage(RUSAGE_SELF, &after);
    return {std::chrono::duration<double>(end - start).count(), CpuSeconds(after) - CpuSeconds(before)};
}

// Runs djpeg on the file; its processor time comes from wait4.
TTimes RunDjpeg(const fs::path& file) {
    const std::string path = file.string();
    const char* args[] = {"djpeg", "-outfile", "/dev/null", path.c_str(), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "djpeg", nullptr, nullptr, const_cast<char* const*>(args), environ) != 0) {
        Fail("cannot start djpeg (Debian package libjpeg-turbo-progs)");
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Fail("djpeg failed on " + path);
    }
    const auto end = std::chrono::steady_clock::now();
    return {std::chrono::duration<double>(end - start).count(), CpuSeconds(usage)};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    const char* tmpEnv = std::getenv("TMPDIR");
    const fs::path tmp = tmpEnv != nullptr && *tmpEnv != '\0' ? tmpEnv : "/tmp";
    const std::string tag = std::to_string(getpid());
    std::vector<fs::path> made;

    fs::path file;
    if (argc > 1 && argv[1][0] != '\0') {
        file = argv[1];
    } else {
        file = tmp / ("bench_jpeg_decode_" + tag + ".jpg");
        WriteFile(file, EncodeJpeg(PhotoLike(4000, 3000), 90));
        made.push_back(file);
    }
    const fs::path tiny = tmp / ("bench_jpeg_decode_" + tag + "_8x8.jpg");
    WriteFile(tiny, EncodeJpeg(PhotoLike(8, 8), 90));
    made.push_back(tiny);

    const TJpegInfo info = ReadJpegInfo(ReadFile(file));
    std::printf("%s: %d x %d, %d components%s, %ju bytes; %d repetitions\n", file.string().c_str(),
                info.Width, info.Height, info.Components, info.Progressive ? ", progressive" : "",
                static_cast<std::uintmax_t>(fs::file_size(file)), repetitions);

    // One of each first, so that the file is in the page cache and djpeg's
    // program and libraries are loaded.
    (void)RunDjpeg(file);
    (void)DecodeJpeg(ReadFile(file));

    std::vector<TTimes> ours, djpeg, startup;
    for (int i = 0; i < repetitions; ++i) {
        const auto runOurs = [&] {
            ours.push_back(TimeOurs([&] {
                const QImage image = DecodeJpeg(ReadFile(file));
                if (image.width() != info.Width) Fail("wrong width");
            }));
        };
        const auto runDjpeg = [&] { djpeg.push_back(RunDjpeg(file)); };
        if (i % 2) {
            runOurs(), runDjpeg();
        } else {
            runDjpeg(), runOurs();
        }
        startup.push_back(RunDjpeg(tiny));
    }
    for (const fs::path& p : made) fs::remove(p);

    const auto median = [](const std::vector<TTimes>& runs, double TTimes::*field) {
        std::vector<double> values;
        for (const TTimes& t : runs) values.push_back(t.*field);
        return Median(values);
    };
    std::printf("%-40s %14s %14s\n", "median of the runs", "wall ms", "cpu ms");
    const auto line = [&](const char* name, const std::vector<TTimes>& runs) {
        std::printf("%-40s %14.1f %14.1f\n", name, median(runs, &TTimes::Wall) * 1e3,
                    median(runs, &TTimes::Cpu) * 1e3);
    };
    line("DecodeJpeg (read + decode to QImage)", ours);
    line("djpeg -outfile /dev/null (whole run)", djpeg);
    line("djpeg start-up (8 x 8 picture)", startup);
    for (const auto field : {&TTimes::Wall, &TTimes::Cpu}) {
        const double o = median(ours, field), d = median(djpeg, field), s = median(startup, field);
        std::printf("ratio ours / djpeg, %s time: %.3f (%.3f with djpeg's start-up taken off)\n",
                    field == &TTimes::Wall ? "wall" : "cpu", o / d, o / (d - s));
    }
    return 0;
}
