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
        QImage image(200 + 10 * i, 150, QImage::Format_RGB32);
        image.fill(qRgb(20 * i, 255 - 20 * i, 90));
        const std::string name = "shot" + std::to_string(i) + ".jpg";
        bytes[name] = imaging::EncodeJpeg(image, 90);
        imaging::WritePictureFile((originals / name).string(), bytes[name]);
    }
    // Kill points from "at once" to "after the end", in milliseconds after
    // the child started importing.
    for (const int delay : {0, 5, 20, 60, 150, 400, -1}) {
        SCOPED_TRACE("kill after " + std::to_string(delay) + " ms");
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
                parent.Send('S');
                module.ImportFolder(source.string() + "/", "");
                return 0;
            });
            ASSERT_EQ(child.Receive(), 'S');
            if (delay >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                child.Kill();
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
        if (delay < 0) {
            EXPECT_EQ(stored.size(), bytes.size());
        }
    }
}

}  // namespace
}  // namespace pixhold::store::test
