#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "DataFile.h"
#include "DataFileTestSupport.h"

namespace pixhold::engine {
namespace {

using test::datafile::FakeOwner;
using test::datafile::Field;

// A zero-filled block with the bytes given as "offset: hex hex ..." lines
// (offset in decimal); text in quotes stands for its ASCII bytes.
std::vector<std::uint8_t> Fixture(std::size_t size, const std::vector<std::string>& lines) {
    std::vector<std::uint8_t> bytes(size, 0);
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::size_t at = 0;
        char colon = 0;
        in >> at >> colon;
        std::string item;
        while (in >> item) {
            if (item.front() == '"') {
                for (std::size_t i = 1; i + 1 < item.size(); ++i) bytes.at(at++) = static_cast<std::uint8_t>(item[i]);
            } else {
                bytes.at(at++) = static_cast<std::uint8_t>(std::stoul(item, nullptr, 16));
            }
        }
    }
    return bytes;
}

std::vector<std::uint8_t> FileBytes(TDataFile& file, std::int64_t offset, std::size_t count) {
    const std::string data = test::ReadAt(file, offset, count);
    return {data.begin(), data.end()};
}

// The small table of these tests: an auto-increment, a string of 10, a
// boolean and a graphic BLOB.
std::vector<FieldDescriptor> SmallTable() {
    auto id = Field("ID", fieldtype::Integer, 0, fieldsubtype::AutoInc);
    auto name = Field("Name", fieldtype::String, 10);
    name.description = "Nm";
    name.required = 1;
    name.characterCase = charcase::Upper;
    name.minimum = "A";
    name.defaultValue = "x";
    auto flag = Field("Flag", fieldtype::Boolean);
    flag.defaultValue = "TRUE";
    auto pic = Field("Pic", fieldtype::Blob, 0, fieldsubtype::Graphic);
    return {id, name, flag, pic};
}

DataFileParams SmallParams() {
    DataFileParams p;
    p.languageID = 1033;
    p.blobBlockSize = 512;
    p.description = "Test";
    p.userMajorVersion = 1;
    p.userMinorVersion = 2;
    return p;
}

// Days since 30 December 1899 of the local date and time now.
double LocalDaysNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<double>(timegm(&local)) / 86400.0 + 25569.0;
}

TEST(DataFileFormat, SmallTableHeaderAndDescriptorsMatchTheLayoutByteForByte) {
    FakeOwner owner;
    auto file = test::datafile::CreateDataFile(owner, test::datafile::MemoryName("layout"), true, SmallTable(), SmallParams());

    const auto header = Fixture(127, {
        "0: 01 00 00 00",        // change counter: one header write
        "4: 00 02 00 00",        // BLOB block size 512
        "8: 05",                 // format mark
        "9: 00 00 00 00",        // first free
        "13: 01 00 00 00",       // next record number
        "17: 00 00 00 00",       // last record identifier
        "21: 21 00",             // record size 33 = 9 + (11+1) + (2+1) + (8+1)
        "23: 04 00",             // field count
        "25: 01 00",             // BLOB field count
        "35: 04 \"Test\"",       // description
        "86: 00",                // not encrypted
        "87: 00",                // no password
        "103: 09 04",            // language 1033
        "105: 00 00",            // sort
        "107: 01 00 02 00",      // user version 1.2
        "111: 01",               // changed mark as it was when written
        "112: 00 00 00 00",      // last BLOB owner identifier
        "116: e8 80 00 00",      // writer version 33000
    });
    auto actual = FileBytes(*file, 0, 127);
    ASSERT_EQ(actual.size(), 127u);
    // Bytes 27..34 hold the last-update stamp: checked by value below.
    std::vector<std::uint8_t> stamp(actual.begin() + 27, actual.begin() + 35);
    std::fill(actual.begin() + 27, actual.begin() + 35, 0);
    EXPECT_EQ(actual, header);
    double lastUpdate = 0;
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | stamp[static_cast<std::size_t>(i)];
    std::memcpy(&lastUpdate, &bits, sizeof lastUpdate);
    EXPECT_NEAR(lastUpdate, LocalDaysNow() - 693594.0, 2.0 / 86400.0);

    const std::vector<std::vector<std::uint8_t>> descriptors = {
        Fixture(768, {"0: 01 00", "2: 02 \"ID\"", "84: 06 1d", "88: 04", "90: 05 00"}),
        Fixture(768, {"0: 02 00", "2: 04 \"Name\"", "33: 02 \"Nm\"", "84: 01 00 0a 00 0b 00", "90: 09 00",
                      "92: 01 02", "94: 01 \"A\"", "196: 01 \"x\""}),
        Fixture(768, {"0: 03 00", "2: 04 \"Flag\"", "84: 04 00 00 00 02 00", "90: 15 00",
                      "196: 04 \"TRUE\""}),
        Fixture(768, {"0: 04 00", "2: 03 \"Pic\"", "84: 03 1a 00 00 08 00", "90: 18 00"}),
    };
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        SCOPED_TRACE("field " + std::to_string(i + 1));
        EXPECT_EQ(FileBytes(*file, static_cast<std::int64_t>(127 + i * 768), 768), descriptors[i]);
    }
    EXPECT_EQ(file->GetFileSize(), 127 + 4 * 768);
    EXPECT_EQ(file->PhysicalRecordCount(), 0u);

    // One record: the string loses its trailing blanks and is stored in upper
    // case, the boolean stores 1 for any non-zero value, the BLOB is null.
    TRecord* record = file->AllocateRecord(nullptr);
    const std::string name = "Bob  ";
    file->PutField(*record, 2, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    const std::uint8_t yes[2] = {5, 0};
    file->PutField(*record, 3, yes, 2);
    file->ReleaseRecord(record);
    test::datafile::WriteAll(*file);
    const auto recordBytes = Fixture(33, {"0: 00 01 00 00 00 01 00 00 00", "9: 01 \"BOB\"", "21: 01 01 00"});
    EXPECT_EQ(FileBytes(*file, 127 + 4 * 768, 64), recordBytes);
    file->CloseFile();
    file->DeleteFile();
}

TEST(DataFileFormat, PhysicalSizeFollowsTheTypeTable) {
    struct Case {
        std::uint8_t type;
        std::uint8_t declared;
        std::uint16_t physical;
    };
    const Case cases[] = {
        {1, 10, 11}, {1, 250, 251}, {2, 0, 4},  {3, 0, 8},  {4, 0, 2},   {5, 0, 2},   {6, 0, 4},
        {7, 0, 8},   {8, 0, 34},    {9, 17, 17}, {10, 0, 4}, {11, 0, 8},  {12, 0, 2},  {13, 0, 4},
        {14, 0, 10}, {15, 99, 99},  {18, 0, 8},  {16, 7, 7}, {1, 255, 256},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PhysicalSizeOf(c.type, c.declared), c.physical) << "type " << int(c.type);
    }
}

TEST(DataFileFormat, RecordLayoutSkipsAutoIncrementAndReadOnlyFields) {
    auto ro = Field("Ro", fieldtype::Integer);
    ro.readOnly = 1;
    std::vector<FieldDescriptor> fields = {Field("A", fieldtype::SmallInt), ro,
                                           Field("Id", fieldtype::Integer, 0, fieldsubtype::AutoInc),
                                           Field("B", fieldtype::Decimal, 0), Field("C", fieldtype::Bytes, 5)};
    EXPECT_EQ(LayOutFields(fields), 9u + 3 + 35 + 6);
    EXPECT_EQ(fields[0].offset, 9);
    EXPECT_EQ(fields[1].offset, 12);  // where it would lie; takes no room
    EXPECT_EQ(fields[2].offset, 5);   // the record identifier
    EXPECT_EQ(fields[3].offset, 12);
    EXPECT_EQ(fields[4].offset, 47);
    for (std::size_t i = 0; i < fields.size(); ++i) EXPECT_EQ(fields[i].number, static_cast<std::int16_t>(i + 1));
}

TEST(DataFileFormat, DescriptorAndHeaderCodecsRoundTrip) {
    auto f = Field("Price", fieldtype::Decimal);
    f.decimals = 2;
    f.description = std::string(50, 'd');
    f.minimum = "-1.5";
    f.maximum = std::string(50, '9');
    f.defaultValue = "0";
    f.number = 7;
    f.offset = 300;
    f.physicalSize = 34;
    f.physicalDecimals = 2;
    f.required = 1;
    f.readOnly = 1;
    std::vector<std::uint8_t> bytes(768);
    f.Encode(bytes.data());
    EXPECT_EQ(FieldDescriptor::Decode(bytes.data()), f);

    DataFileHeader h;
    h.changeCounter = -5;
    h.blobBlockSize = 4096;
    h.formatMark = 5;
    h.firstFree = 0x01020304;
    h.nextRecordNumber = 77;
    h.lastRecordID = 2147483647;
    h.recordSize = 65535;
    h.fieldCount = 1024;
    h.blobFieldCount = 128;
    h.lastUpdate = -647000.25;
    h.description = std::string(50, 'x');
    h.encrypted = 1;
    h.password = std::string(15, 'p');
    h.languageID = 1031;
    h.sortID = 1;
    h.userMajorVersion = 65535;
    h.userMinorVersion = 3;
    h.changed = 1;
    h.lastBlobOwnerID = 9;
    h.writerVersion = 33000;
    h.reserved2 = 0x1234;
    h.reserved3 = 0x56;
    std::vector<std::uint8_t> hb(127);
    h.Encode(hb.data());
    EXPECT_EQ(DataFileHeader::Decode(hb.data()), h);
    EXPECT_EQ(h.Locale(), 1031u | (1u << 16));
}

TEST(DataFileFormat, TooLongTextsAreCutOnWritingAndSeenWhole) {
    // The writer never lets a text spill into the next field...
    auto f = Field(std::string(40, 'N'), fieldtype::String, 5);
    f.description = "D";
    std::vector<std::uint8_t> bytes(768);
    f.Encode(bytes.data());
    EXPECT_EQ(bytes[2], 30);
    EXPECT_EQ(bytes[33], 1);
    // ...while a stored length beyond the room is read as stored, so checks see it.
    bytes[2] = 32;
    const FieldDescriptor read = FieldDescriptor::Decode(bytes.data());
    EXPECT_EQ(read.name.size(), 32u);
    EXPECT_EQ(read.name.substr(30), std::string("\x01" "D", 2));
}

}  // namespace
}  // namespace pixhold::engine
