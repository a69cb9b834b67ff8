// Stepping forward through a folder of 12 MP camera JPEGs in the viewer: the
// time from the key press to the next picture painted on screen, against a
// plain full decode of one such file in the same run.
//
//   bench_viewer_step [folder] [pictures] [dwell ms]
//
// The viewer is driven as a user would: a Space key press (next entry), then
// the window is painted; before each press the viewer is left showing its
// picture for `dwell` milliseconds while events run (someone looking at the
// photo; the neighbours are decoded meanwhile). A dwell of 0 presses the keys
// back to back. The files carry Exif thumbnails, as camera files do. What
// shows first may be a glance (the thumbnail, stretched) or a display-size
// preview of the photo; the benchmark also tells how long the preview (after
// a glance) and the full picture took to replace it.

#include "BenchPictures.h"
#include "Config.h"
#include "ImageHelper.h"
#include "PictureFile.h"
#include "Picture.h"
#include "Prefetch.h"
#include "WorkerPool.h"
#include "fViewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Processor time (user + system) of the whole process or of this thread.
double CpuMs(int who) {
    rusage usage {};
    ::getrusage(who, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    namespace fs = std::filesystem;
    const fs::path folder = argc > 1 && argv[1][0] != '\0' ? fs::path(argv[1]) : fs::temp_directory_path() / "pixhold-bench-camera50-exif";
    const int count = argc > 2 ? std::atoi(argv[2]) : 50;
    const int dwell = argc > 3 ? std::atoi(argv[3]) : 500;
    QApplication app(argc, argv);

    const std::vector<std::string> paths = pixhold::bench::CameraFiles(folder, count, true);
    std::printf("%zu pictures in %s, dwell %d ms\n", paths.size(), folder.string().c_str(), dwell);

    // The peer: a plain full decode of one file (read and decode), best of warm runs.
    std::vector<double> decodes;
    std::vector<double> decodeCpu;
    for (int i = 0; i < 7; ++i) {
        const double start = NowMs();
        const double cpu = CpuMs(RUSAGE_THREAD);
        pixhold::imaging::TPicture picture;
        picture.LoadFromFile(paths[static_cast<std::size_t>(i) % paths.size()]);
        decodes.push_back(NowMs() - start);
        decodeCpu.push_back(CpuMs(RUSAGE_THREAD) - cpu);
    }
    const double decodeMs = Median(decodes);

    pixhold::store::TConfig config((folder / "program").string());
    config.BrowseMode = true;
    config.QuickBrowse = false;
    config.StretchImageToFit = true;
    config.LastBrowseDir = folder.string() + "/";
    pixhold::imaging::TPH ph;
    for (const std::string& path : paths) ph.ImageNames.push_back(QString::fromStdString(fs::path(path).filename().string()));
    ph.ViewerIndex = 0;

    pixhold::imaging::TWorkerPool workers;
    struct THost final : pixhold::viewer::IViewerHost {
        void ShowMessage(const QString& t) override { std::fprintf(stderr, "message: %s\n", qPrintable(t)); }
        void ShowInformation(const QString& t) override { ShowMessage(t); }
        void ShowMessageBox(const QString& t, const QString&) override { ShowMessage(t); }
        bool Confirm(const QString& t) override { ShowMessage(t); return false; }
        void ReportError(std::exception_ptr) override { std::fprintf(stderr, "error\n"); }
        std::optional<pixhold::viewer::TSaveFileChoice> ChooseSaveFile(const QString&, const QString&, int) override { return {}; }
        QString ChooseCategory(bool) override { return pixhold::viewer::CategoryCancelMark; }
        pixhold::viewer::TMoveChoice ChooseMoveTarget() override { return {}; }
        std::optional<QString> ChooseSaveAsName(const QString&) override { return {}; }
        void ShowHelp(int) override {}
        void ShowAbout() override {}
        void RemoveListItem(const QString&) override {}
        void RefreshImageList() override {}
        void ApplyCategoryFilter() override {}
        bool MoveImageToTable(const QString&, const QString&, const QString&) override { return false; }
        void SetImageCategory(const QString&) override {}
    } host;

    auto* viewer = new pixhold::viewer::TfrmViewer(config, ph, nullptr, host, &workers);
    viewer->resize(1920, 1080);
    viewer->show();
    QApplication::processEvents();

    // When the full picture replaced the preview, counted from the key press.
    double pressedAt = 0;
    std::vector<double> fulls;
    viewer->OnFullPicture = [&] {
        if (pressedAt > 0) fulls.push_back(NowMs() - pressedAt);
    };
    std::vector<double> looks;
    viewer->OnGlanceReplaced = [&] {
        if (pressedAt > 0) looks.push_back(NowMs() - pressedAt);
    };
    std::vector<double> steps;
    int previews = 0;
    int glances = 0;
    const double loopCpu = CpuMs(RUSAGE_SELF);
    for (std::size_t i = 1; i < paths.size(); ++i) {
        const double until = NowMs() + dwell;
        do {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (dwell > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (NowMs() < until);
        const double start = NowMs();
        pressedAt = start;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(viewer, &press);
        viewer->repaint();  // painted on screen before the clock stops
        steps.push_back(NowMs() - start);
        if (viewer->GlanceShown()) {
            ++glances;
        } else if (viewer->PreviewShown()) {
            ++previews;
        }
    }
    const double stepCpu = (CpuMs(RUSAGE_SELF) - loopCpu) / static_cast<double>(std::max<std::size_t>(1, steps.size()));
    // After the last key: how long the picture took to settle (the first
    // look in place of a glance, then the full picture).
    const std::size_t looksBefore = looks.size(), fullsBefore = fulls.size();
    const double settleUntil = NowMs() + 5000;
    while (NowMs() < settleUntil && viewer->PreviewShown()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const auto last = [](const std::vector<double>& v, std::size_t before) {
        return v.size() > before ? v.back() : 0.0;
    };
    const double lastLook = last(looks, looksBefore), lastFull = last(fulls, fullsBefore);
    const double stepMs = Median(steps);
    std::printf("panel %dx%d, prefetch hits %d of %d steps, decodes stopped when left: %d\n",
                viewer->Panel1->width(), viewer->Panel1->height(),
                viewer->Prefetch() != nullptr ? viewer->Prefetch()->Hits() : 0, static_cast<int>(steps.size()),
                viewer->Prefetch() != nullptr ? viewer->Prefetch()->Cancelled() : 0);
    std::printf("plain full decode of one file: median %.1f ms\n", decodeMs);
    std::printf("viewer step, key press to picture on screen: median %.1f ms (max %.1f ms)\n", stepMs,
                *std::max_element(steps.begin(), steps.end()));
    std::printf("shown first as a glance (Exif thumbnail): %d, as a display-size preview: %d, of %d steps\n", glances,
                previews, static_cast<int>(steps.size()));
    std::printf("after a glance, the first look in place after the key press: median %.1f ms over %zu pictures\n",
                Median(looks), looks.size());
    std::printf("full picture in place after the key press: median %.1f ms over %zu pictures\n", Median(fulls),
                fulls.size());
    std::printf("after the last key press: first look in place of a glance after %.1f ms, full picture after %.1f ms "
                "(0: not needed)\n",
                lastLook, lastFull);
    std::printf("processor time: %.1f ms a step (all threads, dwell included), %.1f ms a plain full decode\n",
                stepCpu, Median(decodeCpu));
    std::printf("ratio step / decode: %.3f (target at most 0.25)\n", stepMs / decodeMs);
    delete viewer;
    return 0;
}
