#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "ChildProcess.h"
#include "CursorEditSupport.h"
#include "EngineError.h"
#include "RecordBuffer.h"
#include "TableTestSupport.h"

namespace pixhold::engine {
namespace {

using namespace edittest;
using coretest::CodeOf;
using pixhold::test::ChildProcess;

std::int32_t NumOf(const TDataCursor& cursor, const std::vector<std::uint8_t>& buffer) {
    const auto v = recordbuffer::Value(cursor.Fields()[1], buffer.data());
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v[0]) | static_cast<std::uint32_t>(v[1]) << 8 |
                                     static_cast<std::uint32_t>(v[2]) << 16 | static_cast<std::uint32_t>(v[3]) << 24);
}

void SetNum(const TDataCursor& cursor, std::vector<std::uint8_t>& buffer, std::int32_t num) {
    std::uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(num) >> (8 * i));
    recordbuffer::SetValue(cursor.Fields()[1], buffer.data(), bytes);
}

// Stands on the record and reads it into the buffer.
void ReadRecord(TDataCursor& cursor, const std::string& name, std::vector<std::uint8_t>& buffer) {
    buffer.resize(cursor.RecordSize());
    if (!Seek(cursor, name) || cursor.GetCurrentRecord(buffer.data()) != 0) throw std::runtime_error("no " + name);
}

std::string ProtocolName(const ::testing::TestParamInfo<TLockProtocol>& param) {
    return param.param == TLockProtocol::lpPessimistic ? "Pessimistic" : "Optimistic";
}

class CursorEditLocks : public ::testing::TestWithParam<TLockProtocol> {
protected:
    void SetUp() override {
        fx.Session().SetLockProtocol(GetParam());
        auto cursor = fx.Open();
        Append(*cursor, {"shared", 1, "s", "", "blob"});
        Append(*cursor, {"other", 2, "o", "", ""});
    }
    bool Pessimistic() const { return GetParam() == TLockProtocol::lpPessimistic; }
    EditFixture fx;
};

TEST_P(CursorEditLocks, TwoCursorsEditingOneRecordNeverLoseAChange) {
    auto a = fx.Open();
    auto b = fx.Open();
    std::vector<std::uint8_t> bufA, bufB;
    ReadRecord(*a, "shared", bufA);
    ReadRecord(*b, "shared", bufB);
    ASSERT_EQ(a->GetCurrentRecord(bufA.data(), true), 0);
    if (Pessimistic()) {
        // The second edit is refused at once; so is a delete by the other cursor.
        EXPECT_EQ(CodeOf([&] { (void)b->GetCurrentRecord(bufB.data(), true); }), err::RecordLocked);
        EXPECT_EQ(CodeOf([&] { b->DeleteRecord(bufB.data(), false); }), err::RecordLocked);
        EXPECT_EQ(b->LockedRecord(), 0u);
    } else {
        ASSERT_EQ(b->GetCurrentRecord(bufB.data(), true), 0);
    }
    SetNum(*a, bufA, 10);
    a->ModifyRecord(bufA.data(), true, true);
    EXPECT_EQ(a->LockedRecord(), 0u);
    if (Pessimistic()) {
        // Free now, but b's copy is out of date.
        EXPECT_EQ(CodeOf([&] { (void)b->GetCurrentRecord(bufB.data(), true); }), err::RecordChanged);
    } else {
        SetNum(*b, bufB, 20);
        EXPECT_EQ(CodeOf([&] { b->ModifyRecord(bufB.data(), true, true); }), err::RecordChanged);
        EXPECT_TRUE(b->ConflictSeen());
        // Every further post fails until the edit is cancelled.
        EXPECT_EQ(CodeOf([&] { b->ModifyRecord(bufB.data(), true, true); }), err::RecordChanged);
        b->CancelRecord();
        EXPECT_FALSE(b->ConflictSeen());
    }
    // A delete with an old copy deletes nothing.
    EXPECT_EQ(CodeOf([&] { b->DeleteRecord(bufB.data(), false); }), err::RecordChanged);
    ReadRecord(*b, "shared", bufB);
    EXPECT_EQ(NumOf(*b, bufB), 10);
    ASSERT_EQ(b->GetCurrentRecord(bufB.data(), true), 0);
    SetNum(*b, bufB, 11);
    b->ModifyRecord(bufB.data(), true, true);
    const Inspection seen = Inspect(a->Table());
    EXPECT_EQ(seen.problems, "");
    EXPECT_EQ(seen.rows.at("shared").num, 11);
    EXPECT_EQ(seen.rows.at("shared").data, "blob");
    EXPECT_TRUE(a->Table().CursorLockedRecords().Count() == 0);
}

TEST_P(CursorEditLocks, CancelAndCloseGiveTheLockBack) {
    auto a = fx.Open();
    auto b = fx.Open();
    std::vector<std::uint8_t> bufA, bufB;
    ReadRecord(*a, "shared", bufA);
    ReadRecord(*b, "shared", bufB);
    ASSERT_EQ(a->GetCurrentRecord(bufA.data(), true), 0);
    a->CancelRecord();
    EXPECT_EQ(b->GetCurrentRecord(bufB.data(), true), 0);
    (void)a->GetCurrentRecord(bufA.data());
    if (Pessimistic()) {
        EXPECT_EQ(CodeOf([&] { (void)a->GetCurrentRecord(bufA.data(), true); }), err::RecordLocked);
    }
    b->CloseCursor();
    EXPECT_EQ(a->GetCurrentRecord(bufA.data(), true), 0);
    // The edit's own cursor deletes the record it holds.
    a->DeleteRecord(bufA.data(), true);
    EXPECT_EQ(a->LockedRecord(), 0u);
    EXPECT_EQ(a->Table().CursorLockedRecords().Count(), 0u);
    EXPECT_EQ(Inspect(a->Table()).rows.count("shared"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, CursorEditLocks,
                         ::testing::Values(TLockProtocol::lpPessimistic, TLockProtocol::lpOptimistic),
                         ProtocolName);

// ---- between processes ----------------------------------------------------------------------

// One process's own session and cursor on the fixture's table.
struct ProcessCursor {
    ProcessCursor(const std::string& folder, TLockProtocol protocol, std::uint8_t retries = 2)
        : session(coretest::FastSession(retries, 1)), directory(session->OpenDataDirectory("PH", folder)),
          cursor(*directory) {
        session->SetLockProtocol(protocol);
        cursor.TableName = "Edits";
        cursor.OpenCursor();
    }
    std::unique_ptr<TDataSession> session;
    TDataDirectory* directory;
    TDataCursor cursor;
};

class CursorEditProcesses : public ::testing::TestWithParam<TLockProtocol> {
protected:
    void SetUp() override {
        // The table is made and closed before any child is forked.
        EditFixture made;
        folder = made.Folder();
        {
            auto cursor = made.Open();
            Append(*cursor, {"counter", 0, "c", "", "x"});
            Append(*cursor, {"other", 0, "o", "", ""});
        }
        // Keep the folder: the fixture's temporary folder goes with it.
        keep = std::make_unique<pixhold::test::TempDir>();
        folder = keep->folder();
        for (const char* ext : {".DAT", ".IDX", ".BLB"})
            std::filesystem::copy_file(made.FilePath(ext), folder + "Edits" + ext);
    }
    std::unique_ptr<pixhold::test::TempDir> keep;
    std::string folder;
};

// Two processes add 1 to the same field many times over, each edit read,
// locked, changed and posted; a refused edit is read again and repeated.
TEST_P(CursorEditProcesses, TwoProcessesIncrementingOneRecordLoseNoUpdate) {
    constexpr int kPerProcess = 40;
    const TLockProtocol protocol = GetParam();
    auto incrementer = [this, protocol](ChildProcess::Channel& parent) {
        ProcessCursor mine(folder, protocol);
        parent.Send('R');
        if (parent.Receive() != 'G') return 2;
        std::vector<std::uint8_t> buffer;
        int refused = 0;
        for (int i = 0; i < kPerProcess;) {
            ReadRecord(mine.cursor, "counter", buffer);
            try {
                if (mine.cursor.GetCurrentRecord(buffer.data(), true) != 0) return 3;
                SetNum(mine.cursor, buffer, NumOf(mine.cursor, buffer) + 1);
                // Hold the edit a moment so that the other process runs into it.
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                mine.cursor.ModifyRecord(buffer.data(), true, false);
                ++i;
            } catch (const ECofferEngineError& e) {
                if (e.ErrorCode() != err::RecordLocked && e.ErrorCode() != err::RecordChanged) return 4;
                mine.cursor.CancelRecord();
                ++refused;
            }
        }
        parent.Send(refused > 0 ? 'C' : 'D');
        return 0;
    };
    ChildProcess first(incrementer);
    ChildProcess second(incrementer);
    ASSERT_EQ(first.Receive(), 'R');
    ASSERT_EQ(second.Receive(), 'R');
    first.Send('G');
    second.Send('G');
    const char a = first.Receive();
    const char b = second.Receive();
    EXPECT_TRUE(a == 'C' || a == 'D');
    EXPECT_TRUE(b == 'C' || b == 'D');
    // The edits did run into each other (else the test proves nothing).
    EXPECT_TRUE(a == 'C' || b == 'C');
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);

    ProcessCursor check(folder, protocol);
    std::vector<std::uint8_t> buffer;
    ReadRecord(check.cursor, "counter", buffer);
    EXPECT_EQ(NumOf(check.cursor, buffer), 2 * kPerProcess);
    const Inspection seen = Inspect(check.cursor.Table());
    EXPECT_EQ(seen.problems, "");
    EXPECT_EQ(seen.rows.at("counter").data, "x");
}

// The errors another process's edit gives, step by step.
TEST_P(CursorEditProcesses, AnotherProcessesEditGivesTheProtocolsErrors) {
    const TLockProtocol protocol = GetParam();
    ChildProcess child([this, protocol](ChildProcess::Channel& parent) {
        ProcessCursor mine(folder, protocol);
        std::vector<std::uint8_t> buffer;
        ReadRecord(mine.cursor, "counter", buffer);
        if (mine.cursor.GetCurrentRecord(buffer.data(), true) != 0) return 2;
        parent.Send('E');  // editing
        if (parent.Receive() != 'P') return 3;
        SetNum(mine.cursor, buffer, 99);
        mine.cursor.ModifyRecord(buffer.data(), true, false);
        parent.Send('W');  // written
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'E');
    ProcessCursor mine(folder, protocol);
    std::vector<std::uint8_t> buffer;
    ReadRecord(mine.cursor, "counter", buffer);
    if (protocol == TLockProtocol::lpPessimistic) {
        // Held by the other process: refused after the retries.
        EXPECT_EQ(CodeOf([&] { (void)mine.cursor.GetCurrentRecord(buffer.data(), true); }), err::RecordLocked);
        EXPECT_EQ(CodeOf([&] { mine.cursor.DeleteRecord(buffer.data(), false); }), err::RecordLocked);
    } else {
        EXPECT_EQ(mine.cursor.GetCurrentRecord(buffer.data(), true), 0);
    }
    child.Send('P');
    ASSERT_EQ(child.Receive(), 'W');
    if (protocol == TLockProtocol::lpPessimistic) {
        EXPECT_EQ(CodeOf([&] { (void)mine.cursor.GetCurrentRecord(buffer.data(), true); }), err::RecordChanged);
    } else {
        SetNum(mine.cursor, buffer, 5);
        EXPECT_EQ(CodeOf([&] { mine.cursor.ModifyRecord(buffer.data(), true, false); }), err::RecordChanged);
        mine.cursor.CancelRecord();
    }
    // A delete with the copy read before the other's change deletes nothing.
    EXPECT_EQ(CodeOf([&] { mine.cursor.DeleteRecord(buffer.data(), false); }), err::RecordChanged);
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
    ReadRecord(mine.cursor, "counter", buffer);
    EXPECT_EQ(NumOf(mine.cursor, buffer), 99);
}

// A read lock taken for records and keys leaves the BLOB file to the first
// BLOB read under it; that read must still see another process's BLOB
// changes: a value past the block count this process held, and a value
// written into blocks it wrote itself.
TEST_P(CursorEditProcesses, BlobsChangedByAnotherProcessAreReadAsTheyAreNow) {
    const TLockProtocol protocol = GetParam();
    const std::string first(100, 'f');
    const std::string second(300, 's');
    const std::string third(200, 't');
    const std::string late(5000, 'l');
    ChildProcess child([&, protocol](ChildProcess::Channel& parent) {
        ProcessCursor mine(folder, protocol);
        parent.Send('O');
        if (parent.Receive() != 'c') return 2;
        std::vector<std::uint8_t> buffer;
        // The second value takes new blocks and frees those of the first;
        // the third takes them again.
        for (const std::string* value : {&second, &third}) {
            ReadRecord(mine.cursor, "counter", buffer);
            if (mine.cursor.GetCurrentRecord(buffer.data(), true) != 0) return 3;
            Fill(mine.cursor, buffer, {"counter", 0, "c", "", *value});
            mine.cursor.ModifyRecord(buffer.data(), true, true);
        }
        // The freed blocks taken, the late value's start past the end the
        // other process knows.
        Append(mine.cursor, {"pad", 6, "p", "", second});
        Append(mine.cursor, {"late", 7, "l", "", late});
        parent.Send('C');
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'O');
    ProcessCursor mine(folder, protocol);
    std::vector<std::uint8_t> buffer;
    // Changed here first: this process holds the BLOB header as it was
    // before the other's changes.
    ReadRecord(mine.cursor, "counter", buffer);
    ASSERT_EQ(mine.cursor.GetCurrentRecord(buffer.data(), true), 0);
    Fill(mine.cursor, buffer, {"counter", 0, "c", "", first});
    mine.cursor.ModifyRecord(buffer.data(), true, true);
    child.Send('c');
    ASSERT_EQ(child.Receive(), 'C');
    // Records and keys are looked at again; the BLOB file not yet.
    mine.cursor.Refresh();
    ReadRecord(mine.cursor, "late", buffer);
    EXPECT_EQ(ValuesOf(mine.cursor, buffer).data, late);
    ReadRecord(mine.cursor, "counter", buffer);
    EXPECT_EQ(ValuesOf(mine.cursor, buffer).data, third);
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Protocols, CursorEditProcesses,
                         ::testing::Values(TLockProtocol::lpPessimistic, TLockProtocol::lpOptimistic),
                         ProtocolName);

}  // namespace
}  // namespace pixhold::engine
