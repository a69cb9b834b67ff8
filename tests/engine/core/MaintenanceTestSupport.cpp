#include "MaintenanceTestSupport.h"

#include <cstdio>
#include <fstream>

#include "Record.h"
#include "TableFileNames.h"

namespace pixhold::engine::coretest {

namespace {

std::string NameOf(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "P%04d", i);
    return text;
}

}  // namespace

std::string PictureBytes(int i) {
    std::string bytes;
    const std::size_t length = 300 + static_cast<std::size_t>(i % 7) * 250;
    for (std::size_t k = 0; k < length; ++k) bytes.push_back(static_cast<char>((i * 31 + k * 7) % 251));
    return bytes;
}

MaintenanceFixture::MaintenanceFixture()
    : privateDir(dir / "private"), session(FastSession()),
      directory(session->OpenDataDirectory("PH", dir.folder())), maintenance(*directory, "Pics") {
    std::filesystem::create_directory(privateDir);
    session->SetPrivateDir(privateDir.string() + "/");
    maintenance.Events.OnLog = [this](const std::string& m) { log.push_back(m); };
    maintenance.Events.OnSteppedProgress = [this](const std::string& s, int p) { stepped.emplace_back(s, p); };
    maintenance.Events.OnProgress = [this](int p) { progress.push_back(p); };
}

void MaintenanceFixture::Fill(int count, bool withBlob, int deleteEvery, const std::string& name) {
    TTableMaintenance(*directory, name).CreateTable(PictureTable(withBlob));
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable(name, table, false, false), 0);
    TableDriver driver(*table);
    std::vector<std::uint32_t> numbers;
    for (int i = 1; i <= count; ++i)
        numbers.push_back(driver.Append(NameOf(i), i, withBlob ? PictureBytes(i) : std::string{}));
    for (int i = 1; deleteEvery > 0 && i <= count; ++i) {
        if (i % deleteEvery != 0) continue;
        const std::uint32_t number = numbers[static_cast<std::size_t>(i - 1)];
        // A deleted record gives its BLOB's blocks back, as a cursor's delete does.
        if (withBlob) {
            table->BeginWrite();
            TDataFile& data = table->DataFile();
            TRecord* record = data.GetRecord(nullptr, number);
            const FieldDescriptor field = data.GetFieldDescriptor(3);
            const auto slot = record->FieldData(field);
            std::uint32_t first = static_cast<std::uint32_t>(slot[0]) | static_cast<std::uint32_t>(slot[1]) << 8 |
                                  static_cast<std::uint32_t>(slot[2]) << 16 | static_cast<std::uint32_t>(slot[3]) << 24;
            table->BlobFile().FreeBlobChain(nullptr, first, true, 0);
            record->SetFieldNull(field);
            record->SetModified();
            data.ReleaseRecord(record);
            table->WriteBuffers(false, true, false, true, true);
            table->EndWrite();
        }
        driver.Delete(number);
    }
    ASSERT_EQ(directory->CloseTable(table), 0);
}

PictureRows MaintenanceFixture::Rows(const std::string& name) {
    PictureRows rows;
    TDataTable* table = nullptr;
    EXPECT_EQ(directory->OpenTable(name, table, false, false), 0);
    if (table == nullptr) return rows;
    TableDriver driver(*table);
    const bool blobs = table->HasBlobFields();
    for (std::uint32_t n = 1; n <= table->PhysicalRecordCount(); ++n) {
        const TestRecord r = driver.Read(n);
        if (r.deleted) continue;
        PictureRow row{n, r.id, r.num, blobs ? driver.ReadBlob(n) : std::string{}};
        EXPECT_TRUE(rows.emplace(r.name, row).second) << "name " << r.name << " twice";
    }
    (void)directory->CloseTable(table);
    return rows;
}

void MaintenanceFixture::ExpectRepairedWhole(const PictureRows& before) {
    maintenance.RepairTable();
    ClearLog();
    EXPECT_TRUE(maintenance.VerifyTable());
    ExpectRows(before);
    EXPECT_EQ(Problems(), "");
}

std::string MaintenanceFixture::Problems(const std::string& name) {
    TDataTable* table = nullptr;
    EXPECT_EQ(directory->OpenTable(name, table, false, false), 0);
    if (table == nullptr) return "not opened";
    const std::string problems = TableDriver(*table).Check().problems;
    (void)directory->CloseTable(table);
    return problems;
}

std::uint32_t MaintenanceFixture::PhysicalCount(const std::string& name) {
    TDataTable* table = nullptr;
    EXPECT_EQ(directory->OpenTable(name, table, false, false), 0);
    if (table == nullptr) return 0;
    const std::uint32_t count = table->PhysicalRecordCount();
    (void)directory->CloseTable(table);
    return count;
}

std::filesystem::path MaintenanceFixture::File(const std::string& extension, const std::string& name) const {
    return TableFileName(dir.folder(), name, extension.c_str());
}

bool MaintenanceFixture::Exists(const std::string& extension, const std::string& name) const {
    return std::filesystem::exists(File(extension, name));
}

std::uintmax_t MaintenanceFixture::Size(const std::string& extension, const std::string& name) const {
    return std::filesystem::file_size(File(extension, name));
}

void MaintenanceFixture::Overwrite(const std::string& extension, std::uint64_t offset, const std::string& bytes) {
    std::fstream file(File(extension), std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.is_open());
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void MaintenanceFixture::PutLe32(const std::string& extension, std::uint64_t offset, std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    Overwrite(extension, offset, bytes);
}

std::uint32_t MaintenanceFixture::Le32At(const std::string& extension, std::uint64_t offset) const {
    std::ifstream file(File(extension), std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    unsigned char b[4] = {};
    file.read(reinterpret_cast<char*>(b), 4);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void MaintenanceFixture::Truncate(const std::string& extension, std::uintmax_t size) {
    std::filesystem::resize_file(File(extension), size);
}

bool MaintenanceFixture::Logged(const std::string& message) const {
    return std::find(log.begin(), log.end(), message) != log.end();
}

std::vector<std::string> MaintenanceFixture::Findings() const {
    std::vector<std::string> findings;
    for (const std::string& m : log)
        if (m.rfind("Repair of table ", 0) != 0) findings.push_back(m);
    return findings;
}

}  // namespace pixhold::engine::coretest
