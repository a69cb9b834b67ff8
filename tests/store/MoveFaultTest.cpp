// Moving a picture into another table never loses it: a write or flush that
// fails at any point of the move, or a disk that stops taking bytes at any
// point (the program ends there), leaves both tables usable (verified, or
// mended by the table repair), every other record as it was, and the picture
// byte for byte in at least one of the two tables.

#include "DataDirectory.h"
#include "DataModuleFixture.h"
#include "DataSession.h"
#include "FaultPlan.h"
#include "TableMaintenance.h"

#include <map>
#include <optional>

namespace pixhold::store::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Contents {
    Bytes Image, Thumb;
    bool operator==(const Contents&) const = default;
};
using Table = std::map<std::string, Contents>;  // "name/category" -> contents

void AddRecord(engine::TCofferTable& table, const std::string& name, const std::string& category,
               const Contents& contents) {
    table.Append();
    table.FieldByName("FileName").SetAsString(name);
    table.FieldByName("Category").SetAsString(category);
    table.FieldByName("Type").SetAsInteger(0);
    table.CreateBlobStream(table.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll(contents.Image);
    table.CreateBlobStream(table.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(contents.Thumb);
    table.Post();
}

// The three ways a move is run: into a free name, over a duplicate (Yes), and
// numbered past a duplicate (No).
struct Scenario {
    const char* Name;
    bool Duplicate;
    bool Replace;
    std::string Target;  // the key the picture takes in "Other"
};

const Scenario kScenarios[] = {
    {"append", false, false, "x.jpg/Cats"},
    {"replace", true, true, "x.jpg/Cats"},
    {"numbered", true, false, "x1.jpg/Cats"},
};

const Contents kPicture{Picture(6000, 1), Picture(900, 2)};
const Contents kOldTarget{Picture(3000, 3), Picture(800, 4)};

class MoveFaultTest : public DataModuleFixture {
protected:
    // The starting tables: the picture and its neighbours in "Default", a few
    // records (and, when asked, a duplicate of the picture) in "Other".
    void MakeTemplate(const Scenario& s) {
        config->DataFolder = templateDir->folder();
        Start();
        dm->CreateImageTable("PH", "Other.dat");
        for (int i = 0; i < 4; ++i) {
            AddRecord(dm->tblData, "n" + std::to_string(i) + ".jpg", i % 2 ? "Cats" : "",
                      {Picture(1500 + i * 700, 10 + i), Picture(300, 20 + i)});
        }
        AddRecord(dm->tblData, "x.jpg", "Cats", kPicture);
        dm->tblDest.SetTableName("Other");
        dm->tblDest.Open();
        AddRecord(dm->tblDest, "o1.jpg", "Cats", {Picture(2500, 30), Picture(300, 31)});
        AddRecord(dm->tblDest, "o2.jpg", "", {Picture(700, 32), Picture(300, 33)});
        if (s.Duplicate) AddRecord(dm->tblDest, "x.jpg", "Cats", kOldTarget);
        dm->tblDest.Close();
        Stop();
        before["Default"] = Read(templateDir->folder(), "Default");
        before["Other"] = Read(templateDir->folder(), "Other");
        ASSERT_EQ(before["Default"].size(), 5u);
    }

    std::string CopyTemplate(const pixhold::test::TempDir& to) {
        for (const auto& entry : fs::directory_iterator(templateDir->path())) {
            fs::copy_file(entry.path(), to / entry.path().filename().string());
        }
        return to.folder();
    }

    // Starts a data module on the folder showing "Cats", as the move command needs.
    void StartOn(const std::string& folder) {
        config->DataFolder = folder;
        config->CurrentTable = "Default";
        Start();
        config->CurrentCategory = "Cats";
        dm->ApplyCategoryFilter();
        host.Clear();
    }

    // Every record of a table, read in a session of its own.
    static Table Read(const std::string& folder, const std::string& name) {
        OtherUser user(folder);
        auto table = user.Table(name);
        table->Open();
        Table rows;
        for (table->First(); !table->Eof(); table->Next()) {
            Contents c;
            c.Image = table->CreateBlobStream(table->FieldByName("Image"), engine::TBlobStreamMode::bmRead)->ReadAll();
            c.Thumb = table->CreateBlobStream(table->FieldByName("Thumb"), engine::TBlobStreamMode::bmRead)->ReadAll();
            rows[table->FieldByName("FileName").AsString() + "/" + table->FieldByName("Category").AsString()] = c;
        }
        return rows;
    }

    // Both tables verify or are mended; every record but the picture's is as
    // it was; the picture is whole in at least one table. `moved` tells
    // whether the move reported success.
    std::string Verify(const std::string& folder, const Scenario& s, bool moved) {
        std::string result;
        {
            engine::TDataSession session;
            engine::TDataDirectory* directory = session.OpenDataDirectory("Check", folder);
            for (const char* name : {"Default", "Other"}) {
                engine::TTableMaintenance maintenance(*directory, name);
                if (!maintenance.VerifyTable()) {
                    maintenance.RepairTable();
                    if (!maintenance.VerifyTable()) result += std::string(name) + " damaged after the repair\n";
                }
            }
        }
        std::map<std::string, Table> after;
        try {
            after["Default"] = Read(folder, "Default");
            after["Other"] = Read(folder, "Other");
        } catch (const std::exception& e) {
            return result + "cannot read the tables: " + e.what();
        }
        auto compare = [&](const std::string& table, const std::string& subject,
                           const std::vector<Contents>& allowed) {
            const Table& was = before[table];
            const Table& now = after[table];
            for (const auto& [key, contents] : was) {
                if (key == subject) continue;
                const auto it = now.find(key);
                if (it == now.end()) result += table + ": lost " + key + "\n";
                else if (!(it->second == contents)) result += table + ": changed " + key + "\n";
            }
            for (const auto& [key, contents] : now) {
                if (was.count(key) == 0 && key != subject) result += table + ": came " + key + "\n";
            }
            const auto it = now.find(subject);
            if (it != now.end() && std::find(allowed.begin(), allowed.end(), it->second) == allowed.end()) {
                result += table + ": " + subject + " in no state it may be in\n";
            }
        };
        // The subject of "Other" may keep its old contents (replace) or be
        // absent (a new record not yet written).
        std::vector<Contents> targetStates{kPicture};
        if (s.Duplicate && s.Replace) targetStates.push_back(kOldTarget);
        compare("Default", "x.jpg/Cats", {kPicture});
        compare("Other", s.Target, targetStates);
        const bool inSource = after["Default"].count("x.jpg/Cats") != 0;
        const auto target = after["Other"].find(s.Target);
        const bool inTarget = target != after["Other"].end() && target->second == kPicture;
        if (!inSource && !inTarget) result += "the picture is lost\n";
        if (moved && !inTarget) result += "reported moved but not in the target\n";
        return result;
    }

    // Runs the move in a copy of the template under the faults the plan sets
    // up; `crash`: the program ends right after (nothing more reaches the disk).
    std::string RunWith(const Scenario& s, const std::function<void(engine::TFaultPlan&)>& arm, bool crash,
                        std::uint64_t* faults = nullptr) {
        pixhold::test::TempDir dir;
        const std::string folder = CopyTemplate(dir);
        StartOn(folder);
        if (s.Duplicate) host.YesNoAnswers = {s.Replace};
        bool moved = false;
        auto plan = std::make_shared<engine::TFaultPlan>();
        arm(*plan);
        {
            auto scoped = std::make_unique<engine::ScopedFaultPlan>(plan);
            try {
                moved = dm->MoveImageToTable("x.jpg", "Other", "Cats");
            } catch (const std::exception&) {
                moved = false;
            }
            if (!crash) scoped.reset();
            Stop();  // closing may write; under a crash none of it arrives
        }
        if (faults) *faults = plan->FaultsInjected();
        return Verify(folder, s, moved);
    }

    std::unique_ptr<pixhold::test::TempDir> templateDir;
    std::map<std::string, Table> before;
};

TEST_F(MoveFaultTest, AFailureAtAnyWriteOrFlushNeverLosesThePicture) {
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.Name);
        before.clear();
        templateDir = std::make_unique<pixhold::test::TempDir>();
        MakeTemplate(s);

        // Without faults: the move is done, and its writes and flushes counted.
        std::uint64_t writes = 0, flushes = 0, bytes = 0;
        {
            pixhold::test::TempDir dir;
            StartOn(CopyTemplate(dir));
            if (s.Duplicate) host.YesNoAnswers = {s.Replace};
            engine::ScopedFaultPlan plan(std::make_shared<engine::TFaultPlan>());
            ASSERT_TRUE(dm->MoveImageToTable("x.jpg", "Other", "Cats"));
            writes = plan->Count(engine::FileOp::Write);
            flushes = plan->Count(engine::FileOp::Flush);
            bytes = plan->BytesWritten();
            Stop();
            EXPECT_EQ(Read(dir.folder(), "Other").at(s.Target), kPicture);
            EXPECT_EQ(Read(dir.folder(), "Default").count("x.jpg/Cats"), 0u);
        }
        ASSERT_GT(writes, 3u);
        ASSERT_GT(flushes, 0u) << "the copy is flushed to the disk before the original goes";

        for (std::uint64_t k = 1; k <= writes; ++k) {
            SCOPED_TRACE("failing write " + std::to_string(k) + " of " + std::to_string(writes));
            std::uint64_t faults = 0;
            EXPECT_EQ(RunWith(s, [k](engine::TFaultPlan& p) { p.FailNth(engine::FileOp::Write, k); }, false,
                              &faults),
                      "");
            EXPECT_EQ(faults, 1u);
        }
        for (std::uint64_t k = 1; k <= writes; ++k) {
            SCOPED_TRACE("short write " + std::to_string(k) + " of " + std::to_string(writes));
            EXPECT_EQ(RunWith(s, [k](engine::TFaultPlan& p) { p.ShortWriteNth(k, 5); }, false), "");
        }
        for (std::uint64_t k = 1; k <= flushes; ++k) {
            SCOPED_TRACE("failing flush " + std::to_string(k) + " of " + std::to_string(flushes));
            EXPECT_EQ(RunWith(s, [k](engine::TFaultPlan& p) { p.FailNth(engine::FileOp::Flush, k); }, false), "");
        }
        // The program ends when the disk stops taking bytes, at points spread
        // over the whole move.
        constexpr std::uint64_t kCuts = 40;
        for (std::uint64_t i = 0; i <= kCuts; ++i) {
            const std::uint64_t cut = bytes * i / kCuts;
            SCOPED_TRACE("crash after " + std::to_string(cut) + " of " + std::to_string(bytes) + " bytes");
            EXPECT_EQ(RunWith(s, [cut](engine::TFaultPlan& p) { p.DiskFullAfter(cut); }, true), "");
        }
    }
}

}  // namespace
}  // namespace pixhold::store::test
