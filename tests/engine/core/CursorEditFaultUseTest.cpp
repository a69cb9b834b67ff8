// Write failures during a cursor's insert and change of a record with a BLOB,
// at every write the operation makes, and then the table used on without any
// repair: a hundred more records appended and changed, some deleted, first
// by the same cursor and then by a fresh session. No other record or BLOB
// may change, whatever the failure left in the files.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "CursorEditSupport.h"
#include "EngineError.h"
#include "FaultPlan.h"
#include "TableTestSupport.h"

namespace pixhold::engine {
namespace {

using namespace edittest;

void ChangeRecord(TDataCursor& c, const std::string& name, const Values& to) {
    std::vector<std::uint8_t> buffer(c.RecordSize());
    if (!Seek(c, name) || c.GetCurrentRecord(buffer.data(), false) != 0 || c.GetCurrentRecord(buffer.data(), true) != 0)
        throw std::runtime_error("no " + name);
    Fill(c, buffer, to);
    c.ModifyRecord(buffer.data(), true, true);
}

void DeleteNamed(TDataCursor& c, const std::string& name) {
    std::vector<std::uint8_t> buffer(c.RecordSize());
    if (!Seek(c, name) || c.GetCurrentRecord(buffer.data()) != 0) throw std::runtime_error("no " + name);
    c.DeleteRecord(buffer.data(), true);
}

struct Operation {
    const char* name;
    std::string subject;
    std::optional<Values> before;
    Values after;
    std::function<void(TDataCursor&)> run;
};

std::vector<Operation> Operations() {
    // 5000 bytes: the freed blocks of r7 and r4 and then new blocks at the end.
    const Values added{"new", 77, "cnew", "k9", std::string(5000, 'z')};
    const Values changed{"r5", 55, "c55", "k2", std::string(3000, 'y')};
    std::vector<Operation> ops;
    ops.push_back({"append", "new", std::nullopt, added, [added](TDataCursor& c) { Append(c, added); }});
    ops.push_back({"modify", "r5", Values{"r5", 5, "c5", "k2", std::string(2200, 'f')}, changed,
                   [changed](TDataCursor& c) { ChangeRecord(c, "r5", changed); }});
    return ops;
}

// A BLOB whose bytes say which record and which version they belong to.
std::string Payload(int record, int version) {
    const std::size_t length = 300 + static_cast<std::size_t>((record * 977 + version * 1511) % 5200);
    std::string text;
    text.reserve(length);
    const std::string mark = "<" + std::to_string(record) + "." + std::to_string(version) + ">";
    while (text.size() < length) text += mark;
    text.resize(length);
    return text;
}

// Goes on with the table: appends `count` records from `first` on, changes an
// earlier one after every append and deletes every seventh. `expected` follows.
std::string UseOn(TDataCursor& c, int first, int count, std::map<std::string, Values>& expected) {
    std::ostringstream failures;
    for (int i = first; i < first + count; ++i) {
        const std::string name = "m" + std::to_string(i);
        try {
            const Values v{name, i, "d" + std::to_string(i), "k" + std::to_string(i % 4), Payload(i, 0)};
            Append(c, v);
            expected[name] = v;
            const int target = first + (i - first) / 2;
            const std::string other = "m" + std::to_string(target);
            if (expected.count(other) != 0) {
                Values w = expected[other];
                w.num += 1000;
                w.data = Payload(target, i);
                ChangeRecord(c, other, w);
                expected[other] = w;
            }
            if (i % 7 == 3) {
                const std::string gone = "m" + std::to_string(i - 2);
                if (expected.count(gone) != 0) {
                    DeleteNamed(c, gone);
                    expected.erase(gone);
                }
            }
        } catch (const std::exception& e) {
            failures << "use on, record " << name << ": " << e.what() << "\n";
            try {
                c.CancelRecord();
            } catch (...) {
            }
        }
    }
    return failures.str();
}

// The active records, read by record number with their BLOBs; a BLOB that
// cannot be read is a problem.
std::string Compare(TDataTable& table, const std::map<std::string, Values>& expected, const Operation& op) {
    const Inspection seen = Inspect(table);
    std::ostringstream out;
    std::istringstream problems(seen.problems);
    for (std::string line; std::getline(problems, line);)
        if (line.find("BLOB") != std::string::npos) out << line << "\n";
    for (const auto& [name, values] : expected) {
        const auto it = seen.rows.find(name);
        if (it == seen.rows.end()) out << "lost " << name << "\n";
        else if (!(it->second == values))
            out << "changed " << name << " (BLOB of " << it->second.data.size() << " for " << values.data.size()
                << ")\n";
    }
    for (const auto& [name, values] : seen.rows) {
        if (name == op.subject || expected.count(name) != 0) continue;
        // A deleted record brought back by a torn record write is no loss; a
        // record that is neither expected nor deleted before is.
        if (name != "r4" && name != "r7" && name.rfind("m", 0) != 0) out << "unexpected " << name << "\n";
    }
    const auto it = seen.rows.find(op.subject);
    const bool before = op.before ? it != seen.rows.end() && it->second == *op.before : it == seen.rows.end();
    const bool after = it != seen.rows.end() && it->second == op.after;
    if (!before && !after) out << "subject " << op.subject << " in neither state\n";
    return out.str();
}

TEST(CursorEditFaultUse, AfterAFailedWriteTheTableIsUsedOnWithoutRepairAndNoOtherValueChanges) {
    pixhold::test::TempDir templateDir;
    // Records with BLOBs of several lengths, and deleted ones whose freed blocks
    // head the free chain, so that the next values take freed blocks and then
    // new ones at the end of the file.
    MakeEditTemplate(templateDir.folder(), {"r4", "r7"});
    const Inspection seen = InspectEditTable(templateDir.folder());
    ASSERT_EQ(seen.problems, "");
    const std::map<std::string, Values> original = seen.rows;
    ASSERT_EQ(original.size(), 10u);
    auto copy = [&](const pixhold::test::TempDir& to) { CopyEditTemplate(templateDir.folder(), to.folder()); };
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        std::uint64_t writes = 0;
        {
            pixhold::test::TempDir dir;
            copy(dir);
            writes = CountEditWrites(dir.folder(), op.run);
        }
        ASSERT_GT(writes, 4u);
        for (std::uint64_t run = 0; run < 2 * writes; ++run) {
            const std::uint64_t k = run % writes + 1;
            const bool shortWrite = run >= writes;
            SCOPED_TRACE(std::string(shortWrite ? "short " : "failing ") + "write " + std::to_string(k) + " of " +
                         std::to_string(writes));
            pixhold::test::TempDir dir;
            copy(dir);
            std::map<std::string, Values> expected = original;
            expected.erase(op.subject);
            {
                auto session = coretest::FastSession();
                TDataCursor cursor(*session->OpenDataDirectory("PH", dir.folder()));
                cursor.TableName = "Edits";
                cursor.OpenCursor();
                {
                    auto faults = std::make_shared<TFaultPlan>();
                    if (shortWrite) faults->ShortWriteNth(k, 7);
                    else faults->FailNth(FileOp::Write, k);
                    ScopedFaultPlan plan(faults);
                    try {
                        op.run(cursor);
                    } catch (const ECofferEngineError&) {
                    }
                    ASSERT_EQ(faults->FaultsInjected(), 1u);
                }
                cursor.CancelRecord();
                // The same cursor goes on, with what the failure left in memory.
                EXPECT_EQ(UseOn(cursor, 0, 60, expected), "");
                EXPECT_EQ(Compare(cursor.Table(), expected, op), "");
                cursor.CloseCursor();
            }
            {
                // A fresh session goes on from what is in the files.
                auto session = coretest::FastSession();
                TDataCursor cursor(*session->OpenDataDirectory("PH", dir.folder()));
                cursor.TableName = "Edits";
                cursor.OpenCursor();
                EXPECT_EQ(UseOn(cursor, 60, 40, expected), "");
                EXPECT_EQ(Compare(cursor.Table(), expected, op), "");
                cursor.CloseCursor();
            }
        }
    }
}

}  // namespace
}  // namespace pixhold::engine
