#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "CursorEditSupport.h"
#include "EngineError.h"
#include "RecordBuffer.h"
#include "TableTestSupport.h"

namespace pixhold::engine {
namespace {

using namespace edittest;

// Field, word and record identifier of each "Sys Text" key, with the record number.
using TextKey = std::tuple<int, std::string, std::uint32_t, std::uint32_t>;

std::set<TextKey> TextKeys(TDataTable& table) {
    std::set<TextKey> keys;
    coretest::TableDriver driver(table);
    table.BeginRead();
    for (const auto& [key, number] : driver.Keys(kTextSlot)) {
        EXPECT_EQ(key.size(), kTextKeyLength);
        EXPECT_EQ(key[0], 1);
        const std::string word(reinterpret_cast<const char*>(key.data() + 3), strnlen(reinterpret_cast<const char*>(key.data() + 3), 61));
        const std::uint32_t id = (static_cast<std::uint32_t>(key[64] ^ 0x80) << 24) | static_cast<std::uint32_t>(key[65]) << 16 |
                                 static_cast<std::uint32_t>(key[66]) << 8 | key[67];
        keys.emplace(key[1] << 8 | key[2], word, id, number);
    }
    table.EndRead();
    return keys;
}

TableDefinition TextTable() {
    TableDefinition d = EditTable();
    d.fields[4].subtype = fieldsubtype::Memo;
    IndexDescriptor text;
    text.fieldCount = 2;
    text.fieldNumbers[0] = 4;  // Cat
    text.fieldNumbers[1] = 5;  // Data
    d.textIndex = text;
    return d;
}

TEST(CursorTextIndex, WordsAreSplitByTheDefaultCharacterSets) {
    const TextIndexParameters p = TEditKeys::DefaultTextParameters();
    struct Case {
        std::string text;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"", {}},
        {"  one  two ", {"one", "two"}},
        {"don't stop", {"dont", "stop"}},               // skipped, the word goes on
        {"a-b/c.d,e;f:g<h=i>j*k+l\\m`n", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n"}},
        {"x_1 (y) !z?", {"x_1", "y", "z"}},
        {"dup Dup dup", {"dup", "Dup"}},
        {"tab\tline\nend", {"tab", "line", "end"}},
        {std::string(70, 'w'), {std::string(61, 'w')}},  // at most 61 characters
    };
    for (const Case& c : cases) EXPECT_EQ(SplitTextWords(c.text, p), c.words) << c.text;
}

TEST(CursorTextIndex, InsertsChangesAndDeletesKeepTheWordKeys) {
    const TableDefinition d = TextTable();
    EditFixture fx(true, &d);
    auto cursor = fx.Open();
    const std::uint32_t n = Append(*cursor, {"pic", 1, "p", "Red-car a", "Hello, world! It's a hello"});
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    const std::uint32_t id = recordbuffer::RecordID(buffer.data());
    EXPECT_EQ(TextKeys(cursor->Table()), (std::set<TextKey>{{4, "RED", id, n},
                                                             {4, "CAR", id, n},
                                                             {5, "HELLO", id, n},
                                                             {5, "WORLD", id, n},
                                                             {5, "ITS", id, n}}));
    // A change of the string field only: the memo's keys stay as they are.
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data(), true), 0);
    recordbuffer::SetText(cursor->Fields()[3], buffer.data(), "blue car");
    cursor->ModifyRecord(buffer.data(), true, true);
    EXPECT_EQ(TextKeys(cursor->Table()), (std::set<TextKey>{{4, "BLUE", id, n},
                                                             {4, "CAR", id, n},
                                                             {5, "HELLO", id, n},
                                                             {5, "WORLD", id, n},
                                                             {5, "ITS", id, n}}));
    // A new memo replaces its words.
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data(), true), 0);
    std::uint32_t length = 0;
    ASSERT_EQ(cursor->OpenBlob(5, buffer.data(), TBlobOpenMode::Write, length), 0);
    ASSERT_EQ(cursor->PutBlob(5, buffer.data(), 0, 11, "world peace"), 0);
    cursor->ModifyRecord(buffer.data(), true, true);
    EXPECT_EQ(TextKeys(cursor->Table()), (std::set<TextKey>{{4, "BLUE", id, n},
                                                             {4, "CAR", id, n},
                                                             {5, "WORLD", id, n},
                                                             {5, "PEACE", id, n}}));
    // Another record, then the first one deleted: only the other's words remain.
    const std::uint32_t m = Append(*cursor, {"other", 2, "o", "car", ""});
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    const std::uint32_t otherID = recordbuffer::RecordID(buffer.data());
    ASSERT_TRUE(Seek(*cursor, "pic"));
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    cursor->DeleteRecord(buffer.data(), true);
    EXPECT_EQ(TextKeys(cursor->Table()), (std::set<TextKey>{{4, "CAR", otherID, m}}));
    EXPECT_EQ(Inspect(cursor->Table()).problems, "");
}

TEST(CursorTextIndex, StoredParametersReplaceTheDefaults) {
    TableDefinition d = TextTable();
    TextIndexParameters p;
    p.stopWords = {"RED"};
    for (unsigned c : {' ', '-'}) p.spaceCharacters[c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
    for (unsigned c = 'a'; c <= 'z'; ++c) p.includeCharacters[c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
    d.textIndexParameters = p;
    EditFixture fx(true, &d);
    auto cursor = fx.Open();
    const std::uint32_t n = Append(*cursor, {"pic", 1, "p", "the red-c9", ""});
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    const std::uint32_t id = recordbuffer::RecordID(buffer.data());
    EXPECT_EQ(TextKeys(cursor->Table()), (std::set<TextKey>{{4, "THE", id, n}, {4, "C", id, n}}));
}

}  // namespace
}  // namespace pixhold::engine
