#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ByteCodec.h"
#include "Cipher.h"
#include "DataFile.h"
#include "DataFileTestSupport.h"
#include "FaultPlan.h"
#include "FileHandler.h"
#include "TempDir.h"

namespace pixhold::engine {
namespace {

using test::CodeOf;
using test::datafile::FakeCursor;
using test::datafile::FakeOwner;
using test::datafile::Field;

std::vector<std::uint8_t> I32(std::int32_t v) {
    std::vector<std::uint8_t> b(4);
    bytes::PutI32(b.data(), 0, v);
    return b;
}

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

void Put(TDataFile& file, TRecord& record, std::uint16_t field, const std::vector<std::uint8_t>& value) {
    file.PutField(record, field, value.data(), value.size());
}

std::optional<std::vector<std::uint8_t>> Get(TDataFile& file, const TRecord& record, std::uint16_t field) {
    std::vector<std::uint8_t> value;
    if (!file.GetField(record, field, value)) return std::nullopt;
    return value;
}

// The string as stored in a slot of `size` characters (zero-terminated).
std::vector<std::uint8_t> StoredString(const std::string& s, std::size_t size) {
    std::vector<std::uint8_t> b(size + 1, 0);
    std::copy(s.begin(), s.end(), b.begin());
    return b;
}

// A table of an integer and a 20-character string: record size 9 + 5 + 22 = 36.
std::vector<FieldDescriptor> IntAndText() {
    return {Field("Num", fieldtype::Integer), Field("Txt", fieldtype::String, 20)};
}

class DataFileRecords : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& file : files_) {
            if (file->IsOpen()) file->CloseFile();
        }
        for (auto& file : files_) {
            if (file->FileExists()) file->DeleteFile();
        }
    }

    TDataFile& Create(const std::vector<FieldDescriptor>& fields, const DataFileParams& params = {}) {
        files_.push_back(test::datafile::CreateDataFile(owner, test::datafile::MemoryName("records"), true, fields, params));
        return *files_.back();
    }
    // A second opening of the same file, as another table object would have.
    TDataFile& OpenAgain(const TDataFile& other) {
        auto file = std::make_unique<TDataFile>(owner);
        test::Describe(*file, other.Name, other.InMemory);
        file->OpenFile();
        files_.push_back(std::move(file));
        return *files_.back();
    }
    void Reopen(TDataFile& file) {
        test::datafile::WriteAll(file);
        file.CloseFile();
        file.OpenFile();
        file.ValidateHeader();
    }
    // Appends a record with the values and returns its number.
    std::uint32_t Append(TDataFile& file, std::int32_t num, const std::string& txt) {
        TRecord* r = file.AllocateRecord(&cursor);
        Put(file, *r, 1, I32(num));
        Put(file, *r, 2, Text(txt));
        const std::uint32_t n = r->RecordNumber();
        file.ReleaseRecord(r);
        return n;
    }
    void Free(TDataFile& file, std::uint32_t number) {
        TRecord* r = file.GetRecord(&cursor, number);
        ASSERT_NE(r, nullptr);
        file.FreeRecord(r);
        file.ReleaseRecord(r);
    }
    std::uint64_t Count(FileOp op) const { return plan_->Count(op); }

    FakeOwner owner;
    FakeCursor cursor;
    std::vector<std::unique_ptr<TDataFile>> files_;
    std::shared_ptr<TFaultPlan> plan_ = std::make_shared<TFaultPlan>(".Dat");
    ScopedFaultPlan scopedPlan_{plan_};
};

// ---- every type survives create, fill, close and reopen ---------------------

TEST_F(DataFileRecords, EveryTypeComesBackAfterCloseAndReopenOfAPhysicalFile) {
    pixhold::test::TempDir dir;
    const std::vector<FieldDescriptor> fields = {
        Field("S", fieldtype::String, 12),      Field("D", fieldtype::Date),
        Field("B", fieldtype::Blob, 0, fieldsubtype::Memo), Field("L", fieldtype::Boolean),
        Field("Si", fieldtype::SmallInt),       Field("I", fieldtype::Integer),
        Field("Ai", fieldtype::Integer, 0, fieldsubtype::AutoInc), Field("F", fieldtype::Float),
        Field("M", fieldtype::Float, 0, fieldsubtype::Money), Field("Dc", fieldtype::Decimal),
        Field("By", fieldtype::Bytes, 6),       Field("T", fieldtype::Time),
        Field("Dt", fieldtype::DateTime),       Field("W", fieldtype::Word),
        Field("Vb", fieldtype::VarBytes, 9),    Field("Li", fieldtype::LargeInt),
    };
    const std::string name = (dir / "Every.Dat").string();
    std::map<std::uint32_t, std::map<std::uint16_t, std::vector<std::uint8_t>>> expected;
    std::map<std::uint32_t, std::uint32_t> ids;
    {
        auto file = test::datafile::CreateDataFile(owner, name, false, fields);
        for (int i = 0; i < 40; ++i) {
            TRecord* r = file->AllocateRecord(&cursor);
            auto& values = expected[r->RecordNumber()];
            ids[r->RecordNumber()] = r->RecordID();
            for (std::uint16_t f = 1; f <= fields.size(); ++f) {
                const FieldDescriptor& d = file->Fields()[f - 1u];
                if (d.IsAutoInc()) continue;
                if ((i + f) % 5 == 0) continue;  // left null
                std::vector<std::uint8_t> v(d.physicalSize);
                for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<std::uint8_t>(i * 31 + f * 7 + k + 1);
                if (d.type == fieldtype::String) v = StoredString("s" + std::to_string(i), d.size);
                if (d.type == fieldtype::Boolean) v = {1, 0};
                Put(*file, *r, f, v);
                values[f] = v;
            }
            file->ReleaseRecord(r);
        }
        test::datafile::WriteAll(*file);
        file->CloseFile();
    }
    TDataFile file(owner);
    test::Describe(file, name, false);
    file.OpenFile();
    file.ValidateHeader();
    ASSERT_EQ(file.PhysicalRecordCount(), 40u);
    for (std::uint32_t n = 1; n <= 40; ++n) {
        TRecord* r = file.GetRecord(&cursor, n, true);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->Status(), 0);
        EXPECT_EQ(r->Link(), n);
        EXPECT_EQ(r->RecordID(), ids[n]);
        for (std::uint16_t f = 1; f <= fields.size(); ++f) {
            const auto value = Get(file, *r, f);
            if (file.Fields()[f - 1u].IsAutoInc()) {
                ASSERT_TRUE(value.has_value()) << "an auto-increment field is never null";
                EXPECT_EQ(*value, I32(static_cast<std::int32_t>(ids[n])));
            } else if (expected[n].count(f) != 0) {
                EXPECT_EQ(value, expected[n][f]) << "record " << n << " field " << f;
            } else {
                EXPECT_FALSE(value.has_value()) << "record " << n << " field " << f;
            }
        }
        file.ReleaseRecord(r);
    }
    file.CloseFile();
}

TEST_F(DataFileRecords, StringsLoseTrailingBlanksTakeTheFieldCaseAndAreNullWhenEmpty) {
    auto upper = Field("U", fieldtype::String, 8);
    upper.characterCase = charcase::Upper;
    auto lower = Field("L", fieldtype::String, 8);
    lower.characterCase = charcase::Lower;
    DataFileParams turkish;
    turkish.languageID = 1055;  // tr-TR: dotted and dotless i
    TDataFile& file = Create({Field("S", fieldtype::String, 4), upper, lower}, turkish);
    TRecord* r = file.AllocateRecord(&cursor);
    Put(file, *r, 1, Text("ab  "));
    EXPECT_EQ(Get(file, *r, 1), StoredString("ab", 4));
    Put(file, *r, 1, Text("    "));
    EXPECT_FALSE(Get(file, *r, 1).has_value());
    Put(file, *r, 1, Text(""));
    EXPECT_FALSE(Get(file, *r, 1).has_value());
    Put(file, *r, 1, Text("abcdefgh"));  // cut to the declared size
    EXPECT_EQ(Get(file, *r, 1), StoredString("abcd", 4));
    Put(file, *r, 2, Text("istanbul"));
    EXPECT_EQ(Get(file, *r, 2), StoredString("\xC4\xB0STANBU", 8));  // "İSTANBU": cut at a character boundary
    Put(file, *r, 3, Text("ISIK"));
    EXPECT_EQ(Get(file, *r, 3), StoredString("\xC4\xB1s\xC4\xB1k", 8));  // "ısık"
    file.ReleaseRecord(r);
}

TEST_F(DataFileRecords, ReadOnlyAndAutoIncrementFieldsIgnoreWrites) {
    auto ro = Field("Ro", fieldtype::Integer);
    ro.readOnly = 1;
    TDataFile& file = Create({Field("Id", fieldtype::Integer, 0, fieldsubtype::AutoInc), ro});
    EXPECT_EQ(file.RecordSize(), 9u);
    TRecord* r = file.AllocateRecord(&cursor, 77u);
    Put(file, *r, 1, I32(5));
    Put(file, *r, 2, I32(5));
    EXPECT_EQ(Get(file, *r, 1), I32(77));
    EXPECT_FALSE(Get(file, *r, 2).has_value());
    file.ReleaseRecord(r);
    EXPECT_EQ(file.Header().lastRecordID, 0u) << "a supplied identifier does not use the counter";
}

// ---- free chain -------------------------------------------------------------

TEST_F(DataFileRecords, FreedRecordsAreReusedLastInFirstOutAlsoAfterReopen) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 10; ++i) Append(file, i, "r");
    Free(file, 3);
    Free(file, 7);
    Reopen(file);
    EXPECT_EQ(file.Header().firstFree, 7u);
    EXPECT_EQ(Append(file, 100, "a"), 7u);
    EXPECT_EQ(Append(file, 101, "b"), 3u);
    EXPECT_EQ(Append(file, 102, "c"), 11u);
    EXPECT_EQ(file.Header().firstFree, 0u);
    // A reused record is a fresh image with a new identifier.
    TRecord* r = file.GetRecord(&cursor, 7);
    EXPECT_EQ(r->Status(), 0);
    EXPECT_EQ(r->Link(), 7u);
    EXPECT_EQ(r->RecordID(), 11u);
    EXPECT_EQ(Get(file, *r, 1), I32(100));
    file.ReleaseRecord(r);
}

TEST_F(DataFileRecords, FreeingARecordTwiceLeavesTheChainIntact) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 3; ++i) Append(file, i, "r");
    Free(file, 1);
    Free(file, 2);
    Free(file, 2);
    EXPECT_EQ(Append(file, 7, "a"), 2u);
    EXPECT_EQ(Append(file, 8, "b"), 1u);
    EXPECT_EQ(Append(file, 9, "c"), 4u);
}

TEST_F(DataFileRecords, WithoutReuseFreedRecordsStayFreeAndNewOnesGoToTheEnd) {
    TDataFile& file = Create(IntAndText());
    file.SetReuseDeletedRecords(false);
    for (int i = 1; i <= 4; ++i) Append(file, i, "r");
    Free(file, 2);
    Free(file, 3);
    EXPECT_EQ(Append(file, 5, "e"), 5u);
    TRecord* r = file.GetRecord(&cursor, 3);
    EXPECT_TRUE(r->IsDeleted());
    EXPECT_EQ(r->Link(), 0u);
    file.ReleaseRecord(r);
}

TEST_F(DataFileRecords, ADamagedFreeChainNeitherLoopsNorLeavesTheRecords) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 3; ++i) Append(file, i, "r");
    Free(file, 2);
    TRecord* r = file.GetRecord(&cursor, 2);
    r->SetLink(2);  // points at itself
    file.ReleaseRecord(r);
    EXPECT_EQ(Append(file, 9, "x"), 2u);
    EXPECT_EQ(file.Header().firstFree, 0u);
    EXPECT_EQ(Append(file, 10, "y"), 4u);
}

// ---- identifiers and limits ---------------------------------------------------

TEST_F(DataFileRecords, IdentifiersContinueAtOneAfterTheLargestValue) {
    TDataFile& file = Create(IntAndText());
    file.SetRecordIDCounter(2147483646);
    EXPECT_EQ(file.NextRecordID(), 2147483647u);
    EXPECT_EQ(file.NextRecordID(), 1u);
    EXPECT_EQ(file.NextRecordID(), 2u);

    test::WriteAt(file, 112, std::string("\xFF\xFF\xFF\x7F", 4));  // last BLOB owner 2147483647
    file.ReadHeader();
    EXPECT_EQ(file.NextBlobOwnerID(), 1u);
    EXPECT_TRUE(file.HeaderIsChanged());

    EXPECT_TRUE(file.WriteHeader());
    file.SetRecordIDCounter(file.Header().lastRecordID);
    EXPECT_FALSE(file.WriteHeader()) << "setting the same value marks nothing";
}

TEST_F(DataFileRecords, AppendingPastTheRecordOrByteLimitGivesTableFull) {
    TDataFile& small = Create({Field("N", fieldtype::SmallInt)});  // 12-byte records
    ASSERT_EQ(small.RecordSize(), 12u);
    test::WriteAt(small, 13, std::string("\x00\xC2\xEB\x0B", 4));  // next record number 200000000
    small.ReadHeader();
    TRecord* last = small.AllocateRecord(&cursor);
    EXPECT_EQ(last->RecordNumber(), 200000000u);
    small.ReleaseRecord(last);
    EXPECT_EQ(CodeOf([&] { small.AllocateRecord(&cursor); }), err::TableFull);
    small.ClearRecordCache();  // nothing of this is to reach the file

    // Records of 261 bytes: 127 + 768 + a x 261 may reach 4000000000, not pass it.
    TDataFile& wide = Create({Field("B", fieldtype::Bytes, 251)});
    ASSERT_EQ(wide.RecordSize(), 261u);
    const std::uint32_t fits = (4000000000u - 127u - 768u) / 261u;
    std::string next(4, '\0');
    bytes::PutU32(reinterpret_cast<std::uint8_t*>(next.data()), 0, fits);
    test::WriteAt(wide, 13, next);
    wide.ReadHeader();
    TRecord* r = wide.AllocateRecord(&cursor);
    EXPECT_EQ(r->RecordNumber(), fits);
    wide.ReleaseRecord(r);
    EXPECT_EQ(CodeOf([&] { wide.AllocateRecord(&cursor); }), err::TableFull);
    wide.ClearRecordCache();
}

TEST_F(DataFileRecords, CreationLimits) {
    auto blobs = [](int n) {
        std::vector<FieldDescriptor> f;
        for (int i = 0; i < n; ++i) f.push_back(Field("B" + std::to_string(i), fieldtype::Blob));
        return f;
    };
    EXPECT_EQ(CodeOf([&] { Create(blobs(128)); }), 0);
    EXPECT_EQ(CodeOf([&] { Create(blobs(129)); }), err::BlobFieldLimits);
    std::vector<FieldDescriptor> wide;
    for (int i = 0; i < 260; ++i) wide.push_back(Field("S" + std::to_string(i), fieldtype::String, 250));
    wide.push_back(Field("A", fieldtype::SmallInt));
    wide.push_back(Field("B", fieldtype::SmallInt));
    EXPECT_EQ(CodeOf([&] { Create(wide); }), 0);  // 9 + 260 x 252 + 2 x 3 = 65535
    wide.push_back(Field("C", fieldtype::Boolean));
    EXPECT_EQ(CodeOf([&] { Create(wide); }), err::RecordTooBig);
    DataFileParams encrypted;
    encrypted.encrypted = true;
    encrypted.password = "   ";
    EXPECT_EQ(CodeOf([&] { Create(IntAndText(), encrypted); }), err::InvalidPassword);
}

TEST_F(DataFileRecords, OpeningChecksFormatMarkAndFieldCountAndClosesOnFailure) {
    TDataFile& file = Create(IntAndText());
    file.CloseFile();
    test::Describe(file, file.Name, true);
    file.OpenFile();
    test::WriteAt(file, 23, std::string("\x01\x04", 2));  // 1025 fields
    file.CloseFile();
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), err::HeaderCorrupt);
    EXPECT_FALSE(file.IsOpen());

    TDataFile& other = Create(IntAndText());
    test::WriteAt(other, 8, std::string("\x04", 1));
    other.CloseFile();
    EXPECT_EQ(CodeOf([&] { other.OpenFile(); }), err::WrongVersion);
    EXPECT_FALSE(other.IsOpen());
}

TEST_F(DataFileRecords, RecordNumberZeroOrPastTheFileIsAnError) {
    TDataFile& file = Create(IntAndText());
    Append(file, 1, "a");
    test::datafile::WriteAll(file);
    EXPECT_EQ(CodeOf([&] { file.GetRecord(&cursor, 0); }), err::RecordBuffersCorrupt);
    EXPECT_EQ(CodeOf([&] { file.GetRecord(&cursor, 5); }), err::ReadError);
}

TEST_F(DataFileRecords, EmptyFileDropsEveryRecordAndStartsTheCountersAgain) {
    owner.forceBufferFlush = true;
    TDataFile& file = Create(IntAndText());
    for (int i = 0; i < 5; ++i) Append(file, i, "x");
    Free(file, 2);
    test::datafile::WriteAll(file);
    const std::int32_t counter = file.Header().changeCounter;
    const std::uint64_t flushes = Count(FileOp::Flush);
    file.EmptyFile();
    EXPECT_EQ(file.GetFileSize(), 127 + 2 * 768);
    EXPECT_EQ(file.PhysicalRecordCount(), 0u);
    EXPECT_EQ(file.Header().firstFree, 0u);
    EXPECT_EQ(file.Header().lastRecordID, 0u);
    EXPECT_GT(Count(FileOp::Flush), flushes);
    EXPECT_TRUE(file.WriteHeader());
    EXPECT_GT(file.Header().changeCounter, counter) << "other users must see the change";
    TRecord* r = file.AllocateRecord(&cursor);
    EXPECT_EQ(r->RecordNumber(), 1u);
    EXPECT_EQ(r->RecordID(), 1u);
    file.ReleaseRecord(r);
    Reopen(file);
}

// ---- header and descriptors -------------------------------------------------

TEST_F(DataFileRecords, HeaderChangesAreSeenThroughTheChangeCounter) {
    TDataFile& mine = Create(IntAndText());
    TDataFile& theirs = OpenAgain(mine);
    EXPECT_FALSE(theirs.HeaderChanged());
    Append(mine, 1, "a");
    test::datafile::WriteAll(mine);
    EXPECT_TRUE(theirs.HeaderChanged());
    EXPECT_EQ(theirs.PhysicalRecordCount(), 1u);
    EXPECT_FALSE(theirs.HeaderChanged());
    mine.MarkHeaderChanged();  // the counter moves at once in memory
    EXPECT_TRUE(mine.WriteHeader());
    EXPECT_TRUE(theirs.HeaderChanged());
    EXPECT_EQ(theirs.Header().changeCounter, mine.Header().changeCounter);
}

TEST_F(DataFileRecords, FieldLookupAndDescriptorUpdates) {
    TDataFile& file = Create(IntAndText());
    EXPECT_EQ(file.FieldIndexByName("TXT"), 2);
    EXPECT_EQ(file.FieldIndexByName("nope"), 0);
    ASSERT_NE(file.FindFieldByName("num"), nullptr);
    EXPECT_EQ(file.FindFieldByName("num")->name, "Num");
    EXPECT_EQ(file.FindFieldByNumber(3), nullptr);
    EXPECT_EQ(CodeOf([&] { file.GetFieldDescriptor(0); }), err::InvalidField);

    FieldDescriptor changed = file.GetFieldDescriptor(2);
    changed.name = "Title";
    changed.description = "about";
    changed.required = 1;
    changed.minimum = "a";
    changed.maximum = "z";
    changed.defaultValue = "m";
    changed.subtype = fieldsubtype::FixedChar;
    changed.type = fieldtype::Integer;  // not taken
    changed.size = 99;                  // not taken
    changed.offset = 1;                 // not taken
    file.UpdateFieldDescriptor(2, changed);
    EXPECT_TRUE(file.DescriptorsChanged());
    Reopen(file);
    const FieldDescriptor stored = file.GetFieldDescriptor(2);
    EXPECT_EQ(stored.name, "Title");
    EXPECT_EQ(stored.description, "about");
    EXPECT_EQ(stored.required, 1);
    EXPECT_EQ(stored.minimum, "a");
    EXPECT_EQ(stored.maximum, "z");
    EXPECT_EQ(stored.defaultValue, "m");
    EXPECT_EQ(stored.subtype, fieldsubtype::FixedChar);
    EXPECT_EQ(stored.type, fieldtype::String);
    EXPECT_EQ(stored.size, 20);
    EXPECT_EQ(stored.offset, 14);
}

TEST_F(DataFileRecords, DescriptorWritesFlushOnlyWhenTheSessionForcesIt) {
    TDataFile& file = Create(IntAndText());
    FieldDescriptor f = file.GetFieldDescriptor(1);
    f.description = "x";
    const std::uint64_t flushes = Count(FileOp::Flush);
    file.UpdateFieldDescriptor(1, f);
    file.WriteFieldDescriptors();
    EXPECT_EQ(Count(FileOp::Flush), flushes);
    owner.forceBufferFlush = true;
    const std::uint64_t writes = Count(FileOp::Write);
    file.WriteFieldDescriptors();  // nothing changed: nothing written
    EXPECT_EQ(Count(FileOp::Write), writes);
    file.UpdateFieldDescriptor(1, f);
    file.WriteFieldDescriptors();
    EXPECT_EQ(Count(FileOp::Flush), flushes + 1);
}

// ---- locks ------------------------------------------------------------------

TEST_F(DataFileRecords, TableAndRecordLockRegions) {
    ScopedLockRetries quick({2, 0});
    TDataFile& file = Create(IntAndText());
    EXPECT_TRUE(file.LockRecordRegion(1));
    EXPECT_TRUE(file.LockRecordRegion(2));
    EXPECT_FALSE(file.LockRecordRegion(1)) << "locks have no owner: a second lock fails";
    EXPECT_TRUE(file.UnlockRecordRegion(1));
    EXPECT_FALSE(file.UnlockRecordRegion(1));
    EXPECT_TRUE(file.LockRecordRegion(1));
    EXPECT_TRUE(file.LockTableRegion());
    EXPECT_FALSE(file.LockTableRegion());
    EXPECT_TRUE(file.UnlockTableRegion());
    EXPECT_TRUE(file.UnlockRecordRegion(1));
    EXPECT_TRUE(file.UnlockRecordRegion(2));
}

// ---- cache ------------------------------------------------------------------

TEST_F(DataFileRecords, ReadAheadFillsTheCacheInOneTransferForwardAndBackward) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 100; ++i) Append(file, i, "r");
    test::datafile::WriteAll(file);
    ASSERT_EQ(file.ReadAheadCount(), 8192u / 36u);
    ASSERT_EQ(file.CacheCapacity(), 16384u / 36u);

    struct Case {
        std::uint32_t record;
        bool readAhead;
        ReadDirection direction;
        std::uint32_t suggestion;
        std::size_t cached;
        std::uint32_t lowest;
    };
    const Case cases[] = {
        {10, false, ReadDirection::Forward, 0, 1, 10},
        {10, true, ReadDirection::Forward, 0, 91, 10},
        {50, true, ReadDirection::Backward, 0, 50, 1},
        {50, true, ReadDirection::Forward, 5, 5, 50},
        {50, true, ReadDirection::Backward, 5, 5, 46},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("record " + std::to_string(c.record));
        file.ClearRecordCache();
        cursor.suggestion = c.suggestion;
        const std::uint64_t reads = Count(FileOp::Read);
        TRecord* r = file.GetRecord(&cursor, c.record, c.readAhead, c.direction);
        EXPECT_EQ(Count(FileOp::Read), reads + 1);
        EXPECT_EQ(file.CachedRecordCount(), c.cached);
        EXPECT_EQ(Get(file, *r, 1), I32(static_cast<std::int32_t>(c.record)));
        file.ReleaseRecord(r);
        // Every record of the run is served from the cache now.
        for (std::uint32_t n = c.lowest; n < c.lowest + c.cached; ++n) {
            TRecord* again = file.GetRecord(&cursor, n);
            EXPECT_EQ(Get(file, *again, 1), I32(static_cast<std::int32_t>(n)));
            file.ReleaseRecord(again);
        }
        EXPECT_EQ(Count(FileOp::Read), reads + 1);
    }
    cursor.suggestion = 0;
}

TEST_F(DataFileRecords, AMissAsksTheCursorForChangesUnlessDetectionIsStrict) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 3; ++i) Append(file, i, "r");
    test::datafile::WriteAll(file);
    file.ClearRecordCache();
    cursor.changedOnce = true;
    EXPECT_EQ(file.GetRecord(&cursor, 2), nullptr) << "the caller starts again";
    EXPECT_EQ(cursor.changeChecks, 1);
    TRecord* r = file.GetRecord(&cursor, 2);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(cursor.changeChecks, 2);
    file.ReleaseRecord(r);
    r = file.GetRecord(&cursor, 2);  // a hit asks nothing
    file.ReleaseRecord(r);
    EXPECT_EQ(cursor.changeChecks, 2);
    owner.strictChangeDetection = true;
    r = file.GetRecord(&cursor, 3);
    file.ReleaseRecord(r);
    EXPECT_EQ(cursor.changeChecks, 2);
}

TEST_F(DataFileRecords, FlushWritesEachRunOfConsecutiveRecordsWithOneWrite) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 10; ++i) Append(file, i, "r");
    test::datafile::WriteAll(file);
    EXPECT_FALSE(file.FlushRecords());
    for (std::uint32_t n : {2u, 3u, 4u, 7u, 8u, 10u}) {
        TRecord* r = file.GetRecord(&cursor, n);
        Put(file, *r, 1, I32(static_cast<std::int32_t>(n * 100)));
        file.ReleaseRecord(r);
    }
    TRecord* pinned = file.GetRecord(&cursor, 8);  // pinned records wait
    const std::uint64_t writes = Count(FileOp::Write);
    EXPECT_TRUE(file.FlushRecords());
    EXPECT_EQ(Count(FileOp::Write), writes + 3);  // 2-4, 7, 10
    file.ReleaseRecord(pinned);
    EXPECT_TRUE(file.FlushRecords());
    EXPECT_EQ(Count(FileOp::Write), writes + 4);
    file.ClearRecordCache();
    for (std::uint32_t n = 1; n <= 10; ++n) {
        TRecord* r = file.GetRecord(&cursor, n);
        const bool changed = n == 2 || n == 3 || n == 4 || n == 7 || n == 8 || n == 10;
        EXPECT_EQ(Get(file, *r, 1), I32(static_cast<std::int32_t>(changed ? n * 100 : n)));
        file.ReleaseRecord(r);
    }
}

TEST_F(DataFileRecords, AFailedWriteKeepsTheRecordsModifiedForTheNextFlush) {
    TDataFile& file = Create(IntAndText());
    Append(file, 1, "a");
    Append(file, 2, "b");
    plan_->FailNth(FileOp::Write, Count(FileOp::Write) + 1);
    EXPECT_EQ(CodeOf([&] { file.FlushRecords(); }), err::WriteError);
    EXPECT_TRUE(file.FlushRecords());
    Reopen(file);
    TRecord* r = file.GetRecord(&cursor, 2);
    EXPECT_EQ(Get(file, *r, 2), StoredString("b", 20));
    file.ReleaseRecord(r);
}

TEST_F(DataFileRecords, AFailedReadLeavesNothingPinnedOrHalfCached) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 5; ++i) Append(file, i, "r");
    test::datafile::WriteAll(file);
    file.ClearRecordCache();
    plan_->FailNth(FileOp::Read, Count(FileOp::Read) + 1);
    EXPECT_EQ(CodeOf([&] { file.GetRecord(&cursor, 3, true); }), err::ReadError);
    EXPECT_EQ(file.CachedRecordCount(), 0u);
    TRecord* r = file.GetRecord(&cursor, 3, true);
    EXPECT_EQ(r->PinCount(), 1);
    file.ReleaseRecord(r);
}

TEST_F(DataFileRecords, AFailedHeaderWriteStaysMarkedAndAFailedOpenClosesTheFile) {
    TDataFile& file = Create(IntAndText());
    Append(file, 1, "a");
    file.FlushRecords();
    plan_->FailNth(FileOp::Write, Count(FileOp::Write) + 1);
    EXPECT_EQ(CodeOf([&] { file.WriteHeader(); }), err::WriteError);
    EXPECT_TRUE(file.HeaderIsChanged());
    EXPECT_TRUE(file.WriteHeader());
    Reopen(file);
    EXPECT_EQ(file.PhysicalRecordCount(), 1u);

    // The descriptors cannot be read: the open fails and leaves the file closed.
    file.CloseFile();
    plan_->FailNth(FileOp::Read, Count(FileOp::Read) + 2);
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), err::ReadError);
    EXPECT_FALSE(file.IsOpen());
    file.OpenFile();
    EXPECT_EQ(file.FieldCount(), 2);

    // A file shorter than its header.
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 50);
        file.WriteBuffer(nullptr, 0);
    }
    file.CloseFile();
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), err::ReadError);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(DataFileRecords, DuringATransactionModifiedRecordsStayInMemoryAndTheCacheGrowsBy64) {
    owner.cacheBytes = 36 * 8;
    TDataFile& file = Create(IntAndText());
    ASSERT_EQ(file.CacheCapacity(), 8u);
    owner.transactionLock = true;
    owner.writtenTo = true;
    const std::uint64_t writes = Count(FileOp::Write);
    for (int i = 1; i <= 100; ++i) Append(file, i, "t");
    EXPECT_EQ(Count(FileOp::Write), writes) << "nothing reaches the file before the commit";
    EXPECT_EQ(file.CachedRecordCount(), 100u);
    EXPECT_EQ(file.CacheCapacity(), 8u + 2 * 64);
    owner.transactionLock = false;
    EXPECT_TRUE(file.FlushRecords());
    EXPECT_EQ(Count(FileOp::Write), writes + 1) << "one run of 100 records";
    file.TrimRecordCache();
    EXPECT_EQ(file.CacheCapacity(), 8u);
    EXPECT_LE(file.CachedRecordCount(), 8u);
}

TEST_F(DataFileRecords, AShortReadIsAcceptedOnlyWhileAppendedRecordsMayBeCachedOnly) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 5; ++i) Append(file, i, "d");
    test::datafile::WriteAll(file);
    owner.transactionLock = true;
    for (int i = 6; i <= 8; ++i) Append(file, i, "c");  // in the cache only
    // Drop the clean records so that record 2 must be read, with 6 to 8 beyond the file's end.
    file.TrimRecordCache();
    owner.cacheBytes = 36;
    file.TrimRecordCache();
    owner.cacheBytes = 16384;
    ASSERT_EQ(file.CachedRecordCount(), 3u);
    TRecord* r = file.GetRecord(&cursor, 2, true);
    EXPECT_EQ(Get(file, *r, 1), I32(2));
    file.ReleaseRecord(r);
    r = file.GetRecord(&cursor, 7);
    EXPECT_EQ(Get(file, *r, 2), StoredString("c", 20)) << "the cached append is left alone";
    file.ReleaseRecord(r);

    owner.transactionLock = false;
    EXPECT_TRUE(file.FlushRecords());
    file.ClearRecordCache();
    // The header claims records 9 and 10, which neither the file nor the cache holds.
    test::WriteAt(file, 13, std::string("\x0B\x00\x00\x00", 4));
    file.ReadHeader();
    EXPECT_EQ(CodeOf([&] { file.GetRecord(&cursor, 3, true); }), err::ReadError);
    owner.transactionLock = true;
    EXPECT_EQ(CodeOf([&] { file.GetRecord(&cursor, 4, true); }), 0);
    owner.transactionLock = false;
    EXPECT_EQ(CodeOf([&] { file.GetRecord(&cursor, 9); }), err::ReadError);
    file.ClearRecordCache();
}

TEST_F(DataFileRecords, AShortReadOverCachedAppendsIsAcceptedOutsideATransactionToo) {
    TDataFile& file = Create(IntAndText());
    for (int i = 1; i <= 5; ++i) Append(file, i, "d");
    test::datafile::WriteAll(file);
    owner.writtenTo = false;
    for (int i = 6; i <= 8; ++i) Append(file, i, "c");  // not yet written
    TRecord* r = file.GetRecord(&cursor, 6);
    file.ReleaseRecord(r);
    owner.cacheBytes = 36;
    file.TrimRecordCache();  // keeps only the modified appends
    owner.cacheBytes = 16384;
    ASSERT_EQ(file.CachedRecordCount(), 3u);
    r = file.GetRecord(&cursor, 2, true);
    EXPECT_EQ(Get(file, *r, 1), I32(2));
    file.ReleaseRecord(r);
}

// Random operations against a simple model of the records, with a cache far
// smaller than the table so that records are evicted, flushed and read back.
class DataFileRandomRecords : public DataFileRecords, public ::testing::WithParamInterface<bool> {};

TEST_P(DataFileRandomRecords, RandomOperationsMatchAModelWithASmallCache) {
    owner.cacheBytes = 36 * 8;
    DataFileParams params;
    params.encrypted = GetParam();
    params.password = "pw";
    TDataFile& file = Create(IntAndText(), params);
    struct Model {
        bool deleted = false;
        std::int32_t num = 0;
        std::string txt;
        std::uint32_t id = 0;
    };
    std::map<std::uint32_t, Model> model;
    std::vector<std::uint32_t> freeChain;  // back = head
    std::uint32_t lastID = 0;
    std::mt19937 rng(20261209);
    auto pick = [&](bool activeOnly) -> std::uint32_t {
        if (model.empty()) return 0;
        for (int tries = 0; tries < 20; ++tries) {
            const auto n = static_cast<std::uint32_t>(rng() % model.size()) + 1;
            if (!activeOnly || !model[n].deleted) return n;
        }
        return 0;
    };
    auto check = [&](std::uint32_t n, bool readAhead, ReadDirection direction) {
        TRecord* r = file.GetRecord(&cursor, n, readAhead, direction);
        ASSERT_NE(r, nullptr);
        const Model& m = model[n];
        ASSERT_EQ(r->IsDeleted(), m.deleted) << "record " << n;
        if (!m.deleted) {
            EXPECT_EQ(r->Link(), n);
            EXPECT_EQ(r->RecordID(), m.id);
            EXPECT_EQ(Get(file, *r, 1), I32(m.num)) << "record " << n;
            EXPECT_EQ(Get(file, *r, 2), StoredString(m.txt, 20)) << "record " << n;
        }
        file.ReleaseRecord(r);
    };
    for (int step = 0; step < 4000; ++step) {
        const int op = static_cast<int>(rng() % 100);
        if (op < 25) {
            const std::int32_t num = static_cast<std::int32_t>(rng());
            const std::string txt = "t" + std::to_string(rng() % 100000);
            const std::uint32_t expected =
                freeChain.empty() ? static_cast<std::uint32_t>(model.size()) + 1 : freeChain.back();
            const std::uint32_t n = Append(file, num, txt);
            ASSERT_EQ(n, expected);
            if (!freeChain.empty()) freeChain.pop_back();
            model[n] = Model{false, num, txt, ++lastID};
        } else if (op < 33) {
            if (const std::uint32_t n = pick(true)) {
                Free(file, n);
                model[n].deleted = true;
                freeChain.push_back(n);
            }
        } else if (op < 53) {
            if (const std::uint32_t n = pick(true)) {
                TRecord* r = file.GetRecord(&cursor, n, rng() % 2 == 0);
                const auto num = static_cast<std::int32_t>(rng());
                Put(file, *r, 1, I32(num));
                file.ReleaseRecord(r);
                model[n].num = num;
            }
        } else if (op < 95) {
            if (const std::uint32_t n = pick(false)) {
                check(n, rng() % 3 != 0, rng() % 2 == 0 ? ReadDirection::Forward : ReadDirection::Backward);
            }
        } else if (op < 98) {
            file.FlushRecords();
        } else if (op < 99) {
            file.FlushRecords();
            file.ClearRecordCache();
        } else {
            Reopen(file);
        }
        ASSERT_LE(file.CachedRecordCount(), file.CacheCapacity());
        ASSERT_EQ(file.CacheCapacity(), 8u);
        ASSERT_EQ(file.PhysicalRecordCount(), model.size());
    }
    Reopen(file);
    for (const auto& [n, m] : model) check(n, false, ReadDirection::Forward);
}

INSTANTIATE_TEST_SUITE_P(DataFile, DataFileRandomRecords, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Encrypted" : "Plain";
                         });

// ---- encrypted tables -------------------------------------------------------

TEST_F(DataFileRecords, EncryptedTableRoundTripWithPlainHeaderParts) {
    DataFileParams params;
    params.encrypted = true;
    params.password = "secret";
    params.description = "Hidden";
    TDataFile& file = Create(IntAndText(), params);
    DataFileParams plainParams;
    plainParams.description = "Hidden";
    TDataFile& plain = Create(IntAndText(), plainParams);
    for (TDataFile* f : {&file, &plain}) {
        Append(*f, 42, "same");
        Append(*f, 42, "same");
        // Identical identifiers too, so that the two records are identical.
        TRecord* r = f->GetRecord(&cursor, 2);
        r->SetRecordID(1);
        f->ReleaseRecord(r);
        test::datafile::WriteAll(*f);
    }

    const std::string header = test::ReadAt(file, 0, 127);
    EXPECT_EQ(header[8], 5);
    EXPECT_EQ(header[13], 3);   // next record number
    EXPECT_EQ(header[21], 36);  // record size
    EXPECT_EQ(header[23], 2);   // field count
    EXPECT_EQ(header[86], 1);   // encrypted
    EXPECT_EQ(header[87], 6);   // password length stays plain
    EXPECT_EQ(header[35], 6);   // description length stays plain
    // The characters are enciphered with the password seeds.
    for (std::size_t k = 0; k < 6; ++k) {
        const auto key = static_cast<std::uint8_t>((kPasswordSeeds.rising + k) ^ (kPasswordSeeds.falling - k));
        EXPECT_EQ(static_cast<std::uint8_t>(header[88 + k]), static_cast<std::uint8_t>("secret"[k] ^ key));
        EXPECT_EQ(static_cast<std::uint8_t>(header[36 + k]), static_cast<std::uint8_t>("Hidden"[k] ^ key));
    }

    // Descriptors as one buffer, records one by one, all with the data seeds.
    std::string descriptors = test::ReadAt(file, 127, 2 * 768);
    ScrambleBuffer(descriptors.data(), descriptors.size(), kDataSeeds);
    EXPECT_EQ(descriptors, test::ReadAt(plain, 127, 2 * 768));
    const std::string one = test::ReadAt(file, 127 + 2 * 768, 36);
    const std::string two = test::ReadAt(file, 127 + 2 * 768 + 36, 36);
    std::string deciphered = one;
    ScrambleBuffer(deciphered.data(), deciphered.size(), kDataSeeds);
    EXPECT_EQ(deciphered, test::ReadAt(plain, 127 + 2 * 768, 36));
    EXPECT_NE(one, deciphered);
    EXPECT_EQ(one.substr(9), two.substr(9)) << "each record starts the keystream afresh";

    Reopen(file);
    EXPECT_TRUE(file.IsEncrypted());
    EXPECT_EQ(file.GetPassword(), "secret");
    EXPECT_EQ(file.GetDescription(), "Hidden");
    EXPECT_EQ(plain.GetPassword(), "");
    EXPECT_EQ(file.FieldIndexByName("Txt"), 2);
    TRecord* r = file.GetRecord(&cursor, 2, true);
    EXPECT_EQ(Get(file, *r, 2), StoredString("same", 20));
    file.ReleaseRecord(r);

    file.ChangeTableInfo(std::string(20, 'p'), "New", 3, 4, 50);
    Reopen(file);
    EXPECT_EQ(file.GetPassword(), std::string(15, 'p'));
    EXPECT_EQ(file.GetDescription(), "New");
    EXPECT_EQ(file.Header().userMajorVersion, 3);
    EXPECT_EQ(file.Header().lastRecordID, 50u);
}

}  // namespace
}  // namespace pixhold::engine
