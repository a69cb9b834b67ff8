#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <set>
#include <string>

#include "EngineError.h"
#include "FileHandler.h"
#include "FileList.h"
#include "FileTestHelpers.h"
#include "TempDir.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;
using pixhold::test::TempDir;

namespace {

// What the file list should do with three files, checked step by step.
struct ModelFile {
    bool exists = false;
    std::string contents;
    std::set<int> openedBy;  // handler numbers
    bool exclusive = false;
};

constexpr int kNames = 3;
constexpr int kHandlers = 6;

// Random create, open, close, write, read, rename and delete sequences over
// three files, each reached through handlers that spell its name in different
// letter cases, against a model of the list's rules.
class FileListModel : public ::testing::TestWithParam<bool> {
protected:
    bool InMemory() const { return GetParam(); }
    // Handler h reaches file h % 3, spelled one of two ways.
    std::string Spelling(int name, int variant) const {
        static const char* const kSpellings[kNames][2] = {
            {"Alpha.Dat", "ALPHA.dat"}, {"Beta.Idx", "beta.IDX"}, {"Gamma.Blb", "gAmMa.bLb"}};
        return (dir / kSpellings[name][variant]).string();
    }
    TempDir dir;
};

TEST_P(FileListModel, RandomOperationsFollowTheRules) {
    std::array<TFileHandler, kHandlers> handlers;
    for (int h = 0; h < kHandlers; ++h) Describe(handlers[h], Spelling(h % kNames, h / kNames), InMemory());
    std::array<ModelFile, kNames> model;
    std::mt19937 random(4711);
    auto expectCode = [](int got, int expected, int step, const char* what) {
        EXPECT_EQ(got, expected) << what << " at step " << step;
    };

    for (int step = 0; step < 1500; ++step) {
        const int h = static_cast<int>(random() % kHandlers);
        const int n = h % kNames;
        TFileHandler& handler = handlers[h];
        ModelFile& file = model[n];
        const bool isOpen = file.openedBy.count(h) > 0;
        ASSERT_EQ(handler.IsOpen(), isOpen) << "step " << step;
        switch (random() % 8) {
        case 0: {  // create
            const int code = CodeOf([&] { handler.CreateFile(); });
            if (!file.openedBy.empty()) {
                expectCode(code, err::AccessDenied, step, "create of an open file");
            } else {
                expectCode(code, 0, step, "create");
                file = ModelFile{true, "", {h}, false};
            }
            break;
        }
        case 1:
        case 2: {  // open
            if (isOpen) break;
            const bool exclusive = random() % 3 == 0;
            handler.Exclusive = exclusive;
            const int code = CodeOf([&] { handler.OpenFile(); });
            if (!file.exists) {
                expectCode(code, err::TableNotFound, step, "open of a missing file");
            } else if (!file.openedBy.empty() && (file.exclusive || exclusive)) {
                expectCode(code, err::AccessDenied, step, "open against an exclusive opening");
            } else {
                expectCode(code, 0, step, "open");
                if (file.openedBy.empty()) file.exclusive = exclusive;
                file.openedBy.insert(h);
            }
            break;
        }
        case 3:  // close
            handler.CloseFile();
            file.openedBy.erase(h);
            break;
        case 4: {  // write
            if (!isOpen) break;
            const std::size_t offset = random() % 40;
            const std::string data(random() % 20 + 1, static_cast<char>('a' + step % 26));
            WriteAt(handler, static_cast<std::int64_t>(offset), data);
            if (file.contents.size() < offset + data.size()) file.contents.resize(offset + data.size(), '\0');
            file.contents.replace(offset, data.size(), data);
            break;
        }
        case 5:  // read everything
            if (isOpen) {
                ASSERT_EQ(ReadAt(handler, 0, 100), file.contents) << "step " << step;
            }
            break;
        case 6: {  // rename onto another of the three
            const int to = (n + 1 + static_cast<int>(random() % (kNames - 1))) % kNames;
            const int code = FileList().RenameFile(handler.Name, InMemory(), Spelling(to, random() % 2));
            ModelFile& target = model[to];
            if (!file.openedBy.empty()) {
                expectCode(code, -err::AccessDenied, step, "rename of an open file");
            } else if (!file.exists) {
                expectCode(code, -err::TableNotFound, step, "rename of a missing file");
            } else if (!target.openedBy.empty()) {
                expectCode(code, -err::AccessDenied, step, "rename onto an open file");
            } else {
                expectCode(code, 0, step, "rename");
                target = ModelFile{true, file.contents, {}, false};
                file = ModelFile{};
            }
            break;
        }
        case 7: {  // delete (rarely, so that files live long enough to matter)
            if (random() % 3 != 0) break;
            const int code = FileList().DeleteFile(handler.Name, InMemory());
            if (!file.openedBy.empty()) {
                expectCode(code, -err::AccessDenied, step, "delete of an open file");
            } else if (!file.exists) {
                expectCode(code, -err::TableNotFound, step, "delete of a missing file");
            } else {
                expectCode(code, 0, step, "delete");
                file = ModelFile{};
            }
            break;
        }
        }
        for (int k = 0; k < kNames; ++k)
            ASSERT_EQ(FileList().FileExists(Spelling(k, step % 2), InMemory()), model[k].exists)
                << "file " << k << " after step " << step;
        if (HasFailure()) break;
    }
    for (auto& handler : handlers) handler.CloseFile();
    for (int k = 0; k < kNames; ++k) {
        if (model[k].exists) {
            EXPECT_EQ(FileList().DeleteFile(Spelling(k, 0), InMemory()), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileListModel, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Memory" : "Physical"; });

}  // namespace
