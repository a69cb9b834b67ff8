// The main list of a large image table: how soon its first screen shows and
// how long the whole refresh takes, and the program's resident memory then.
//
//   bench_list_fill [folder] [records...]
//
// For each record count (default 10,000 and 100,000) a fresh data folder gets
// an image table of that many records, each with a real 71 x 71 thumbnail
// (JPEG quality 50, about 2 KB) and a small Image value. The table is then
// opened as the program opens it (OpenImageTable, which rebuilds the list);
// "first screen" is the time from the open until the first 60 list pictures
// (a screen of the icon view) are decoded, "refresh" the time of the rebuild
// alone. Resident memory is read from /proc/self/status after the first
// screen and again after every picture of the list has been shown once.

#include "BenchFolder.h"
#include "BenchPictures.h"
#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "ImageHelper.h"
#include "ImageList.h"
#include "ImageListFill.h"
#include "JpegCodec.h"
#include "Thumbnail.h"
#include "WorkerPool.h"
#include "fDM.h"

#include <QImage>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

using namespace pixhold;
namespace fs = std::filesystem;

namespace {

using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// A host that rebuilds the list when the module asks.
class TBenchHost final : public bench::TQuietHost {
public:
    imaging::TPH* Ph = nullptr;
    imaging::TImageList* List = nullptr;
    double RefreshMs = 0;
    void RefreshImageList() override {
        if (Ph == nullptr) return;
        const auto start = TClock::now();
        Ph->FillImageList(*List);
        RefreshMs = Ms(TClock::now() - start);
    }
};

QImage ThumbPicture(int i) {
    QImage image(imaging::ThumbSize, imaging::ThumbSize, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            row[x] = qRgb((x * 3 + i) & 255, (y * 3 + i * 7) & 255, ((x ^ y) + i * 13) & 255);
        }
    }
    return image;
}

void Run(const fs::path& base, int records) {
    const fs::path folder = base / ("list" + std::to_string(records));
    fs::create_directories(folder);
    store::TConfig config((folder / "program").string());
    config.DataFolder = (folder / "data").string() + "/";
    TBenchHost host;
    imaging::TWorkerPool pool;
    imaging::TPH ph;
    imaging::TImageList list;
    {
        store::TDM dm(config, host);
        dm.DataModuleCreate();
        std::vector<imaging::TByteVector> thumbs;
        for (int i = 0; i < 64; ++i) thumbs.push_back(imaging::EncodeJpeg(ThumbPicture(i), imaging::RecordThumbQuality));
        const std::vector<std::uint8_t> image(1024, 7);
        const auto start = TClock::now();
        for (int i = 0; i < records; ++i) {
            engine::TCofferTable& t = dm.tblData;
            t.Append();
            t.FieldByName("FileName").SetAsString("IMG_" + std::to_string(100000 + i) + ".jpg");
            t.FieldByName("Category").SetAsString("");  // the view a table opens with
            t.FieldByName("Type").SetAsInteger(0);
            t.CreateBlobStream(t.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(thumbs[i % 64]);
            t.CreateBlobStream(t.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll(image);
            t.Post();
        }
        dm.tblData.FlushBuffers();
        std::printf("%d records: table made in %.1f s\n", records, Ms(TClock::now() - start) / 1000);
    }
    const long before = ResidentKb();
    store::TDM dm(config, host);
    store::TImageListFill fill(dm, pool);
    ph.SetFillSource([&fill](imaging::TPH& helper, imaging::TImageList& images) { fill.Fill(helper, images); });
    host.Ph = &ph;
    host.List = &list;
    list.SetPlaceholder(ThumbPicture(0));
    const auto start = TClock::now();
    dm.DataModuleCreate();  // opens the current table, which rebuilds the list
    for (std::size_t i = 0; i < std::min<std::size_t>(60, list.Count()); ++i) list.Picture(i);
    const double firstScreen = Ms(TClock::now() - start);
    const long afterScreen = ResidentKb();
    const auto scroll = TClock::now();
    for (std::size_t i = 0; i < list.Count(); ++i) list.Picture(i);
    const double all = Ms(TClock::now() - scroll);
    const long afterAll = ResidentKb();
    std::printf("%d records: %zu entries; first screen %.0f ms (open and rebuild %.0f ms); "
                "every picture shown once %.0f ms\n",
                records, list.Count(), firstScreen, host.RefreshMs, all);
    std::printf("%d records: resident memory %ld MB before the open, %ld MB after the first screen, "
                "%ld MB after every picture was shown (%zu decoded pictures kept)\n",
                records, before / 1024, afterScreen / 1024, afterAll / 1024, list.CachedCount());
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path base = bench::BenchFolder(argc, argv, "pixhold-list-");
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {10000, 100000};
    for (int records : counts) Run(base, records);
    if (argc <= 1) fs::remove_all(base);
    return 0;
}
