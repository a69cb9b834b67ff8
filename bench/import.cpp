// Importing a folder of camera-sized JPEGs into an image table (the
// program's folder import with its worker threads: file read, DCT-scaled
// thumbnail, records stored in folder order) against `vipsthumbnail -s 71x71`
// making the same files' thumbnails in two processes, in the same run.
//
//   bench_import [folder] [files] [repeats]
//
// Files default to 200 pictures of 4000 x 3000 (about 3 MB each) made at run
// time in folder/in unless that folder holds JPEG files already; repeats to 3.

#include "BenchFolder.h"
#include "BenchPictures.h"
#include "Config.h"
#include "WorkerPool.h"
#include "fDM.h"


#include <chrono>

using namespace pixhold;
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

namespace {

double Seconds(TClock::duration d) { return std::chrono::duration<double>(d).count(); }

double Import(const fs::path& in, const fs::path& base, int round) {
    const fs::path folder = base / ("data" + std::to_string(round));
    fs::remove_all(folder);
    store::TConfig config((base / "program").string());
    config.DataFolder = folder.string() + "/";
    bench::TQuietHost host;
    imaging::TWorkerPool pool;
    store::TDM dm(config, host);
    dm.DataModuleCreate();
    dm.SetWorkers(&pool);
    config.LastImportDir = in.string();
    const auto start = TClock::now();
    dm.ImportFolder(in.string() + "/", "");
    dm.tblData.FlushBuffers();
    const double seconds = Seconds(TClock::now() - start);
    fs::remove_all(folder);
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path base = bench::BenchFolder(argc, argv, "pixhold-import-");
    const int files = argc > 2 ? std::atoi(argv[2]) : 200;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::vector<std::string> paths = bench::CameraFiles(base / "in", files);
    std::vector<double> ours, vips;
    for (int r = 0; r < repeats; ++r) {
        if (r % 2 == 0) {
            ours.push_back(Import(base / "in", base, r));
            vips.push_back(bench::RunVipsThumbnail(paths, base / "vips"));
        } else {
            vips.push_back(bench::RunVipsThumbnail(paths, base / "vips"));
            ours.push_back(Import(base / "in", base, r));
        }
    }
    const double o = Median(ours), v = Median(vips);
    std::printf("%zu pictures: import %.2f s (%.1f ms each), vipsthumbnail (2 processes) %.2f s, "
                "import / vips = %.2f\n",
                paths.size(), o, 1000 * o / paths.size(), v, o / v);
    if (argc <= 1) fs::remove_all(base);
    return 0;
}
