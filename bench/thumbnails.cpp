// Thumbnails of camera-sized JPEGs: the program's thumbnail pipeline (read
// the file, DCT-scaled decode, area downscale into the 71 x 71 square, JPEG
// at quality 50) on two worker threads, against `vipsthumbnail -s 71x71` on
// the same files in two processes (one thread each), in the same run.
//
//   bench_thumbnails [folder] [files] [repeats]
//
// The folder gets `files` (default 24) pictures of 4000 x 3000 made at run
// time (smooth gradients with fine noise, quality 90, about 3 MB each)
// unless it already holds JPEG files, which are then used as they are.
// Prints the median over the repeats (default 3) of both and the ratio.

#include "BenchFolder.h"
#include "BenchPictures.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "Thumbnail.h"
#include "WorkerPool.h"

#include <QImage>


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace pixhold;
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

namespace {

double Seconds(TClock::duration d) { return std::chrono::duration<double>(d).count(); }



double Ours(const std::vector<std::string>& paths) {
    imaging::TWorkerPool pool(2);
    const auto start = TClock::now();
    std::vector<std::future<std::size_t>> results;
    for (const std::string& path : paths) {
        results.push_back(pool.Submit([path] {
            return imaging::RecordThumbnailJpeg(imaging::ReadPictureFile(path), path).size();
        }));
    }
    std::size_t bytes = 0;
    for (auto& r : results) bytes += r.get();
    const double seconds = Seconds(TClock::now() - start);
    if (bytes == 0) std::printf("no thumbnails made\n");
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = bench::BenchFolder(argc, argv, "pixhold-thumbs-");
    const int files = argc > 2 ? std::atoi(argv[2]) : 24;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::vector<std::string> paths = bench::CameraFiles(folder / "in", files);
    std::vector<double> ours, vips;
    for (int r = 0; r < repeats; ++r) {
        // Alternate who goes first, so the page cache favours neither.
        if (r % 2 == 0) {
            ours.push_back(Ours(paths));
            vips.push_back(bench::RunVipsThumbnail(paths, folder / "vips"));
        } else {
            vips.push_back(bench::RunVipsThumbnail(paths, folder / "vips"));
            ours.push_back(Ours(paths));
        }
    }
    const double o = Median(ours), v = Median(vips);
    std::printf("%zu pictures: ours (2 threads) %.2f s (%.1f ms each), vipsthumbnail (2 processes) %.2f s "
                "(%.1f ms each), ours / vips = %.2f\n",
                paths.size(), o, 1000 * o / paths.size(), v, 1000 * v / paths.size(), o / v);
    if (argc <= 1) fs::remove_all(folder);
    return 0;
}
