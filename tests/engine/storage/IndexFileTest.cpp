#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BTree.h"
#include "Cipher.h"
#include "FaultPlan.h"
#include "IndexFile.h"
#include "IndexKey.h"
#include "IndexTestSupport.h"
#include "TempDir.h"

namespace pixhold::engine::indextest {
namespace {

// An index file in a fresh folder, with the fields of a small image table.
class IndexFileFixture : public ::testing::Test {
protected:
    void SetUp() override {
        owner.privateDirectory = dir.folder();
        fields = LaidOut({Field("FileName", fieldtype::String, 100), Field("Category", fieldtype::String, 10),
                          Field("Image", fieldtype::Blob), Field("Type", fieldtype::SmallInt),
                          Field("Memo", fieldtype::Blob, 0, fieldsubtype::Memo)});
    }
    void TearDown() override {
        if (file && file->IsOpen()) file->CloseFile();
    }
    std::string Path() const { return (dir / "Pictures.Idx").string(); }
    std::unique_ptr<TIndexFile> Make(bool encrypted = false) {
        auto f = std::make_unique<TIndexFile>(owner);
        f->Name = Path();
        f->Encrypted = encrypted;
        return f;
    }
    void Create(bool encrypted = false) {
        file = Make(encrypted);
        file->CreateFile();
        file->WriteHeader();
    }
    Bytes Raw(std::int64_t offset, std::size_t count) {
        Bytes bytes(count);
        FileAccessGuard guard(*file);
        file->SeekFile(SeekOrigin::Begin, offset);
        file->ReadBuffer(bytes.data(), count);
        return bytes;
    }
    // Stores a changed copy of the header, as a damaged file would have it, and reads it.
    template <typename F>
    void Damage(F&& change) {
        IndexFileHeader h = file->Header();
        change(h);
        Bytes image(kIndexHeaderSize);
        EncodeIndexHeader(h, image.data());
        {
            FileAccessGuard guard(*file);
            file->SeekFile(SeekOrigin::Begin, 0);
            file->WriteBuffer(image.data(), image.size());
        }
        file->ReadHeader();
    }
    TIndexTree Tree(int slot, const TKeyComparer& comparer) { return TIndexTree(*file, slot, comparer); }

    test::TempDir dir;
    IndexOwner owner;
    IndexCursor cursor;
    std::vector<FieldDescriptor> fields;
    std::unique_ptr<TIndexFile> file;
};

TEST_F(IndexFileFixture, ANewFileIsOneHeaderPageWithTheInternalSlots) {
    Create();
    EXPECT_EQ(file->GetFileSize(), 4096);
    const Bytes header = Raw(0, 4096);
    EXPECT_EQ(header[8], 5);                        // format mark
    EXPECT_EQ(header[9], 1);                        // next page number
    const std::size_t slot31 = 14 + 31 * 120;
    const std::size_t slot32 = 14 + 32 * 120;
    EXPECT_EQ(std::string(header.begin() + slot31 + 1, header.begin() + slot31 + 1 + header[slot31]), "Sys Deleted");
    EXPECT_EQ(header[slot31 + 31], 5);              // key length
    EXPECT_EQ(std::string(header.begin() + slot32 + 1, header.begin() + slot32 + 1 + header[slot32]), "Sys Text");
    EXPECT_EQ(header[slot32 + 31], 68);
    EXPECT_EQ(header[slot32 + 36], 3);              // full compression
    EXPECT_EQ(file->PageCount(), 0u);
    EXPECT_TRUE(owner.written);
}

TEST_F(IndexFileFixture, HeaderAndSlotsSurviveWritingAndReading) {
    Create();
    IndexDescriptor primary = Index("", {1}, true, 3);
    primary.fieldDescending[0] = 1;
    primary.caseInsensitive = true;
    file->SetPrimaryIndex(primary, fields);
    file->AddSecondaryIndex(Index("ByCategory", {2, 4}, false, 2, true), fields);
    file->IncActiveRecords();
    file->IncActiveRecords();
    file->DecActiveRecords();
    ASSERT_TRUE(file->WriteHeader());
    EXPECT_FALSE(file->WriteHeader());  // nothing changed since
    const IndexFileHeader written = file->Header();
    file->CloseFile();
    file = Make();
    file->OpenFile();
    EXPECT_EQ(file->Header(), written);
    EXPECT_EQ(file->ActiveRecordCount(), 1);
    EXPECT_EQ(file->GetIndexDescriptor(0).keyLength, 101 + 1);
    EXPECT_EQ(file->GetIndexDescriptor(1).keyLength, 11 + 1 + 2 + 1 + 4);
    EXPECT_EQ(file->GetIndexDescriptor(1).compression, 2);
    EXPECT_NO_THROW(file->ValidateHeader(fields));
}

TEST_F(IndexFileFixture, IndexDefinitionsAreChecked) {
    Create();
    file->SetPrimaryIndex(Index("", {1}, true), fields);
    file->AddSecondaryIndex(Index("ByCategory", {2}), fields);
    IndexDescriptor seventeen = Index("Many", {1});
    seventeen.fieldCount = 17;
    struct Case {
        const char* what;
        std::function<void()> action;
        std::uint16_t code;
    };
    const std::vector<Case> cases = {
        {"second primary", [&] { file->SetPrimaryIndex(Index("", {2}, true), fields); }, err::PrimaryIndexExists},
        {"same name in another case", [&] { file->AddSecondaryIndex(Index("bycategory", {1}), fields); }, err::IndexExists},
        {"no name", [&] { file->AddSecondaryIndex(Index("  ", {1}), fields); }, err::IndexNameMissing},
        {"name starting with a digit", [&] { file->AddSecondaryIndex(Index("1st", {1}), fields); }, err::InvalidIndexName},
        {"BLOB field", [&] { file->AddSecondaryIndex(Index("ByImage", {3}), fields); }, err::InvalidIndexField},
        {"17 fields", [&] { file->AddSecondaryIndex(seventeen, fields); }, err::IndexLimits},
        {"field 0", [&] { file->AddSecondaryIndex(Index("Zero", {0}), fields); }, err::InvalidIndexFieldNumber},
        {"field beyond the table", [&] { file->AddSecondaryIndex(Index("Far", {9}), fields); }, err::InvalidIndexFieldNumber},
        {"text index on a number", [&] { file->SetTextIndex(Index("", {4}), fields); }, err::InvalidIndexField},
        {"rename onto another name", [&] {
             file->AddSecondaryIndex(Index("ByType", {4}), fields);
             file->RenameIndex(2, "BYCATEGORY");
         }, err::IndexExists},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CodeOf(c.action), c.code);
    }
    EXPECT_TRUE(file->IndexNameExists(" bytype "));
    file->RenameIndex(2, "_Kind");
    EXPECT_FALSE(file->IndexNameExists("ByType"));
    EXPECT_TRUE(file->IndexNameExists("_kind"));
    // Up to 30 secondary indexes; the 31st is refused.
    for (int i = file->SecondaryCount(); i < 30; ++i)
        file->AddSecondaryIndex(Index("I" + std::to_string(i), {4}), fields);
    EXPECT_EQ(CodeOf([&] { file->AddSecondaryIndex(Index("OneTooMany", {4}), fields); }), err::IndexLimits);
    // Deleting one moves the later ones down.
    const std::string third = file->GetIndexDescriptor(3).name;
    file->DeleteIndex(2);
    EXPECT_EQ(file->SecondaryCount(), 29);
    EXPECT_EQ(file->GetIndexDescriptor(2).name, third);
    EXPECT_EQ(file->GetIndexDescriptor(30), IndexDescriptor{});
    // A primary index without fields is the flag against record reuse.
    file->DeleteIndex(0);
    EXPECT_TRUE(file->NoPrimaryFields());
    EXPECT_EQ(file->GetIndexDescriptor(0), IndexDescriptor{});
}

TEST_F(IndexFileFixture, TemporaryIndexesLiveInTheirOwnFileAndNeverReachTheHeader) {
    Create();
    file->AddSecondaryIndex(Index("Stored", {2}), fields);
    IndexDescriptor temporary = Index("Scratch", {1});
    temporary.temporary = true;
    const int slot = file->AddSecondaryIndex(temporary, fields);
    file->AddSecondaryIndex(Index("StoredToo", {4}), fields);
    const std::string tempName = file->TemporaryFileName();
    ASSERT_FALSE(tempName.empty());
    EXPECT_EQ(std::filesystem::path(tempName).parent_path(), dir.path());
    EXPECT_TRUE(std::filesystem::exists(tempName));
    EXPECT_EQ(std::filesystem::path(tempName).extension(), ".IDX");

    // Its pages go to the temporary file, numbered on their own.
    const TKeyLayout layout = TKeyLayout::For(file->GetIndexDescriptor(slot), slot, fields);
    const TKeyComparer comparer(layout, 0);
    for (std::uint32_t i = 1; i <= 200; ++i) {
        Bytes key(layout.keyLength, 0);
        key[0] = 1;
        std::string name = "picture" + std::to_string(i * 7919 % 1000);
        std::copy(name.begin(), name.end(), key.begin() + 1);
        keycodec::PutInt32(key.data() + layout.keyLength - 4, static_cast<std::int32_t>(i));
        Tree(slot, comparer).InsertKey(key.data(), i);
    }
    EXPECT_EQ(file->PageCount(), 0u);
    EXPECT_GT(file->PageCount(slot), 1u);
    file->FlushPages(true);
    file->WriteHeader(true);
    EXPECT_EQ(file->GetFileSize(), 4096);
    EXPECT_GT(std::filesystem::file_size(tempName), 4096u);

    // The stored header counts and holds only the stored indexes.
    IndexFileHeader stored;
    DecodeIndexHeader(Raw(0, 4096).data(), stored);
    EXPECT_EQ(stored.secondaryCount, 2);
    EXPECT_EQ(stored.slots[1].name, "Stored");
    EXPECT_EQ(stored.slots[2].name, "StoredToo");
    EXPECT_EQ(stored.slots[3], IndexDescriptor{});
    EXPECT_EQ(file->SecondaryCount(), 3);

    // A header written by another user keeps this opening's temporary index.
    {
        auto other = Make();
        other->OpenFile();
        other->AddSecondaryIndex(Index("ByOther", {4}), fields);
        other->WriteHeader();
        other->CloseFile();
    }
    EXPECT_TRUE(file->HeaderChanged());
    EXPECT_EQ(file->SecondaryCount(), 4);
    EXPECT_EQ(file->GetIndexDescriptor(3).name, "ByOther");
    EXPECT_EQ(file->GetIndexDescriptor(4).name, "Scratch");
    EXPECT_TRUE(file->IsTemporarySlot(4));

    file->DropTemporaryIndexes();
    EXPECT_EQ(file->SecondaryCount(), 3);
    EXPECT_EQ(file->GetIndexDescriptor(2).name, "StoredToo");
    EXPECT_FALSE(std::filesystem::exists(tempName));
}

TEST_F(IndexFileFixture, AnEncryptedFileEnciphersTheHeaderAndEveryPage) {
    Create(true);
    file->SetPrimaryIndex(Index("", {4}, true), fields);
    const TKeyLayout layout = TKeyLayout::For(file->GetIndexDescriptor(0), 0, fields);
    const TKeyComparer comparer(layout, 0);
    for (std::int16_t n = 1; n <= 600; ++n) {
        Bytes key(3, 1);
        keycodec::PutInt16(key.data() + 1, n);
        Tree(0, comparer).InsertKey(key.data(), static_cast<std::uint32_t>(n));
    }
    file->FlushPages(false);
    file->WriteHeader();
    Bytes header = Raw(0, 4096);
    EXPECT_NE(header[8], 5);
    ScrambleBuffer(header.data(), header.size(), kDataSeeds);
    EXPECT_EQ(header[8], 5);
    Bytes page = Raw(4096, 4096);
    ScrambleBuffer(page.data(), page.size(), kDataSeeds);  // each page is one buffer of its own
    EXPECT_LE(page[0], 3);
    EXPECT_GT(page[1] + 256 * page[2], 0);

    file->CloseFile();
    file = Make(false);
    EXPECT_EQ(CodeOf([&] { file->OpenFile(); }), err::WrongVersion);
    EXPECT_FALSE(file->IsOpen());
    file = Make(true);
    file->OpenFile();
    TIndexPath path;
    bool exact = false;
    Bytes key(3, 1);
    keycodec::PutInt16(key.data() + 1, 321);
    ASSERT_TRUE(Tree(0, comparer).Seek(key.data(), path, exact));
    EXPECT_TRUE(exact);
    EXPECT_EQ(Tree(0, comparer).OrdinalOf(path), 321u);
}

TEST_F(IndexFileFixture, PageNumbersOutsideTheFileAreErrors) {
    Create();
    file->SetPrimaryIndex(Index("", {4}, true), fields);
    EXPECT_EQ(CodeOf([&] { file->GetPage(nullptr, 0, 0); }), err::IndexPagesCorrupt);
    EXPECT_EQ(CodeOf([&] { file->GetPage(nullptr, 0, 5); }), err::IndexPagesCorrupt);
    // A page whose type byte is no page type.
    TPageRef first(file->AllocatePage(nullptr, 0));
    first.Reset();
    file->FlushPages(false);
    file->ClearPages(false);
    {
        const std::uint8_t bad = 9;
        FileAccessGuard guard(*file);
        file->SeekFile(SeekOrigin::Begin, 4096);
        file->WriteBuffer(&bad, 1);
    }
    EXPECT_EQ(CodeOf([&] { file->GetPage(nullptr, 0, 1); }), err::IndexPagesCorrupt);
    // Appends stop at page 2000000000 and at a file of 4000000000 bytes.
    Damage([](IndexFileHeader& h) { h.nextPage = 976562; });  // (976562 + 1) × 4096 > 4000000000
    EXPECT_EQ(CodeOf([&] { file->GetPage(nullptr, 0, 976562); }), err::TableFull);
    Damage([](IndexFileHeader& h) { h.nextPage = 976561; });
    TPageRef last(file->GetPage(nullptr, 0, 976561));
    EXPECT_EQ(last->Count(), 0);
}

TEST_F(IndexFileFixture, OpeningRefusesAWrongFormatOrTooManyIndexes) {
    Create();
    Damage([](IndexFileHeader& h) { h.secondaryCount = 31; });  // would take slot 31 for a secondary index
    file->CloseFile();
    file = Make();
    EXPECT_EQ(CodeOf([&] { file->OpenFile(); }), err::HeaderCorrupt);
    EXPECT_FALSE(file->IsOpen());
    file = Make();
    {
        // Through a second handler, since the damaged file no longer opens.
        TFileHandler raw;
        raw.Name = Path();
        raw.OpenFile();
        const std::uint8_t values[2] = {4, 0};
        {
            FileAccessGuard guard(raw);
            raw.SeekFile(SeekOrigin::Begin, 8);
            raw.WriteBuffer(values, 1);
            raw.SeekFile(SeekOrigin::Begin, 13);
            raw.WriteBuffer(values + 1, 1);
        }
        raw.CloseFile();
    }
    EXPECT_EQ(CodeOf([&] { file->OpenFile(); }), err::WrongVersion);
}

TEST_F(IndexFileFixture, PageCachesFlushOrGrowWhenFull) {
    Create();
    file->SetPrimaryIndex(Index("", {4}, true), fields);
    EXPECT_EQ(file->CacheCapacity(0), 2u);  // 16384 / 8192
    // Outside a transaction the modified pages are written to make room.
    for (int i = 0; i < 5; ++i) TPageRef(file->AllocatePage(nullptr, 0));
    EXPECT_LE(file->CachedPageCount(0), 2u);
    EXPECT_EQ(file->GetFileSize(), 4096 + 4 * 4096);
    // During a transaction they stay in memory and the cache grows by 4.
    owner.transactionLock = true;
    for (int i = 0; i < 5; ++i) TPageRef(file->AllocatePage(nullptr, 0));
    EXPECT_EQ(file->CacheCapacity(0), 2u + 4u);
    EXPECT_EQ(file->CachedPageCount(0), 6u);
    owner.transactionLock = false;
    EXPECT_TRUE(file->FlushPages(false));
    file->TrimPageCaches();
    EXPECT_EQ(file->CacheCapacity(0), 2u);
    EXPECT_EQ(file->CachedPageCount(0), 2u);
    EXPECT_EQ(file->GetFileSize(), 4096 + 10 * 4096);
}

TEST_F(IndexFileFixture, AFailedPageWriteIsAWriteError) {
    Create();
    file->SetPrimaryIndex(Index("", {4}, true), fields);
    TPageRef(file->AllocatePage(nullptr, 0));
    auto plan = std::make_shared<TFaultPlan>(".Idx");
    plan->FailNth(FileOp::Write, 1);
    ScopedFaultPlan scoped(plan);
    EXPECT_EQ(CodeOf([&] { file->FlushPages(false); }), err::WriteError);
    // The page is still modified and goes out with the next flush.
    EXPECT_TRUE(file->FlushPages(false));
    EXPECT_EQ(file->GetFileSize(), 8192);
}

TEST_F(IndexFileFixture, AnotherOpeningSeesTheChangeCounterMove) {
    Create();
    auto other = Make();
    other->OpenFile();
    EXPECT_FALSE(other->HeaderChanged());
    file->AddSecondaryIndex(Index("ByType", {4}), fields);
    file->WriteHeader();
    EXPECT_TRUE(other->HeaderChanged());
    EXPECT_EQ(other->GetIndexDescriptor(1).name, "ByType");
    EXPECT_FALSE(other->HeaderChanged());
    other->CloseFile();
}

TEST_F(IndexFileFixture, EmptyingKeepsTheDefinitionsAndDropsThePages) {
    Create();
    file->SetPrimaryIndex(Index("", {4}, true), fields);
    TPageRef(file->AllocatePage(nullptr, 0));
    file->SetRootPage(0, 1);
    file->SetActiveRecords(12);
    file->FlushPages(false);
    file->EmptyFile();
    EXPECT_EQ(file->GetFileSize(), 4096);
    EXPECT_EQ(file->PageCount(), 0u);
    EXPECT_EQ(file->GetRootPage(0), 0u);
    EXPECT_EQ(file->ActiveRecordCount(), 0);
    EXPECT_EQ(file->GetIndexDescriptor(0).keyLength, 3);
    EXPECT_TRUE(file->HeaderIsChanged());
}

// ---- text index parameters ----------------------------------------------------------

TEST_F(IndexFileFixture, TextIndexParametersFillAChainOfRawPages) {
    Create();
    EXPECT_FALSE(file->ReadTextIndexParameters(nullptr).has_value());
    TextIndexParameters parameters;
    for (int i = 0; i < 40; ++i) parameters.stopWords.push_back(std::string(100 + i * 5, static_cast<char>('a' + i % 26)));
    parameters.stopWords.push_back(std::string(300, 'z'));  // kept to 255 characters
    parameters.stopWords.push_back("");
    parameters.spaceCharacters[32 / 8] = 1 << (32 % 8);
    parameters.includeCharacters[255 / 8] = 0x80;
    file->WriteTextIndexParameters(nullptr, parameters);
    const std::uint32_t root = file->GetDataRootPage(kTextSlot);
    ASSERT_NE(root, 0u);
    const std::uint32_t pages = file->PageCount();
    EXPECT_GE(pages, 2u);
    file->FlushPages(false);
    file->WriteHeader();
    file->CloseFile();
    file = Make();
    file->OpenFile();
    auto read = file->ReadTextIndexParameters(nullptr);
    ASSERT_TRUE(read.has_value());
    TextIndexParameters expected = parameters;
    for (std::string& word : expected.stopWords)
        if (word.size() > 255) word.resize(255);
    EXPECT_EQ(*read, expected);
    // No item straddles two pages: the first page ends where the next item would not fit.
    {
        TPageRef first(file->GetPage(nullptr, kTextSlot, root));
        EXPECT_EQ(first->type, PageType::Raw);
        EXPECT_NE(first->next, 0u);
    }
    // Fewer words reuse the chain from its start.
    TextIndexParameters shorter;
    shorter.stopWords = {"the", "and"};
    file->WriteTextIndexParameters(nullptr, shorter);
    EXPECT_EQ(file->PageCount(), pages);
    EXPECT_EQ(file->GetDataRootPage(kTextSlot), root);
    EXPECT_EQ(*file->ReadTextIndexParameters(nullptr), shorter);
}

TEST_F(IndexFileFixture, ADamagedParameterChainIsAPageError) {
    Create();
    TextIndexParameters parameters;
    parameters.stopWords = {"a", "b"};
    file->WriteTextIndexParameters(nullptr, parameters);
    const std::uint32_t root = file->GetDataRootPage(kTextSlot);
    {
        TPageRef page(file->GetPage(nullptr, kTextSlot, root));
        page->RawData()[3] = 0x80;  // word count negative
        page->modified = true;
    }
    EXPECT_EQ(CodeOf([&] { file->ReadTextIndexParameters(nullptr); }), err::IndexPagesCorrupt);
    {
        TPageRef page(file->GetPage(nullptr, kTextSlot, root));
        page->RawData()[3] = 0;
        page->RawData()[0] = 200;  // more words than the chain holds
    }
    EXPECT_EQ(CodeOf([&] { file->ReadTextIndexParameters(nullptr); }), err::IndexPagesCorrupt);
    {
        TPageRef page(file->GetPage(nullptr, kTextSlot, root));
        page->type = PageType::Leaf;
    }
    EXPECT_EQ(CodeOf([&] { file->ReadTextIndexParameters(nullptr); }), err::IndexPagesCorrupt);
}

// ---- verification and repair ----------------------------------------------------------

TEST_F(IndexFileFixture, ValidationRejectsEveryDamage) {
    Create();
    file->SetPrimaryIndex(Index("", {1}, true), fields);
    file->AddSecondaryIndex(Index("ByCategory", {2}), fields);
    file->AddSecondaryIndex(Index("ByType", {4}), fields);
    file->WriteHeader();
    const IndexFileHeader good = file->Header();
    EXPECT_NO_THROW(file->ValidateHeader(fields));
    struct Case {
        const char* what;
        std::function<void(IndexFileHeader&)> damage;
        std::uint16_t code;
    };
    const std::vector<Case> cases = {
        {"format mark", [](IndexFileHeader& h) { h.formatMark = 4; }, err::WrongVersion},
        {"primary with a name", [](IndexFileHeader& h) { h.slots[0].name = "P"; }, err::HeaderCorrupt},
        {"primary not unique", [](IndexFileHeader& h) { h.slots[0].unique = false; }, err::HeaderCorrupt},
        {"name starting with a blank", [](IndexFileHeader& h) { h.slots[1].name = " X"; }, err::HeaderCorrupt},
        {"duplicate name", [](IndexFileHeader& h) { h.slots[2].name = "BYCATEGORY"; }, err::HeaderCorrupt},
        {"duplicate name beyond ASCII", [](IndexFileHeader& h) {
             h.slots[1].name = "Äpfel";
             h.slots[2].name = "äPFEL";
         }, err::HeaderCorrupt},
        {"17 fields", [](IndexFileHeader& h) { h.slots[1].fieldCount = 17; }, err::HeaderCorrupt},
        {"gap in the fields", [](IndexFileHeader& h) { h.slots[1].fieldNumbers[2] = 4; }, err::HeaderCorrupt},
        {"field beyond the table", [](IndexFileHeader& h) { h.slots[2].fieldNumbers[0] = 6; }, err::HeaderCorrupt},
        {"BLOB field", [](IndexFileHeader& h) { h.slots[2].fieldNumbers[0] = 3; }, err::HeaderCorrupt},
        {"no fields", [](IndexFileHeader& h) {
             h.slots[2].fieldNumbers[0] = 0;
             h.slots[2].fieldCount = 0;
         }, err::HeaderCorrupt},
        {"wrong key length", [](IndexFileHeader& h) { h.slots[1].keyLength = 12; }, err::HeaderCorrupt},
        {"root beyond the pages", [](IndexFileHeader& h) { h.slots[1].rootPage = 1; }, err::HeaderCorrupt},
        {"free page beyond the pages", [](IndexFileHeader& h) { h.slots[31].firstFreePage = 3; }, err::HeaderCorrupt},
        {"text index on a number", [](IndexFileHeader& h) {
             h.slots[32].fieldNumbers[0] = 4;
             h.slots[32].fieldCount = 1;
         }, err::HeaderCorrupt},
        {"31 secondary indexes", [](IndexFileHeader& h) { h.secondaryCount = 31; }, err::HeaderCorrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Damage(c.damage);
        EXPECT_EQ(CodeOf([&] { file->ValidateHeader(fields); }), c.code);
        Damage([&](IndexFileHeader& h) { h = good; });
    }
    // Slot 0 may be empty when the flag says so; the text index may take a memo.
    Damage([](IndexFileHeader& h) {
        h.slots[0] = IndexDescriptor{};
        h.noPrimaryFields = true;
        h.slots[32].fieldNumbers[0] = 5;
        h.slots[32].fieldCount = 1;
    });
    EXPECT_NO_THROW(file->ValidateHeader(fields));
}

TEST_F(IndexFileFixture, RepairReportsEachFindingAndMendsIt) {
    Create();
    file->SetPrimaryIndex(Index("", {1}, true), fields);
    file->AddSecondaryIndex(Index("ByCategory", {2}), fields);
    file->AddSecondaryIndex(Index("ByType", {4}), fields);
    file->AddSecondaryIndex(Index("Both", {2, 4}), fields);
    file->AddSecondaryIndex(Index("Wide", {1}), fields);
    file->WriteHeader();
    Damage([](IndexFileHeader& h) {
        h.slots[0].name = "Oops";                 // silently mended
        h.slots[1].name = "9Lives";
        h.slots[2].name = "bycategory";           // duplicate of the mended 9Lives? no: of ByCategory before it
        h.slots[2].name = "9LIVES";
        h.slots[3].fieldNumbers = {0, 2, 7, 4};   // a gap, then a field the table does not have
        h.slots[3].keyLength = 99;
        h.slots[3].fieldCount = 4;
        h.slots[4].fieldNumbers[0] = 3;           // a BLOB: nothing usable is left
        h.slots[1].rootPage = 40;
        h.slots[31].name = "Renamed";
        h.formatMark = 5;
    });
    const std::vector<std::string> verify = {
        "Invalid index name for index 9Lives",
        "Invalid index name for index 9LIVES",
        "Duplicate index name for index 9LIVES",
        "Invalid root page pointer for index 9Lives",
        "Invalid field number 0 in index Both",
        "Invalid field number 7 in index Both",
        "Invalid key size of 99 for index Both",
        "Invalid key field count of 4 for index Both",
        "Invalid field number 3 in index Wide",
        "Invalid key size of 4 for index Wide",
    };
    EXPECT_FALSE(file->RepairHeader(cursor, true, fields));
    std::vector<std::string> sorted = cursor.messages;
    std::vector<std::string> expected = verify;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    EXPECT_EQ(file->GetIndexDescriptor(1).name, "9Lives");  // verifying changes nothing

    cursor.messages.clear();
    EXPECT_FALSE(file->RepairHeader(cursor, false, fields));
    EXPECT_EQ(cursor.messages, (std::vector<std::string>{
                                   "Invalid index name for index 9Lives, error fixed",
                                   "Invalid root page pointer for index _9Lives",
                                   "Invalid index name for index 9LIVES, error fixed",
                                   "Duplicate index name for index _9LIVES, error fixed",
                                   "Invalid field number 0 in index Both, error fixed and field removed from index",
                                   "Invalid field number 7 in index Both, error fixed and field removed from index",
                                   "Invalid key size of 99 for index Both, error fixed",
                                   "Invalid key field count of 4 for index Both, error fixed",
                                   "Invalid field number 3 in index Wide, error fixed and field removed from index",
                                   "Invalid key size of 4 for index Wide, error fixed and index removed",
                               }));
    EXPECT_EQ(file->SecondaryCount(), 3);
    EXPECT_EQ(file->GetIndexDescriptor(0).name, "");
    EXPECT_EQ(file->GetIndexDescriptor(1).name, "_9Lives");
    EXPECT_EQ(file->GetIndexDescriptor(2).name, "__9LIVES");
    EXPECT_EQ(file->GetIndexDescriptor(3).fieldCount, 2);
    EXPECT_EQ(file->GetIndexDescriptor(3).keyLength, 12 + 3 + 4);
    EXPECT_EQ(file->GetIndexDescriptor(31).name, "Sys Deleted");
    EXPECT_TRUE(file->HeaderIsChanged());
    // Only the page pointer is left, for the table repair to rebuild.
    cursor.messages.clear();
    EXPECT_FALSE(file->RepairHeader(cursor, true, fields));
    EXPECT_EQ(cursor.messages, (std::vector<std::string>{"Invalid root page pointer for index _9Lives"}));
}

TEST_F(IndexFileFixture, RepairSetsThePrimaryFlagToMatchSlotZero) {
    Create();
    file->SetPrimaryIndex(Index("", {1}, true), fields);
    file->WriteHeader();
    Damage([](IndexFileHeader& h) { h.noPrimaryFields = true; });
    EXPECT_FALSE(file->RepairHeader(cursor, false, fields));
    EXPECT_EQ(cursor.messages, (std::vector<std::string>{"Invalid internal primary index flag in header, error fixed"}));
    EXPECT_FALSE(file->NoPrimaryFields());
    cursor.messages.clear();
    Damage([](IndexFileHeader& h) { h.slots[0].fieldNumbers[0] = 3; });
    EXPECT_FALSE(file->RepairHeader(cursor, false, fields));
    EXPECT_EQ(cursor.messages, (std::vector<std::string>{
                                   "Invalid field number 3 in index , error fixed and field removed from index",
                                   "Invalid internal primary index flag in header, error fixed"}));
    EXPECT_TRUE(file->NoPrimaryFields());
    EXPECT_EQ(file->GetIndexDescriptor(0), IndexDescriptor{});
    cursor.messages.clear();
    EXPECT_TRUE(file->RepairHeader(cursor, true, fields));
    EXPECT_TRUE(cursor.messages.empty());
    EXPECT_NO_THROW(file->ValidateHeader(fields));
}

}  // namespace
}  // namespace pixhold::engine::indextest

namespace pixhold::engine::indextest {
namespace {

// Long keys whose shared prefixes and zero tails pass the 254 bytes one entry may drop.
TEST(IndexPageCodec, CompressedLeavesRoundTripAtTheRunLimits) {
    for (std::uint8_t compression = 0; compression <= 3; ++compression) {
        for (bool unique : {false, true}) {
            SCOPED_TRACE(std::to_string(compression) + (unique ? " unique" : " not unique"));
            PageProperties properties;
            properties.keyLength = 520;
            properties.unique = unique;
            properties.compression = static_cast<KeyCompression>(compression);
            TPage page;
            page.Reset(nullptr, 1, 7, properties);
            page.type = PageType::Leaf;
            std::vector<Bytes> keys;
            for (int i = 0; i < 6; ++i) {
                Bytes key(520, 0);
                std::fill(key.begin(), key.begin() + 300, 0x41);  // 300 equal leading bytes
                key[300] = static_cast<std::uint8_t>(i);           // then a difference, then zeros
                if (i % 2 == 1) key[519] = 9;                       // some keys end in a non-zero id byte
                keys.push_back(key);
            }
            for (int i = 0; i < 6; ++i) page.InsertAt(i, keys[i].data(), 100u + static_cast<std::uint32_t>(i), 0);
            if (compression != 0) {
                EXPECT_LE(page.Leading(2), 254);
                EXPECT_LE(page.Trailing(1), 254);
                const int used = page.bytesUsed;
                page.RecomputeCompression();
                EXPECT_EQ(page.bytesUsed, used);
                EXPECT_LT(used, 6 * (520 + 4));
            }
            Bytes image(kIndexPageSize);
            page.Encode(image.data());
            TPage back;
            back.Reset(nullptr, 1, 7, properties);
            ASSERT_TRUE(back.Decode(image.data()));
            ASSERT_EQ(back.Count(), 6);
            for (int i = 0; i < 6; ++i) {
                EXPECT_EQ(Bytes(back.Key(i + 1), back.Key(i + 1) + 520), keys[i]) << i;
                EXPECT_EQ(back.A(i + 1), 100u + static_cast<std::uint32_t>(i));
            }
            EXPECT_EQ(back.bytesUsed, page.bytesUsed);
            // A damaged byte count or a leading count on the first entry is refused.
            if (compression != 0) {
                Bytes bad = image;
                bad[11] ^= 1;
                EXPECT_FALSE(back.Decode(bad.data()));
                if (compression != 2) {
                    bad = image;
                    bad[13] = 3;
                    EXPECT_FALSE(back.Decode(bad.data()));
                }
            }
        }
    }
}

// A cursor whose change check reports a refresh.
class RefreshingCursor : public IndexCursor {
public:
    bool CheckForChanges() override {
        ++checks;
        return refresh;
    }
    int checks = 0;
    bool refresh = true;
};

TEST(IndexPageCache, OnlyAMissAsksTheCursorForChanges) {
    IndexOwner owner;
    TIndexFile file(owner);
    file.Name = MemoryName("misses");
    file.InMemory = true;
    file.CreateFile();
    const auto fields = LaidOut({Field("N", fieldtype::Integer)});
    file.SetPrimaryIndex(Index("", {1}, true), fields);
    const TKeyLayout layout = TKeyLayout::For(file.GetIndexDescriptor(0), 0, fields);
    const TKeyComparer comparer(layout, 0);
    Bytes key(5, 1);
    keycodec::PutInt32(key.data() + 1, 42);
    TIndexTree(file, 0, comparer).InsertKey(key.data(), 9);
    RefreshingCursor cursor;
    TIndexTree tree(file, 0, comparer, &cursor);
    TIndexPath path;
    bool exact = false;
    EXPECT_TRUE(tree.Seek(key.data(), path, exact));  // cached: nobody asked
    EXPECT_EQ(cursor.checks, 0);
    file.FlushPages(false);
    file.ClearPages(false);
    EXPECT_FALSE(tree.Seek(key.data(), path, exact));  // the cursor refreshed: start again
    EXPECT_EQ(cursor.checks, 1);
    cursor.refresh = false;
    EXPECT_TRUE(tree.Seek(key.data(), path, exact));
    EXPECT_TRUE(exact);
    EXPECT_EQ(cursor.checks, 2);
    file.CloseFile();
    file.DeleteFile();
}

}  // namespace
}  // namespace pixhold::engine::indextest
