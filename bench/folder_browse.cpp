// Browsing a folder whose thumbnails are all in the cache table: the whole
// folder-mode rebuild of the main list (directory walk, cache look-ups,
// decoding, list entries) against decoding the same cached thumbnails alone,
// in the same run.
//
//   bench_folder_browse [folder] [files]
//
// The folder gets `files` (default 2,000) small JPEG files; a first browse
// fills the cache ("Thumbs.dat"); the timed browses find every file there and
// open none (the count of files read is printed).

#include "BenchFolder.h"
#include "BenchPictures.h"
#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "ImageHelper.h"
#include "ImageList.h"
#include "ImageListFill.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "WorkerPool.h"
#include "fDM.h"

#include <QImage>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace pixhold;
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

namespace {

double Ms(TClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Processor time of the calling thread, in ms.
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path base = bench::BenchFolder(argc, argv, "pixhold-browse-");
    const int files = argc > 2 ? std::atoi(argv[2]) : 2000;
    const fs::path pictures = base / "camera";
    fs::create_directories(pictures);
    for (int i = 0; i < files; ++i) {
        QImage image(320, 240, QImage::Format_RGB32);
        image.fill(qRgb(i % 256, (i * 7) % 256, (i * 13) % 256));
        imaging::WritePictureFile((pictures / ("DSC" + std::to_string(10000 + i) + ".jpg")).string(),
                                  imaging::EncodeJpeg(image, 90));
    }
    store::TConfig config((base / "program").string());
    config.DataFolder = (base / "data").string() + "/";

    bench::TQuietHost host;
    imaging::TWorkerPool pool;
    store::TDM dm(config, host);
    dm.DataModuleCreate();  // opening the table leaves folder mode: browse from here
    config.BrowseMode = true;
    config.LastBrowseDir = pictures.string() + "/";
    store::TImageListFill fill(dm, pool);
    imaging::TPH ph;
    imaging::TImageList list;
    ph.SetFillSource([&fill](imaging::TPH& helper, imaging::TImageList& images) { fill.Fill(helper, images); });

    const auto first = TClock::now();
    ph.FillImageList(list);
    std::printf("first browse (makes the cache): %.0f ms, %d files read\n", Ms(TClock::now() - first),
                fill.FilesRead());

    // The cached thumbnails, read once, for the decode-only side.
    std::vector<imaging::TByteVector> cached;
    for (dm.tblThumbs.First(); !dm.tblThumbs.Eof(); dm.tblThumbs.Next()) {
        cached.push_back(dm.tblThumbs.CreateBlobStream(dm.tblThumbs.FieldByName("Thumb"),
                                                       engine::TBlobStreamMode::bmRead)->ReadAll());
    }
    std::vector<double> browse, decode, busy;
    const int readBefore = fill.FilesRead();
    for (int r = 0; r < 5; ++r) {
        const auto start = TClock::now();
        const double cpu = ThreadCpuMs();
        ph.FillImageList(list);
        busy.push_back(ThreadCpuMs() - cpu);
        browse.push_back(Ms(TClock::now() - start));
        const auto d = TClock::now();
        std::size_t pixels = 0;
        for (const auto& jpeg : cached) pixels += static_cast<std::size_t>(imaging::DecodeJpeg(jpeg).width());
        decode.push_back(Ms(TClock::now() - d));
        if (pixels == 0) std::printf("nothing decoded\n");
    }
    const double b = Median(browse), d = Median(decode);
    std::printf("%d cached files: browse %.0f ms, decoding the %zu cached thumbnails alone %.0f ms, "
                "browse / decode = %.2f; files read in the cached browses: %d\n",
                files, b, cached.size(), d, b / d, fill.FilesRead() - readBefore);
    std::printf("the user-interface thread's processor time in a cached browse: %.0f ms (%.1f us a file)\n",
                Median(busy), Median(busy) * 1000.0 / files);
    if (argc <= 1) fs::remove_all(base);
    return 0;
}
