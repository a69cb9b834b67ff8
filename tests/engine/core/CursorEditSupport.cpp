#include "CursorEditSupport.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>

#include "BTree.h"
#include "EngineError.h"
#include "FaultPlan.h"
#include "IndexKey.h"
#include "RecordBuffer.h"
#include "TableTestSupport.h"
#include "TableTestSupport.h"

namespace pixhold::engine::edittest {

namespace {

IndexDescriptor Index(const std::string& name, std::vector<std::uint16_t> fields, bool unique) {
    IndexDescriptor d;
    d.name = name;
    d.unique = unique;
    d.fieldCount = static_cast<std::uint8_t>(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) d.fieldNumbers[i] = fields[i];
    return d;
}

std::int32_t Le32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

TableDefinition EditTable(bool withPrimary) {
    TableDefinition d;
    d.fields = {MakeField("Name", fieldtype::String, 20), MakeField("Num", fieldtype::Integer),
                MakeField("Code", fieldtype::String, 8), MakeField("Cat", fieldtype::String, 10),
                MakeField("Data", fieldtype::Blob)};
    d.indexes.push_back(withPrimary ? Index("", {1}, true) : IndexDescriptor{});
    d.indexes.push_back(Index("ByCode", {3}, true));
    d.indexes.push_back(Index("ByCat", {4}, false));
    return d;
}

EditFixture::EditFixture(bool withPrimary, const TableDefinition* definition)
    : folder_(dir_.folder()), session_(coretest::FastSession()) {
    directory_ = session_->OpenDataDirectory("PH", folder_);
    TDataTable* created = nullptr;
    const TableDefinition d = definition != nullptr ? *definition : EditTable(withPrimary);
    if (directory_->CreateTable(TableName, false, d, created) < 0) throw std::runtime_error("create failed");
    (void)directory_->CloseTable(created);
}

EditFixture::~EditFixture() { session_.reset(); }

std::unique_ptr<TDataCursor> EditFixture::Open(const std::string& index) {
    auto cursor = std::make_unique<TDataCursor>(*directory_);
    cursor->TableName = TableName;
    cursor->OpenCursor();
    if (!index.empty()) cursor->SetIndexName(index);
    return cursor;
}

void Fill(TDataCursor& cursor, std::vector<std::uint8_t>& buffer, const Values& v) {
    const auto& f = cursor.Fields();
    recordbuffer::SetText(f[0], buffer.data(), v.name);
    std::uint8_t num[4];
    for (int i = 0; i < 4; ++i) num[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v.num) >> (8 * i));
    recordbuffer::SetValue(f[1], buffer.data(), num);
    recordbuffer::SetText(f[2], buffer.data(), v.code);
    recordbuffer::SetText(f[3], buffer.data(), v.cat);
    if (f.size() < 5) return;
    std::uint32_t length = 0;
    if (cursor.OpenBlob(5, buffer.data(), TBlobOpenMode::Write, length) != 0) throw std::runtime_error("open blob");
    if (cursor.TruncateBlob(5, buffer.data(), 0) != 0) throw std::runtime_error("truncate blob");
    if (cursor.PutBlob(5, buffer.data(), 0, static_cast<std::uint32_t>(v.data.size()), v.data.data()) != 0)
        throw std::runtime_error("put blob");
}

Values ValuesOf(TDataCursor& cursor, std::vector<std::uint8_t>& buffer) {
    const auto& f = cursor.Fields();
    Values v;
    v.name = recordbuffer::Text(f[0], buffer.data());
    const auto num = recordbuffer::Value(f[1], buffer.data());
    v.num = num.empty() ? 0 : Le32(num.data());
    v.code = recordbuffer::Text(f[2], buffer.data());
    v.cat = recordbuffer::Text(f[3], buffer.data());
    v.id = recordbuffer::RecordID(buffer.data());
    if (f.size() < 5) return v;
    std::uint32_t length = 0;
    if (cursor.OpenBlob(5, buffer.data(), TBlobOpenMode::Read, length) != 0) throw std::runtime_error("open blob");
    v.data.resize(length);
    std::uint32_t read = 0;
    if (cursor.GetBlob(5, buffer.data(), 0, length, v.data.data(), read) != 0 || read != length)
        throw std::runtime_error("get blob");
    cursor.FreeBlob(5, buffer.data());
    return v;
}

std::uint32_t Append(TDataCursor& cursor, const Values& v) {
    std::vector<std::uint8_t> buffer(cursor.RecordSize());
    cursor.InitRecord(buffer.data());
    Fill(cursor, buffer, v);
    cursor.AppendRecord(buffer.data(), true);
    return cursor.CurrentRecordNumber();
}

bool Seek(TDataCursor& cursor, const std::string& name) {
    std::vector<std::uint8_t> probe(cursor.RecordSize(), 0);
    recordbuffer::SetText(cursor.Fields()[0], probe.data(), name);
    return cursor.FindKey(false, probe.data(), nullptr, 1, 0, false);
}

Inspection Inspect(TDataTable& table) {
    Inspection result;
    coretest::TableDriver driver(table);
    std::ostringstream problems;
    // The check of records against the primary index and "Sys Deleted".
    if (table.PrimaryIndexHasFields()) problems << driver.Check().problems;
    TDataFile& data = table.DataFile();
    table.BeginRead();
    std::set<std::pair<int, std::vector<std::uint8_t>>> expected;
    const auto& fields = data.Fields();
    for (std::uint32_t n = 1; n <= data.PhysicalRecordCount(); ++n) {
        TRecord* record = data.GetRecord(nullptr, n);
        std::vector<std::uint8_t> image(record->Data(), record->Data() + record->Size());
        data.ReleaseRecord(record);
        if (image[recordlayout::Status] != recordlayout::StatusActive) continue;
        Values v;
        v.name = recordbuffer::Text(fields[0], image.data());
        const auto num = recordbuffer::Value(fields[1], image.data());
        v.num = num.empty() ? 0 : Le32(num.data());
        v.code = recordbuffer::Text(fields[2], image.data());
        v.cat = recordbuffer::Text(fields[3], image.data());
        v.id = recordbuffer::RecordID(image.data());
        if (fields.size() >= 5 && recordbuffer::IsPresent(fields[4], image.data())) {
            const auto slot = recordbuffer::GetBlobSlot(fields[4], image.data());
            std::vector<std::uint8_t> value;
            try {
                (void)table.BlobFile().ReadValue(nullptr, slot.firstBlock, slot.ownerID, value);
                if (value.empty()) problems << "record " << n << ": present BLOB without a value\n";
            } catch (const ECofferEngineError& e) {
                problems << "record " << n << ": BLOB error " << e.ErrorCode() << "\n";
            }
            v.data.assign(value.begin(), value.end());
        }
        for (int slot = 1; slot < table.IndexCount(); ++slot) {
            const TKeyLayout layout = TKeyLayout::For(table.IndexDefinition(slot), slot, fields);
            const TKeyBuilder builder(layout, data.Locale(), data.Header().languageID == 0);
            expected.emplace(slot, builder.Build(image.data()));
        }
        result.rows[v.name] = v;
    }
    table.EndRead();
    std::set<std::pair<int, std::vector<std::uint8_t>>> found;
    for (int slot = 1; slot < table.IndexCount(); ++slot)
        for (const auto& [key, number] : driver.Keys(slot)) found.emplace(slot, key);
    if (found != expected) problems << "secondary keys differ: " << found.size() << " for " << expected.size() << "\n";
    result.problems = problems.str();
    return result;
}

void MakeEditTemplate(const std::string& folder, const std::vector<std::string>& deleted) {
    EditFixture fx;
    auto cursor = fx.Open();
    for (int i = 0; i < 12; ++i)
        Append(*cursor, {"r" + std::to_string(i), i, "c" + std::to_string(i), "k" + std::to_string(i % 3),
                         i % 3 == 0 ? std::string() : std::string(700 + 300 * i, static_cast<char>('a' + i))});
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    for (const std::string& name : deleted) {
        if (!Seek(*cursor, name)) throw std::runtime_error("no template record " + name);
        (void)cursor->GetCurrentRecord(buffer.data());
        cursor->DeleteRecord(buffer.data(), false);
    }
    cursor->CloseCursor();
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::copy_file(fx.FilePath(ext), folder + "Edits" + ext);
}

Inspection InspectEditTable(const std::string& folder) {
    auto session = coretest::FastSession();
    TDataCursor cursor(*session->OpenDataDirectory("PH", folder));
    cursor.TableName = "Edits";
    cursor.OpenCursor();
    Inspection seen = Inspect(cursor.Table());
    cursor.CloseCursor();
    return seen;
}

void CopyEditTemplate(const std::string& from, const std::string& to) {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::copy_file(from + "Edits" + ext, to + "Edits" + ext);
}

std::uint64_t CountEditWrites(const std::string& folder, const std::function<void(TDataCursor&)>& operation) {
    auto session = coretest::FastSession();
    TDataCursor cursor(*session->OpenDataDirectory("PH", folder));
    cursor.TableName = "Edits";
    cursor.OpenCursor();
    std::uint64_t writes = 0;
    {
        ScopedFaultPlan plan(std::make_shared<TFaultPlan>());
        operation(cursor);
        writes = plan->Count(FileOp::Write);
    }
    cursor.CloseCursor();
    return writes;
}

}  // namespace pixhold::engine::edittest
