#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataFile.h"
#include "DataFileTestSupport.h"

namespace pixhold::engine {
namespace {

using test::CodeOf;
using test::datafile::FakeCursor;
using test::datafile::FakeOwner;
using test::datafile::Field;

// Where descriptor k (from 1) starts in the file.
std::int64_t Descriptor(int k) { return 127 + (k - 1) * 768; }

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }
// A stored text: length byte and characters.
std::string Stored(const std::string& text) { return Byte(static_cast<int>(text.size())) + text; }

// ID (auto-increment, offset 5), Name (string 10, offset 9), Flag (boolean,
// offset 21), Pic (BLOB, offset 24): record size 33.
std::vector<FieldDescriptor> Table() {
    auto name = Field("Name", fieldtype::String, 10);
    name.description = "xy";
    auto flag = Field("Flag", fieldtype::Boolean);
    flag.defaultValue = "TRUE";
    return {Field("ID", fieldtype::Integer, 0, fieldsubtype::AutoInc), name, flag,
            Field("Pic", fieldtype::Blob, 0, fieldsubtype::Graphic)};
}

constexpr std::int64_t kRecords = 127 + 4 * 768;

struct DamageCase {
    const char* title;
    int records;  // appended before the damage
    std::function<void(TDataFile&)> damage;
    std::vector<std::string> verify;
    std::vector<std::string> repair;
    std::uint16_t validateCode;  // ValidateHeader on the damaged file
    bool mendable;               // the repaired file validates
};

std::vector<DamageCase> Cases() {
    using test::WriteAt;
    const std::string fixed = ", error fixed";
    const std::string lost = ", error cannot be fixed";
    const std::string thirty = "N23456789012345678901234567890";
    std::vector<DamageCase> cases = {
        {"blank name", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 2, Byte(0)); },
         {"Invalid field name (blank) for field # 3 in table header"},
         {"Invalid field name (blank) for field # 3 in table header" + fixed}, err::HeaderCorrupt, true},
        {"first character", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 3, "9"); },
         {"Invalid field name (first character) for field 9lag in table header"},
         {"Invalid field name (first character) for field 9lag in table header" + fixed}, err::HeaderCorrupt, true},
        {"too long", 0,
         [thirty](TDataFile& f) { WriteAt(f, Descriptor(2) + 2, Byte(33) + thirty); },
         // The length byte reaches into the description: its length byte and "xy".
         {"Invalid field name (too long) for field " + thirty + "\x02xy in table header"},
         {"Invalid field name (too long) for field " + thirty + "\x02xy in table header" + fixed},
         err::HeaderCorrupt, true},
        {"duplicate name", 0, [](TDataFile& f) { WriteAt(f, Descriptor(4) + 2, Stored("flag")); },
         {"Invalid field name (duplicate) for field flag in table header"},
         {"Invalid field name (duplicate) for field flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"unknown type", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 84, Byte(0)); },
         {"Invalid field data type (Unknown) for field Flag in table header"},
         {"Invalid field data type (Unknown) for field Flag in table header" + lost}, err::HeaderCorrupt, false},
        {"string too long", 0, [](TDataFile& f) { WriteAt(f, Descriptor(2) + 86, Byte(255)); },
         {"Invalid field length for field Name in table header (255)"},
         // The physical size still fits the layout: the size is derived from
         // it and no field moves.
         {"Invalid field length for field Name in table header (255)" + fixed},
         err::HeaderCorrupt, true},
        {"string of size 0", 0, [](TDataFile& f) { WriteAt(f, Descriptor(2) + 86, Byte(0)); },
         {"Invalid field length for field Name in table header (0)"},
         {"Invalid field length for field Name in table header (0)" + fixed}, err::HeaderCorrupt, true},
        {"size on a boolean", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 86, Byte(3)); },
         {"Invalid field length for field Flag in table header"},
         {"Invalid field length for field Flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"physical size", 0, [](TDataFile& f) { WriteAt(f, Descriptor(4) + 88, Byte(7)); },
         {"Invalid field length for field Pic in table header",
          "Invalid physical record length in table header"},
         {"Invalid field length for field Pic in table header" + fixed}, err::HeaderCorrupt, true},
        {"default", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 196, Stored("maybe")); },
         {"Invalid default value for field Flag in table header"},
         {"Invalid default value for field Flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"minimum", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 94, Stored("2")); },
         {"Invalid minimum value for field Flag in table header"},
         {"Invalid minimum value for field Flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"maximum", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 145, Stored("yes")); },
         {"Invalid maximum value for field Flag in table header"},
         {"Invalid maximum value for field Flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"decimals", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 87, Byte(2)); },
         {"Invalid field decimals for field Flag in table header"},
         {"Invalid field decimals for field Flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"offset", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3) + 90, Byte(22)); },
         {"Invalid field offset for field Flag in table header"},
         {"Invalid field offset for field Flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"auto-increment offset", 0, [](TDataFile& f) { WriteAt(f, Descriptor(1) + 90, Byte(9)); },
         {"Invalid field offset for field ID in table header"},
         {"Invalid field offset for field ID in table header" + fixed}, err::HeaderCorrupt, true},
        {"field number", 0, [](TDataFile& f) { WriteAt(f, Descriptor(3), Byte(2)); },
         {"Invalid field number for field Flag in table header"},
         {"Invalid field number for field Flag in table header" + fixed}, err::HeaderCorrupt, true},
        {"record size", 0, [](TDataFile& f) { WriteAt(f, 21, Byte(40)); },
         {"Invalid physical record length in table header"},
         {"Invalid physical record length in table header" + fixed}, err::HeaderCorrupt, true},
        {"partial record", 3, [](TDataFile& f) { WriteAt(f, kRecords + 3 * 33, "junk!"); },
         {"Physical records not aligned on even record size boundaries"},
         {"Physical records not aligned on even record size boundaries" + fixed}, err::HeaderCorrupt, true},
        {"record count", 3, [](TDataFile& f) { WriteAt(f, 13, Byte(7)); },
         {"Physical record count not correct"},
         {"Physical record count not correct" + fixed}, err::HeaderCorrupt, true},
        {"free pointer past the records", 3, [](TDataFile& f) { WriteAt(f, 9, Byte(4)); },
         {"Invalid next free record pointer"},
         {"Invalid next free record pointer" + fixed}, err::HeaderCorrupt, true},
        {"negative free pointer", 3, [](TDataFile& f) { WriteAt(f, 9, std::string("\x00\x00\x00\x80", 4)); },
         {"Invalid next free record pointer"},
         {"Invalid next free record pointer" + fixed}, err::HeaderCorrupt, true},
        {"BLOB field count", 0, [](TDataFile& f) { WriteAt(f, 25, Byte(2)); },
         {"Invalid BLOB field count in table header"},
         {"Invalid BLOB field count in table header" + fixed}, 0, true},
    };
    return cases;
}

class DataFileRepair : public ::testing::TestWithParam<std::size_t> {
protected:
    FakeOwner owner;
};

TEST_P(DataFileRepair, VerifyReportsRepairMendsAndTheHeaderThenValidates) {
    const DamageCase c = Cases()[GetParam()];
    SCOPED_TRACE(c.title);
    auto file = test::datafile::CreateDataFile(owner, test::datafile::MemoryName("repair"), true, Table());
    for (int i = 0; i < c.records; ++i) file->ReleaseRecord(file->AllocateRecord(nullptr));
    test::datafile::WriteAll(*file);
    c.damage(*file);
    file->CloseFile();
    file->OpenFile();

    EXPECT_EQ(CodeOf([&] { file->ValidateHeader(); }), c.validateCode);

    const std::string before = test::ReadAt(*file, 0, 1 << 16);
    FakeCursor verify;
    EXPECT_FALSE(file->RepairHeader(verify, true));
    EXPECT_EQ(verify.messages, c.verify);
    EXPECT_FALSE(file->HeaderIsChanged());
    EXPECT_FALSE(file->DescriptorsChanged());
    test::datafile::WriteAll(*file);
    EXPECT_EQ(test::ReadAt(*file, 0, 1 << 16), before) << "verifying changes nothing";

    FakeCursor repair;
    EXPECT_FALSE(file->RepairHeader(repair, false));
    EXPECT_EQ(repair.messages, c.repair);
    EXPECT_TRUE(file->HeaderIsChanged());
    EXPECT_TRUE(file->DescriptorsChanged());
    EXPECT_EQ(file->Header().firstFree, 0u);
    EXPECT_EQ(file->Header().formatMark, 5);
    test::datafile::WriteAll(*file);
    file->CloseFile();
    file->OpenFile();
    if (c.mendable) {
        EXPECT_EQ(CodeOf([&] { file->ValidateHeader(); }), 0);
        FakeCursor again;
        EXPECT_TRUE(file->RepairHeader(again, true));
        EXPECT_TRUE(again.messages.empty()) << (again.messages.empty() ? "" : again.messages.front());
        EXPECT_EQ(file->PhysicalRecordCount(), static_cast<std::uint32_t>(c.records));
        EXPECT_EQ(file->GetFileSize(), kRecords + c.records * static_cast<std::int64_t>(file->RecordSize()));
    } else {
        EXPECT_EQ(CodeOf([&] { file->ValidateHeader(); }), err::HeaderCorrupt);
    }
    file->CloseFile();
    file->DeleteFile();
}

INSTANTIATE_TEST_SUITE_P(DataFileDamagedHeaders, DataFileRepair, ::testing::Range<std::size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             std::string name = Cases()[param.param].title;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

TEST(DataFileRepairNames, MendedNamesFollowTheRules) {
    FakeOwner owner;
    auto file = test::datafile::CreateDataFile(owner, test::datafile::MemoryName("names"), true, Table());
    test::WriteAt(*file, Descriptor(2) + 2, Byte(0));                                 // blank
    test::WriteAt(*file, Descriptor(3) + 2, Stored("1" + std::string(29, 'x')));      // bad first character
    test::WriteAt(*file, Descriptor(4) + 2, Stored("id"));                            // duplicate of ID
    file->CloseFile();
    file->OpenFile();
    FakeCursor cursor;
    file->RepairHeader(cursor, false);
    EXPECT_EQ(file->GetFieldDescriptor(2).name, "Repaired_Fld2");
    EXPECT_EQ(file->GetFieldDescriptor(3).name, "_1" + std::string(28, 'x'));
    EXPECT_EQ(file->GetFieldDescriptor(4).name, "_4id") << "a mended name must itself be valid";
    test::datafile::WriteAll(*file);
    file->CloseFile();
    file->OpenFile();
    EXPECT_EQ(CodeOf([&] { file->ValidateHeader(); }), 0);
    file->CloseFile();
    file->DeleteFile();
}

TEST(DataFileRepairNames, ASoundHeaderHasNoFindingsButRepairStillClearsTheFreeChain) {
    FakeOwner owner;
    auto file = test::datafile::CreateDataFile(owner, test::datafile::MemoryName("sound"), true, Table());
    for (int i = 0; i < 3; ++i) file->ReleaseRecord(file->AllocateRecord(nullptr));
    TRecord* r = file->GetRecord(nullptr, 2);
    file->FreeRecord(r);
    file->ReleaseRecord(r);
    test::datafile::WriteAll(*file);
    file->ValidateHeader();
    FakeCursor cursor;
    EXPECT_TRUE(file->RepairHeader(cursor, true));
    EXPECT_EQ(file->Header().firstFree, 2u);
    EXPECT_TRUE(file->RepairHeader(cursor, false));
    EXPECT_TRUE(cursor.messages.empty());
    EXPECT_EQ(file->Header().firstFree, 0u) << "the record scan rebuilds the chain";
    file->CloseFile();
    file->DeleteFile();
}

TEST(DataFileRepairNames, ValidateRejectsUnknownLocalesAndDuplicateNumbers) {
    FakeOwner owner;
    DataFileParams params;
    params.languageID = 0x1234;
    auto file = test::datafile::CreateDataFile(owner, test::datafile::MemoryName("locale"), true, Table(), params);
    EXPECT_EQ(CodeOf([&] { file->ValidateHeader(); }), err::LanguageNotAvailable);
    // Case conversion needs the locale too.
    auto upper = Field("U", fieldtype::String, 4);
    upper.characterCase = charcase::Upper;
    auto other = test::datafile::CreateDataFile(owner, test::datafile::MemoryName("locale"), true, {upper}, params);
    TRecord* r = other->AllocateRecord(nullptr);
    const std::string text = "ab";
    EXPECT_EQ(CodeOf([&] { other->PutField(*r, 1, reinterpret_cast<const std::uint8_t*>(text.data()), 2); }),
              err::LanguageNotAvailable);
    other->ReleaseRecord(r);
    for (auto* f : {file.get(), other.get()}) {
        f->CloseFile();
        f->DeleteFile();
    }
}

}  // namespace
}  // namespace pixhold::engine
