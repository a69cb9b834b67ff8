// A folder import killed at any moment: the table opens afterwards (repaired
// where needed) with every record stored before intact, and no source file is
// gone whose record is not on the disk.

#include "ChildProcess.h"
#include "DataModuleFixture.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "WorkerPool.h"

#include <QImage>

#include <chrono>
#include <map>
#include <thread>

namespace pixhold::store::test {
namespace {

class ImportKillTest : public DataModuleFixture {};

TEST_F(ImportKillTest, EveryStoredRecordAndEveryDeletedSourceSurvive) {
    const fs::path originals = dir / "originals";
    fs::create_directories(originals);
    std::map<std::string, imaging::TByteVector> bytes;
    for (int i = 0; i < 12; ++i) {
        QImage image(640 + 10 * i, 480, QImage::Format_RGB32);
        image.fill(qRgb(20 * i, 255 - 20 * i, 90));
        const std::string name = "shot" + std::to_string(i) + ".jpg";
        bytes[name] = imaging::EncodeJpeg(image, 90);
        imaging::WritePictureFile((originals / name).string(), bytes[name]);
    }
    // Kill points: after the child reached its k-th file (it reports each one
    // as the import lets window messages run), at once or a moment later;
    // the last run is not killed.
    struct TKillPoint {
        int Files;
        int DelayUs;
    };
    const TKillPoint points[] = {{0, 0}, {1, 0}, {1, 700}, {3, 0}, {4, 1500}, {6, 300}, {9, 0}, {11, 2000}, {-1, 0}};
    int killedMidway = 0;
    for (const TKillPoint point : points) {
        SCOPED_TRACE("kill at file " + std::to_string(point.Files) + " + " + std::to_string(point.DelayUs) + " us");
        Stop();
        fs::remove_all(DataFolder());
        const fs::path source = dir / "source";
        fs::remove_all(source);
        fs::copy(originals, source);
        {
            pixhold::test::ChildProcess child([&](pixhold::test::ChildProcess::Channel& parent) {
                TConfig childConfig((dir / "program").string());
                childConfig.DataFolder = DataFolder();
                childConfig.DeleteFilesAfterImport = true;
                childConfig.LastImportDir = source.string();
                TRecordingHost childHost;
                TDM module(childConfig, childHost);
                module.DataModuleCreate();
                imaging::TWorkerPool workers(2);
                module.SetWorkers(&workers);
                childHost.OnProcessMessages = [&parent] { parent.Send('F'); };
                parent.Send('S');
                module.ImportPaths({source.string()});
                return 0;
            });
            ASSERT_EQ(child.Receive(), 'S');
            if (point.Files >= 0) {
                for (int f = 0; f < point.Files; ++f) {
                    if (child.Receive() != 'F') break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(point.DelayUs));
                child.Kill();
            } else {
                while (child.Receive() != '\0') {
                }
            }
            const int status = child.Wait();
            EXPECT_TRUE(status == 0 || status == 128 + SIGKILL) << status;
        }
        Start();  // opens the table, with the automatic repair when it needs one
        ASSERT_TRUE(dm->tblData.Active());
        std::map<std::string, imaging::TByteVector> stored;
        engine::TCofferTable& t = dm->tblData;
        t.SetFiltered(false);
        for (t.First(); !t.Eof(); t.Next()) {
            stored[t.FieldByName("FileName").AsString()] =
                t.CreateBlobStream(t.FieldByName("Image"), engine::TBlobStreamMode::bmRead)->ReadAll();
        }
        for (const auto& [name, image] : stored) {
            ASSERT_TRUE(bytes.count(name)) << name;
            EXPECT_EQ(image, bytes.at(name)) << name << " is stored whole";
        }
        for (const auto& [name, original] : bytes) {
            if (!fs::exists(source / name)) {
                EXPECT_TRUE(stored.count(name)) << name << " was deleted without its record on the disk";
            }
        }
        if (point.Files < 0) {
            EXPECT_EQ(stored.size(), bytes.size());
        } else if (stored.size() < bytes.size()) {
            ++killedMidway;
        }
    }
    EXPECT_GE(killedMidway, 5) << "the kills should fall inside the import";
}

}  // namespace
}  // namespace pixhold::store::test
