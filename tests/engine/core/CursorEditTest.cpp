#include <gtest/gtest.h>

#include <random>

#include "CursorEditSupport.h"
#include "CursorTestSupport.h"
#include "EngineError.h"
#include "RecordBuffer.h"
#include "TableTestSupport.h"

namespace pixhold::engine {
namespace {

using namespace edittest;
using coretest::CodeOf;
using coretest::FileBytes;

std::string Blob(std::mt19937& rng, std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::string s(length(rng), '\0');
    for (char& c : s) c = static_cast<char>('a' + rng() % 26);
    return s;
}

// Random appends, changes and deletes through two cursors (one in the
// primary order, one in a secondary order) against a plain map; duplicates
// must be refused and leave everything as it was.
TEST(CursorEdit, RandomChangesKeepRecordsIndexesAndBlobsInStep) {
    EditFixture fx;
    auto byName = fx.Open();
    auto byCode = fx.Open("ByCode");
    std::map<std::string, Values> model;
    std::mt19937 rng(20261210);
    auto randomName = [&] { return "n" + std::to_string(rng() % 60); };
    auto randomCode = [&] { return rng() % 4 == 0 ? std::string() : "c" + std::to_string(rng() % 80); };
    auto codeTaken = [&](const std::string& code, const std::string& except) {
        // Absent codes are equal keys too.
        for (const auto& [name, v] : model)
            if (name != except && v.code == code) return true;
        return false;
    };
    std::vector<std::uint8_t> buffer(byName->RecordSize());
    for (int step = 0; step < 400; ++step) {
        SCOPED_TRACE(step);
        TDataCursor& cursor = step % 2 == 0 ? *byName : *byCode;
        const int op = static_cast<int>(rng() % 10);
        Values v{randomName(), static_cast<std::int32_t>(rng() % 1000) - 500, randomCode(),
                 rng() % 3 == 0 ? std::string() : "k" + std::to_string(rng() % 5), Blob(rng, rng() % 4 == 0 ? 3000 : 40)};
        if (op < 5) {
            const bool duplicate = model.count(v.name) != 0 || codeTaken(v.code, "");
            const int code = CodeOf([&] { Append(cursor, v); });
            EXPECT_EQ(code, duplicate ? err::DuplicateKey : 0);
            if (!duplicate) model[v.name] = v;
        } else if (op < 8 && !model.empty()) {
            auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
            ASSERT_TRUE(Seek(*byName, it->first));
            ASSERT_EQ(byName->GetCurrentRecord(buffer.data()), 0);
            ASSERT_EQ(byName->GetCurrentRecord(buffer.data(), true), 0);
            Values changed = it->second;
            if (rng() % 2 == 0) changed.name = randomName();
            if (rng() % 2 == 0) changed.code = randomCode();
            changed.num = v.num;
            if (rng() % 2 == 0) changed.data = v.data;
            Fill(*byName, buffer, changed);
            if (rng() % 3 == 0) {
                // A BLOB that is not written in this edit keeps its value.
                byName->FreeBlob(5, buffer.data());
                changed.data = it->second.data;
            }
            const bool duplicate = (changed.name != it->first && model.count(changed.name) != 0) ||
                                   codeTaken(changed.code, it->first);
            const int code = CodeOf([&] { byName->ModifyRecord(buffer.data(), true, true); });
            EXPECT_EQ(code, duplicate ? err::DuplicateKey : 0);
            if (duplicate) {
                byName->CancelRecord();
                byName->FreeAllBlobs();
            } else {
                model.erase(it);
                model[changed.name] = changed;
                EXPECT_EQ(ValuesOf(*byName, buffer), changed);
            }
            EXPECT_EQ(byName->LockedRecord(), 0u);
        } else if (!model.empty()) {
            auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
            ASSERT_TRUE(Seek(*byName, it->first));
            ASSERT_EQ(byName->GetCurrentRecord(buffer.data()), 0);
            byName->DeleteRecord(buffer.data(), true);
            model.erase(it);
        }
        if (step % 50 == 49 || step == 399) {
            const Inspection seen = Inspect(byName->Table());
            EXPECT_EQ(seen.problems, "");
            ASSERT_EQ(seen.rows.size(), model.size());
            for (const auto& [name, want] : model) EXPECT_EQ(seen.rows.at(name), want) << name;
            EXPECT_EQ(byCode->GetRecordCount(), model.size());
        }
    }
    // Both orders walk exactly the model's records.
    byName->SetToBegin();
    std::vector<std::string> names;
    while (byName->GetNextRecord(buffer.data()) == 0) names.push_back(ValuesOf(*byName, buffer).name);
    std::vector<std::string> expected;
    for (const auto& entry : model) expected.push_back(entry.first);
    EXPECT_EQ(names, expected);
}

// The files are byte for byte as before a refused change.
struct FileImages {
    explicit FileImages(const EditFixture& fx)
        : dat(FileBytes(fx.FilePath(".DAT"))), idx(FileBytes(fx.FilePath(".IDX"))), blb(FileBytes(fx.FilePath(".BLB"))) {}
    bool operator==(const FileImages&) const = default;
    std::string dat, idx, blb;
};

TEST(CursorEdit, ADuplicateKeyNamesItsIndexAndWritesNothing) {
    EditFixture fx;
    auto cursor = fx.Open();
    Append(*cursor, {"alpha", 1, "A1", "x", "first"});
    Append(*cursor, {"beta", 2, "B2", "x", "second"});
    const FileImages before(fx);
    struct Case {
        const char* what;
        Values values;
        const char* index;
    };
    const Case cases[] = {
        {"primary", {"alpha", 3, "C3", "y", "blob"}, ""},
        {"secondary", {"gamma", 3, "B2", "y", "blob"}, "ByCode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            Append(*cursor, c.values);
            ADD_FAILURE() << "no error";
        } catch (const ECofferEngineError& e) {
            EXPECT_EQ(e.ErrorCode(), err::DuplicateKey);
            EXPECT_EQ(e.ContextIndex(), c.index);
            EXPECT_EQ(e.ContextTable(), fx.TableName);
        }
        cursor->FreeAllBlobs();
        EXPECT_TRUE(FileImages(fx) == before);
    }
    // A change onto another record's code is refused the same way.
    ASSERT_TRUE(Seek(*cursor, "alpha"));
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data(), true), 0);
    recordbuffer::SetText(cursor->Fields()[2], buffer.data(), "B2");
    EXPECT_EQ(CodeOf([&] { cursor->ModifyRecord(buffer.data(), true, false); }), err::DuplicateKey);
    cursor->CancelRecord();
    EXPECT_TRUE(FileImages(fx) == before);
    EXPECT_EQ(Inspect(cursor->Table()).problems, "");
}

TEST(CursorEdit, DeletedSlotsAreReusedOnlyWhenThePrimaryIndexHasFields) {
    for (const bool withPrimary : {true, false}) {
        SCOPED_TRACE(withPrimary);
        EditFixture fx(withPrimary);
        auto cursor = fx.Open();
        for (int i = 0; i < 4; ++i) Append(*cursor, {"r" + std::to_string(i), i, "c" + std::to_string(i), "", ""});
        std::vector<std::uint8_t> buffer(cursor->RecordSize());
        // Delete physical record 2.
        cursor->SetToBegin();
        (void)cursor->GetNextRecord(buffer.data());
        (void)cursor->GetNextRecord(buffer.data());
        ASSERT_EQ(cursor->CurrentRecordNumber(), 2u);
        cursor->DeleteRecord(buffer.data(), true);
        EXPECT_EQ(cursor->GetRecordCount(), 3u);
        const std::uint32_t number = Append(*cursor, {"new", 9, "cnew", "", "payload"});
        EXPECT_EQ(number, withPrimary ? 2u : 5u);
        EXPECT_EQ(cursor->GetRecordCount(), 4u);
        const Inspection seen = Inspect(cursor->Table());
        EXPECT_EQ(seen.problems, "");
        EXPECT_EQ(seen.rows.at("new").data, "payload");
        EXPECT_EQ(seen.rows.at("new").id, 5u);
    }
}

TEST(CursorEdit, SuppressedIdentifiersAreKeptAndRaiseTheLastOne) {
    EditFixture fx;
    auto cursor = fx.Open();
    for (int i = 0; i < 10; ++i) Append(*cursor, {"r" + std::to_string(i), i, "c" + std::to_string(i), "", ""});
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    cursor->SuppressAutoInc(true);
    cursor->InitRecord(buffer.data());
    Fill(*cursor, buffer, {"given", 0, "g", "", ""});
    recordbuffer::SetRecordID(buffer.data(), 1000);
    cursor->AppendRecord(buffer.data(), true);
    EXPECT_EQ(recordbuffer::RecordID(buffer.data()), 1000u);
    // An identifier an active record has is a duplicate in "Sys Deleted".
    cursor->InitRecord(buffer.data());
    Fill(*cursor, buffer, {"again", 0, "a", "", ""});
    recordbuffer::SetRecordID(buffer.data(), 4);
    try {
        cursor->AppendRecord(buffer.data(), true);
        ADD_FAILURE();
    } catch (const ECofferEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), err::DuplicateKey);
        EXPECT_EQ(e.ContextIndex(), "Sys Deleted");
    }
    cursor->FreeAllBlobs();
    cursor->SuppressAutoInc(false);
    Append(*cursor, {"next", 0, "n", "", ""});
    const Inspection seen = Inspect(cursor->Table());
    EXPECT_EQ(seen.problems, "");
    EXPECT_EQ(seen.rows.at("given").id, 1000u);
    EXPECT_EQ(seen.rows.at("next").id, 1001u);
    EXPECT_EQ(seen.rows.count("again"), 0u);
}

TEST(CursorEdit, ChangesAndDeletesNeedACurrentRecord) {
    EditFixture fx;
    auto cursor = fx.Open();
    std::vector<std::uint8_t> buffer(cursor->RecordSize(), 0);
    EXPECT_EQ(CodeOf([&] { cursor->ModifyRecord(buffer.data(), true, false); }), err::NoCurrentRecord);
    EXPECT_EQ(CodeOf([&] { cursor->DeleteRecord(buffer.data(), false); }), err::NoCurrentRecord);
    EXPECT_EQ(CodeOf([&] { cursor->CloneCurrentRecord(buffer.data()); }), err::NoCurrentRecord);
    EXPECT_EQ(cursor->GetCurrentRecord(buffer.data(), true), err::NoCurrentRecord);
}

TEST(CursorEdit, ACloneOwnsCopiesOfTheBlobs) {
    EditFixture fx;
    auto cursor = fx.Open();
    Append(*cursor, {"orig", 1, "O", "c", std::string(5000, 'q')});
    ASSERT_TRUE(Seek(*cursor, "orig"));
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    cursor->CloneCurrentRecord(buffer.data());
    EXPECT_EQ(recordbuffer::RecordID(buffer.data()), 0u);
    recordbuffer::SetText(cursor->Fields()[0], buffer.data(), "copy");
    recordbuffer::SetText(cursor->Fields()[2], buffer.data(), "C");
    cursor->AppendRecord(buffer.data(), true);
    // Deleting the original frees only its own chain.
    ASSERT_TRUE(Seek(*cursor, "orig"));
    (void)cursor->GetCurrentRecord(buffer.data());
    cursor->DeleteRecord(buffer.data(), true);
    const Inspection seen = Inspect(cursor->Table());
    EXPECT_EQ(seen.problems, "");
    EXPECT_EQ(seen.rows.at("copy").data, std::string(5000, 'q'));
}

}  // namespace
}  // namespace pixhold::engine

namespace pixhold::engine {
namespace {

using namespace edittest;

// An exclusive cursor takes no locks and keeps its changes cached until it
// flushes (or closes); then the files hold all of them.
TEST(CursorEdit, AnExclusiveCursorWritesItsChangesWhenItFlushes) {
    EditFixture fx;
    const std::string dat = coretest::FileBytes(fx.FilePath(".DAT"));
    {
        TDataCursor cursor(fx.Directory());
        cursor.TableName = fx.TableName;
        cursor.Exclusive = true;
        cursor.OpenCursor();
        for (int i = 0; i < 5; ++i) Append(cursor, {"x" + std::to_string(i), i, "c" + std::to_string(i), "", std::string(900, 'e')});
        std::vector<std::uint8_t> buffer(cursor.RecordSize());
        ASSERT_TRUE(Seek(cursor, "x2"));
        ASSERT_EQ(cursor.GetCurrentRecord(buffer.data(), true), 0);
        EXPECT_EQ(cursor.LockedRecord(), 0u);  // nothing to lock against
        Fill(cursor, buffer, {"x2", 20, "c2", "changed", "new"});
        cursor.ModifyRecord(buffer.data(), true, true);
        ASSERT_TRUE(Seek(cursor, "x3"));
        (void)cursor.GetCurrentRecord(buffer.data());
        cursor.DeleteRecord(buffer.data(), true);
        EXPECT_EQ(coretest::FileBytes(fx.FilePath(".DAT")), dat);
        cursor.FlushBuffers(false, false, true, true, true);
        EXPECT_EQ(coretest::FileBytes(fx.FilePath(".DAT")), dat);
        cursor.FlushBuffers(true, false, true, true, true);
        EXPECT_NE(coretest::FileBytes(fx.FilePath(".DAT")), dat);
        cursor.FlushOSBuffers();
        cursor.CloseCursor();
    }
    auto cursor = fx.Open();
    const Inspection seen = Inspect(cursor->Table());
    EXPECT_EQ(seen.problems, "");
    ASSERT_EQ(seen.rows.size(), 4u);
    EXPECT_EQ(seen.rows.at("x2"), (Values{"x2", 20, "c2", "changed", "new"}));
    EXPECT_EQ(seen.rows.at("x4").data, std::string(900, 'e'));
}

}  // namespace
}  // namespace pixhold::engine

namespace pixhold::engine {
namespace {

// After the cursor's own changes the records it shows stay right: physical
// order shows the active records, and an active filter still hides its own.
TEST(CursorEdit, OwnChangesKeepTheShownRecordsInPhysicalOrderAndUnderFilters) {
    for (const bool filtered : {false, true}) {
        SCOPED_TRACE(filtered);
        edittest::EditFixture fx(false);
        auto cursor = fx.Open();
        if (filtered) cursor->ActivateFilter(cursor->AddFilter(std::make_unique<cursortest::HideRecords>(std::set<std::uint32_t>{2})));
        for (int i = 1; i <= 4; ++i) edittest::Append(*cursor, {"p" + std::to_string(i), i, "c" + std::to_string(i), "", ""});
        EXPECT_EQ(cursor->GetRecordCount(), filtered ? 3u : 4u);
        std::vector<std::uint8_t> buffer(cursor->RecordSize());
        cursor->SetToBegin();
        ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
        EXPECT_EQ(cursor->CurrentRecordNumber(), 1u);
        cursor->DeleteRecord(buffer.data(), true);
        EXPECT_EQ(cursor->GetRecordCount(), filtered ? 2u : 3u);
        // The next record after the deleted one's place.
        ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
        EXPECT_EQ(cursor->CurrentRecordNumber(), filtered ? 3u : 2u);
        std::vector<std::uint32_t> walked;
        cursor->SetToBegin();
        while (cursor->GetNextRecord(nullptr) == 0) walked.push_back(cursor->CurrentRecordNumber());
        EXPECT_EQ(walked, filtered ? (std::vector<std::uint32_t>{3, 4}) : (std::vector<std::uint32_t>{2, 3, 4}));
    }
}

}  // namespace
}  // namespace pixhold::engine
