#pragma once

// Photo-like pictures and a quiet data-module host for the benchmarks.

#include "DataModuleHost.h"
#include "ExifFixture.h"
#include "JpegCodec.h"
#include "PictureFile.h"

#include <QImage>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace pixhold::bench {

// Smooth gradients with fine noise: compresses and decodes like a photo.
inline QImage PhotoLike(int w, int h, unsigned seed) {
    QImage image(w, h, QImage::Format_RGB32);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = noise(random);
            row[x] = qRgb(std::clamp(x * 255 / w + n, 0, 255), std::clamp(y * 255 / h + n, 0, 255),
                          std::clamp(((x + y + static_cast<int>(seed) * 50) / 16) % 256 + n, 0, 255));
        }
    }
    return image;
}

// The JPEG files of a folder, sorted; when it has none, `files` 4000 x 3000
// photo-like pictures at quality 90 are made there first (all of them from
// a few distinct pictures, which is what the encoder's time allows). With
// `exifThumbnails` each file carries an Exif segment with a 160 x 120
// thumbnail of itself, as camera files do.
inline std::vector<std::string> CameraFiles(const std::filesystem::path& folder, int files,
                                            bool exifThumbnails = false) {
    std::vector<std::string> paths;
    std::filesystem::create_directories(folder);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".jpg") paths.push_back(entry.path().string());
    }
    if (!paths.empty()) {
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    std::vector<imaging::TByteVector> distinct;
    for (int i = 0; i < std::min(files, 8); ++i) {
        const QImage photo = PhotoLike(4000, 3000, static_cast<unsigned>(i));
        imaging::TByteVector file = imaging::EncodeJpeg(photo, 90);
        if (exifThumbnails) {
            const QImage small = photo.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            file = test::WithApp1(file, test::ExifWithThumbnail(false, 1, imaging::EncodeJpeg(small, 75)));
        }
        distinct.push_back(std::move(file));
    }
    for (int i = 0; i < files; ++i) {
        const std::string path = (folder / ("IMG_" + std::to_string(1000 + i) + ".jpg")).string();
        imaging::WritePictureFile(path, distinct[static_cast<std::size_t>(i) % distinct.size()]);
        paths.push_back(path);
    }
    return paths;
}

// `vipsthumbnail -s 71x71` (quality 50, one thread each) over the files in two
// processes, half the files each; the seconds it took.
inline double RunVipsThumbnail(const std::vector<std::string>& paths, const std::filesystem::path& out) {
    std::filesystem::create_directories(out);
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (std::size_t part = 0; part < 2; ++part) {
        std::vector<std::string> args = {"vipsthumbnail", "-s", "71x71", "-o", (out / "%s_t.jpg[Q=50]").string()};
        for (std::size_t i = part; i < paths.size(); i += 2) args.push_back(paths[i]);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("VIPS_CONCURRENCY", "1", 1);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        children.push_back(pid);
    }
    bool ok = true;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!ok) std::printf("vipsthumbnail failed (is libvips-tools installed?)\n");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A host that answers nothing and shows what the module would show on stderr.
class TQuietHost : public store::IDataModuleHost {
public:
    void ShowMessage(const QString&, const QString& text, store::TBoxIcon) override {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    }
    bool AskYesNo(const QString&, const QString& text, store::TBoxIcon) override {
        std::fprintf(stderr, "question: %s\n", text.toUtf8().constData());
        return false;
    }
    store::TReplaceAnswer AskReplace(const QString&) override { return store::TReplaceAnswer::No; }
    std::optional<QString> AskPassword() override { return std::nullopt; }
    std::optional<QString> ChooseFolder(const QString&) override { return std::nullopt; }
    void BeginBusy() override {}
    void EndBusy() override {}
    void ProcessMessages() override {}
    void RefreshImageList() override {}
    void FillCategorySelector() override {}
    void ApplyViewStyle() override {}
    void SetStatusText(const QString&) override {}
    void CloseMainWindow() override {}
};

}  // namespace pixhold::bench
