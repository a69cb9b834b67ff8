// A process killed with SIGKILL in the middle of an insert, change or delete
// of a record with a BLOB, at every write the operation makes: the child
// process runs the operation while the disk takes no write from that point
// on (that write fails outright, or only its first bytes arrive) and is then
// killed, so that nothing of it runs any more. Afterwards the table
// opens; it verifies, or the repair mends it; every other record keeps its
// value; the changed record is in its old or its new state with its BLOB
// whole, the new one when the operation had finished; and after the repair
// every block of the BLOB file belongs to a value or to the free chain.
//
// PIXHOLD_LONG_TESTS=1 also cuts every write after 100000 bytes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>

#include "BlobCensus.h"
#include "ChildProcess.h"
#include "CursorEditSupport.h"
#include "EngineError.h"
#include "FaultPlan.h"
#include "TableMaintenance.h"
#include "TableTestSupport.h"

namespace pixhold::engine {
namespace {

using namespace edittest;

// The bytes of a BLOB: which record and which version they belong to.
std::string Value(char tag, std::size_t length) {
    std::string bytes(length, tag);
    for (std::size_t i = 0; i < length; i += 97) bytes[i] = static_cast<char>('0' + (i / 97) % 10);
    return bytes;
}

Values Row(const std::string& name, int num, std::size_t length, char tag) {
    return {name, num, "c" + name, "k" + std::to_string(num % 3), length == 0 ? std::string() : Value(tag, length)};
}

// Records with BLOBs of one block to several runs of blocks (r6), and a
// deleted record whose blocks are on the free chain.
const std::vector<Values>& TemplateRows() {
    static const std::vector<Values> rows = {
        Row("r0", 0, 0, 'a'),     Row("r1", 1, 1500, 'b'),   Row("r2", 2, 40000, 'c'), Row("r3", 3, 0, 'd'),
        Row("r4", 4, 3000, 'e'),  Row("r5", 5, 2200, 'f'),   Row("r6", 6, 320000, 'g'), Row("r7", 7, 2800, 'h'),
        Row("r8", 8, 9000, 'i'),  Row("r9", 9, 600, 'j'),
    };
    return rows;
}

void MakeTemplate(const std::string& folder) {
    EditFixture fx;
    auto cursor = fx.Open();
    for (const Values& v : TemplateRows()) Append(*cursor, v);
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    if (!Seek(*cursor, "r4") || cursor->GetCurrentRecord(buffer.data()) != 0) throw std::runtime_error("no r4");
    cursor->DeleteRecord(buffer.data(), false);
    cursor->CloseCursor();
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::copy_file(fx.FilePath(ext), folder + "Edits" + ext);
}

void Change(TDataCursor& c, const Values& to) {
    std::vector<std::uint8_t> buffer(c.RecordSize());
    if (!Seek(c, to.name) || c.GetCurrentRecord(buffer.data(), false) != 0 ||
        c.GetCurrentRecord(buffer.data(), true) != 0)
        throw std::runtime_error("no " + to.name);
    Fill(c, buffer, to);
    c.ModifyRecord(buffer.data(), true, true);
}

struct Operation {
    const char* name;
    std::string subject;
    std::optional<Values> before, after;  // none: absent
    std::function<void(TDataCursor&)> run;
};

std::vector<Operation> Operations() {
    const auto& t = TemplateRows();
    std::vector<Operation> ops;
    auto append = [&](const char* name, const Values& v) {
        ops.push_back({name, v.name, std::nullopt, v, [v](TDataCursor& c) { Append(c, v); }});
    };
    auto change = [&](const char* name, const Values& from, const Values& to) {
        ops.push_back({name, to.name, from, to, [to](TDataCursor& c) { Change(c, to); }});
    };
    // Free blocks, then runs of new ones; free blocks only.
    append("append of a large value", Row("n1", 21, 300000, 'x'));
    append("append from free blocks", Row("n2", 22, 700, 'y'));
    change("growing change", t[2], Row("r2", 32, 330000, 'C'));
    change("shrinking change", t[6], Row("r6", 36, 2000, 'G'));
    change("change to no value", t[8], Row("r8", 38, 0, 'I'));
    ops.push_back({"delete", "r7", t[7], std::nullopt, [](TDataCursor& c) {
                       std::vector<std::uint8_t> buffer(c.RecordSize());
                       if (!Seek(c, "r7") || c.GetCurrentRecord(buffer.data()) != 0) throw std::runtime_error("no r7");
                       c.DeleteRecord(buffer.data(), true);
                   }});
    return ops;
}

// How the disk stops taking the operation's writes.
struct Cut {
    std::uint64_t write = 0;  // 0: not at all (killed after the operation)
    std::size_t bytes = 0;    // of that write that arrive
};

struct Outcome {
    bool reported = false;  // the child said how the operation ended
    bool done = false;      // the operation returned
};

// Runs the operation in a child process on the table in `folder` and kills it.
Outcome RunAndKill(const std::string& folder, const Operation& op, const Cut& cut) {
    pixhold::test::ChildProcess child([&](pixhold::test::ChildProcess::Channel& parent) {
        auto session = coretest::FastSession();
        TDataCursor cursor(*session->OpenDataDirectory("PH", folder));
        cursor.TableName = "Edits";
        cursor.OpenCursor();
        // From the cut on nothing reaches the disk any more.
        auto faults = std::make_shared<TFaultPlan>();
        if (cut.write != 0 && cut.bytes == 0) {
            faults->FailFrom(FileOp::Write, cut.write);
        } else if (cut.write != 0) {
            faults->ShortWriteNth(cut.write, cut.bytes);
            faults->FailFrom(FileOp::Write, cut.write + 1);
        }
        ScopedFaultPlan plan(faults);
        bool done = true;
        try {
            op.run(cursor);
        } catch (const ECofferEngineError&) {
            done = false;
        }
        parent.Send(done ? 'D' : 'F');
        parent.Receive();  // killed while it waits: no close, nothing of it runs on
        return 0;
    });
    Outcome outcome;
    const char how = child.Receive();
    outcome.reported = how == 'D' || how == 'F';
    outcome.done = how == 'D';
    child.Kill();
    EXPECT_EQ(child.Wait(), 128 + SIGKILL);
    return outcome;
}

// The table after the kill: what it left behind, its verify and repair, the
// records and the census of the BLOB file. Empty when all is well.
std::string Check(const std::string& folder, const Inspection& original, const Operation& op, bool done,
                  bool torn, coretest::BlobCensus& left) {
    auto session = coretest::FastSession();
    TDataDirectory* directory = session->OpenDataDirectory("PH", folder);
    std::string result;
    {
        TDataCursor cursor(*directory);
        cursor.TableName = "Edits";
        cursor.OpenCursor();  // the table opens as the kill left it
        left = coretest::TakeBlobCensus(cursor.Table());
        result += left.problems;
        cursor.CloseCursor();
    }
    bool mended = false;
    {
        TTableMaintenance maintenance(*directory, "Edits");
        std::string log;
        maintenance.Events.OnLog = [&](const std::string& message) { log += message + "\n"; };
        if (!maintenance.VerifyTable()) {
            maintenance.RepairTable();
            mended = true;
            log.clear();
            if (!maintenance.VerifyTable()) result += "damaged after the repair:\n" + log;
        }
    }
    TDataCursor cursor(*directory);
    cursor.TableName = "Edits";
    cursor.OpenCursor();
    const coretest::BlobCensus census = coretest::TakeBlobCensus(cursor.Table());
    result += census.problems;
    if (census.neither != 0)
        result += std::to_string(census.neither) + " blocks neither in a value nor free after the repair\n";
    const Inspection seen = Inspect(cursor.Table());
    cursor.CloseCursor();
    result += seen.problems;
    for (const auto& [name, values] : original.rows) {
        if (name == op.subject) continue;
        const auto it = seen.rows.find(name);
        if (it == seen.rows.end()) result += "lost " + name + "\n";
        else if (!(it->second == values)) result += "changed " + name + "\n";
    }
    // A record write cut short in a reused slot leaves the deleted record's
    // own fields behind its new header: the repair may find that record
    // active again, as the fault test of the edits explains.
    const bool revived = torn && seen.rows.count("r4") != 0;
    const auto it = seen.rows.find(op.subject);
    auto matches = [&](const std::optional<Values>& state) {
        if (!state) return it == seen.rows.end();
        if (it == seen.rows.end()) return false;
        Values without = *state;
        without.data.clear();
        // Only a torn record write may cost the record its BLOB reference.
        return it->second == *state || (torn && mended && it->second == without);
    };
    if (done && !matches(op.after)) result += "finished, but " + op.subject + " is not in its new state\n";
    if (!matches(op.before) && !matches(op.after)) result += op.subject + " is in neither state\n";
    const std::size_t expected = original.rows.size() + (op.before ? 0 : 1) + (revived ? 1 : 0);
    if (seen.rows.size() + (it == seen.rows.end() ? 1 : 0) != expected) result += "records came or went\n";
    return result;
}

TEST(BlobKill, AKilledWriteLeavesEveryFinishedWriteAndNoUnusedBlockAfterTheRepair) {
    pixhold::test::TempDir templateDir;
    MakeTemplate(templateDir.folder());
    Inspection original;
    {
        auto session = coretest::FastSession();
        TDataCursor cursor(*session->OpenDataDirectory("PH", templateDir.folder()));
        cursor.TableName = "Edits";
        cursor.OpenCursor();
        original = Inspect(cursor.Table());
        const coretest::BlobCensus census = coretest::TakeBlobCensus(cursor.Table());
        cursor.CloseCursor();
        ASSERT_EQ(original.problems, "");
        ASSERT_EQ(original.rows.size(), 9u);
        ASSERT_EQ(census.neither, 0u);
        ASSERT_GT(census.free, 0u);
    }
    const bool longRun = std::getenv("PIXHOLD_LONG_TESTS") != nullptr;
    auto copy = [&](const pixhold::test::TempDir& to) { CopyEditTemplate(templateDir.folder(), to.folder()); };
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        // How many writes the operation makes.
        std::uint64_t writes = 0;
        {
            pixhold::test::TempDir dir;
            copy(dir);
            writes = CountEditWrites(dir.folder(), op.run);
        }
        ASSERT_GT(writes, 3u);
        std::vector<Cut> cuts{{0, 0}};
        for (std::uint64_t k = 1; k <= writes; ++k) {
            cuts.push_back({k, 0});
            cuts.push_back({k, 7});
            if (longRun) cuts.push_back({k, 100000});
        }
        std::set<std::uint64_t> leaving;  // the writes whose cut left blocks nothing holds
        for (const Cut& cut : cuts) {
            SCOPED_TRACE("write " + std::to_string(cut.write) + " of " + std::to_string(writes) + ", " +
                         std::to_string(cut.bytes) + " bytes of it");
            pixhold::test::TempDir dir;
            copy(dir);
            const Outcome outcome = RunAndKill(dir.folder(), op, cut);
            ASSERT_TRUE(outcome.reported) << "the child failed";
            if (cut.write == 0) {
                EXPECT_TRUE(outcome.done);
            }
            coretest::BlobCensus left;
            EXPECT_EQ(Check(dir.folder(), original, op, outcome.done, cut.bytes != 0, left), "");
            if (left.neither != 0) leaving.insert(cut.write);
        }
        // What is left behind at all comes from the few writes between the
        // BLOB header that takes the new blocks and the record that names
        // them (the last block taken from the free chain, the record), or
        // between the record and the freeing of the old chain (the data
        // header, the runs of freed blocks, the BLOB header): never from the
        // writes of a value's bytes or of the index pages.
        EXPECT_LE(leaving.size(), 6u) << leaving.size() << " of " << writes << " writes";
    }
}

}  // namespace
}  // namespace pixhold::engine
