// Write failures during a cursor's insert, change and delete, at every write
// the operation makes: the table still opens, and either verifies or is
// mended by the table repair, with every other record and its BLOB as it was.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "BTree.h"
#include "CursorEditSupport.h"
#include "EngineError.h"
#include "FaultPlan.h"
#include "IndexKey.h"
#include "RecordBuffer.h"
#include "TableMaintenance.h"
#include "TableTestSupport.h"

namespace pixhold::engine {
namespace {

using namespace edittest;

struct Operation {
    const char* name;
    std::string subject;                 // the record the operation changes
    std::optional<Values> before, after;  // its state before and after (none: absent)
    std::function<void(TDataCursor&)> run;
};

std::vector<Operation> Operations() {
    const std::string big(5000, 'z');
    std::vector<Operation> ops;
    ops.push_back({"append", "new", std::nullopt, Values{"new", 77, "cnew", "k9", big}, [big](TDataCursor& c) {
                       Append(c, {"new", 77, "cnew", "k9", big});
                   }});
    ops.push_back({"modify", "r5", Values{"r5", 5, "c5", "k2", std::string(2200, 'f')},
                   Values{"r5", 55, "c55", "k2", std::string(3000, 'y')}, [](TDataCursor& c) {
                       std::vector<std::uint8_t> buffer(c.RecordSize());
                       if (!Seek(c, "r5") || c.GetCurrentRecord(buffer.data(), false) != 0 ||
                           c.GetCurrentRecord(buffer.data(), true) != 0)
                           throw std::runtime_error("no r5");
                       Fill(c, buffer, {"r5", 55, "c55", "k2", std::string(3000, 'y')});
                       c.ModifyRecord(buffer.data(), true, true);
                   }});
    ops.push_back({"delete", "r7", Values{"r7", 7, "c7", "k1", std::string(2800, 'h')}, std::nullopt,
                   [](TDataCursor& c) {
                       std::vector<std::uint8_t> buffer(c.RecordSize());
                       if (!Seek(c, "r7") || c.GetCurrentRecord(buffer.data()) != 0) throw std::runtime_error("no r7");
                       c.DeleteRecord(buffer.data(), true);
                   }});
    return ops;
}

// Whether verify found nothing but blocks that no record names (what a change
// leaves behind when the freeing of its old chain fails after its records
// were written).
bool OnlyUnusedBlocks(const std::string& log) {
    bool found = false;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find('\n', start);
        const std::string line = log.substr(start, end - start);
        start = end == std::string::npos ? log.size() : end + 1;
        if (line.rfind("Repair of table ", 0) == 0) continue;
        if (line != "Unused BLOB blocks not on the free chain") return false;
        found = true;
    }
    return found;
}

// Opens the folder's table in a session of its own and compares it with the
// template's records: the subject may be in its old or its new state (its
// BLOB may be lost by a mend), every other record exactly as it was.
std::string Verify(const std::string& folder, const Inspection& original, const Operation& op, bool mend,
                   bool& mended, bool done = false, bool torn = false) {
    auto session = coretest::FastSession();
    TDataDirectory* directory = session->OpenDataDirectory("PH", folder);
    std::string result;
    mended = false;
    {
        // The table's own verify, and its repair where that finds damage.
        TTableMaintenance maintenance(*directory, "Edits");
        std::string log;
        maintenance.Events.OnLog = [&](const std::string& message) { log += message + "\n"; };
        if (!maintenance.VerifyTable()) {
            const bool onlySpace = OnlyUnusedBlocks(log);
            if (!mend && !onlySpace) {
                result += "does not verify:\n" + log;
            } else {
                maintenance.RepairTable();
                // Space given back is no mend of the records.
                mended = !onlySpace;
                log.clear();
                if (!maintenance.VerifyTable()) result += "damaged after the repair:\n" + log;
            }
        }
    }
    TDataCursor cursor(*directory);
    cursor.TableName = "Edits";
    cursor.OpenCursor();
    const Inspection seen = Inspect(cursor.Table());
    result += seen.problems;
    for (const auto& [name, values] : original.rows) {
        if (name == op.subject) continue;
        const auto it = seen.rows.find(name);
        if (it == seen.rows.end()) result += "lost " + name + "\n";
        else if (!(it->second == values)) result += "changed " + name + "\n";
    }
    // A record write cut short in a reused slot leaves the deleted record's
    // own fields behind its new header: the repair then finds that record
    // active again. Nothing else may come back.
    std::size_t revived = 0;
    if (torn && seen.rows.count("r4") != 0 && original.rows.count("r4") == 0) revived = 1;
    const auto it = seen.rows.find(op.subject);
    auto matches = [&](const std::optional<Values>& state) {
        if (!state) return it == seen.rows.end();
        if (it == seen.rows.end()) return false;
        Values without = *state;
        without.data.clear();
        return it->second == *state || (mended && it->second == without);
    };
    if (done && !matches(op.after)) result += "subject " + op.subject + " not in its new state\n";
    if (!matches(op.before) && !matches(op.after)) {
        result += "subject " + op.subject + " in neither state";
        if (it != seen.rows.end())
            result += ": " + std::to_string(it->second.num) + " " + it->second.code + " BLOB of " +
                      std::to_string(it->second.data.size());
        result += "\n";
    }
    if (seen.rows.size() - revived + (it == seen.rows.end() ? 1 : 0) != original.rows.size() + (op.before ? 0 : 1))
    {
        result += "records came or went:";
        for (const auto& entry : seen.rows) result += " " + entry.first;
        result += "\n";
    }
    cursor.CloseCursor();
    return result;
}

TEST(CursorEditFault, AFailedWriteAtAnyPointLeavesATableThatVerifiesOrIsMended) {
    pixhold::test::TempDir templateDir;
    // The table every run starts from: records with and without BLOBs, and one
    // deleted record whose slot an append takes again.
    MakeEditTemplate(templateDir.folder(), {"r4"});
    const Inspection original = InspectEditTable(templateDir.folder());
    ASSERT_EQ(original.problems, "");
    ASSERT_EQ(original.rows.size(), 11u);
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        auto copy = [&](const pixhold::test::TempDir& to) { CopyEditTemplate(templateDir.folder(), to.folder()); };
        // How many writes the operation makes, and that it works without faults.
        std::uint64_t writes = 0;
        {
            pixhold::test::TempDir dir;
            copy(dir);
            writes = CountEditWrites(dir.folder(), op.run);
            bool mended = false;
            EXPECT_EQ(Verify(dir.folder(), original, op, false, mended), "");
        }
        ASSERT_GT(writes, 2u);
        int verified = 0;
        // Each write fails outright, then transfers only part of its bytes.
        for (std::uint64_t run = 0; run < 2 * writes; ++run) {
            const std::uint64_t k = run % writes + 1;
            const bool shortWrite = run >= writes;
            SCOPED_TRACE(std::string(shortWrite ? "short " : "failing ") + "write " + std::to_string(k) + " of " +
                         std::to_string(writes));
            pixhold::test::TempDir dir;
            copy(dir);
            bool done = false;
            {
                auto session = coretest::FastSession();
                TDataCursor cursor(*session->OpenDataDirectory("PH", dir.folder()));
                cursor.TableName = "Edits";
                cursor.OpenCursor();
                int code = 0;
                {
                    auto faults = std::make_shared<TFaultPlan>();
                    if (shortWrite) faults->ShortWriteNth(k, 7);
                    else faults->FailNth(FileOp::Write, k);
                    ScopedFaultPlan plan(faults);
                    try {
                        op.run(cursor);
                    } catch (const ECofferEngineError& e) {
                        code = e.ErrorCode();
                    }
                    EXPECT_EQ(faults->FaultsInjected(), 1u);
                }
                // Once the records are written the change is done: a failure
                // while freeing the replaced BLOB chains only leaves unused
                // blocks (which verify reports and the repair gives back)
                // and is not reported.
                done = code == 0;
                // A failed post leaves the edit open (and locked) until it is cancelled.
                cursor.CancelRecord();
                // Nothing stays locked, and the table's caches hold nothing
                // of the half-made change.
                EXPECT_FALSE(cursor.Table().WriteLockHeld());
                EXPECT_EQ(cursor.Table().OsLockedRecords().Count(), 0u);
                cursor.CloseCursor();
            }
            bool mended = false;
            EXPECT_EQ(Verify(dir.folder(), original, op, !done, mended, done, shortWrite), "");
            if (!mended) ++verified;
        }
        // Failures before the first write of the record leave the table as it was.
        EXPECT_GT(verified, 0);
    }
}

}  // namespace
}  // namespace pixhold::engine
