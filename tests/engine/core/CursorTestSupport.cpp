#include "CursorTestSupport.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <tuple>

#include "BTree.h"
#include "IndexKey.h"
#include "Record.h"

namespace pixhold::engine::cursortest {

namespace {

IndexDescriptor Index(const std::string& name, std::vector<std::uint16_t> fields, bool unique, bool descending) {
    IndexDescriptor d;
    d.name = name;
    d.unique = unique;
    d.descending = descending;
    d.fieldCount = static_cast<std::uint8_t>(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) d.fieldNumbers[i] = fields[i];
    return d;
}

TableDefinition Definition(bool withPrimary, bool encrypted, const std::string& password, std::uint16_t languageID) {
    TableDefinition d;
    d.params.languageID = languageID;
    d.params.encrypted = encrypted;
    d.params.password = password;
    d.fields = {MakeField("Name", fieldtype::String, 12), MakeField("Num", fieldtype::Integer),
                MakeField("Cat", fieldtype::String, 4)};
    d.indexes.push_back(withPrimary ? Index("", {1}, true, false) : IndexDescriptor{});
    d.indexes.push_back(Index("ByNum", {2}, false, false));
    d.indexes.push_back(Index("ByCatNum", {3, 2}, false, false));
    d.indexes.push_back(Index("NumDown", {2}, false, true));
    // Without subtree counts, and with compressed leaves.
    IndexDescriptor plain = Index("CatNumPlain", {3, 2}, false, false);
    plain.noCounts = true;
    plain.compression = static_cast<std::uint8_t>(KeyCompression::Full);
    d.indexes.push_back(plain);
    return d;
}

void PutText(TDataFile& data, TRecord& record, std::uint16_t field, const std::string& text) {
    data.PutField(record, field, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The keys of one record for every index the table has.
struct RecordKeys {
    std::vector<std::pair<int, std::vector<std::uint8_t>>> keys;  // slot, key
};

RecordKeys KeysOf(TDataTable& table, const std::uint8_t* record) {
    RecordKeys result;
    for (int slot = 0; slot < table.IndexCount(); ++slot) {
        if (slot == kPrimarySlot && !table.PrimaryIndexHasFields()) continue;
        const TKeyLayout layout = TKeyLayout::For(table.IndexDefinition(slot), slot, table.Fields());
        const TKeyBuilder builder(layout, table.DataFile().Locale(), table.DataFile().Header().languageID == 0);
        result.keys.emplace_back(slot, builder.Build(record));
    }
    return result;
}

void ChangeKey(TDataTable& table, int slot, const std::vector<std::uint8_t>& key, std::uint32_t number, bool insert) {
    const TKeyLayout layout = TKeyLayout::For(table.IndexDefinition(slot), slot, table.Fields());
    const TKeyComparer comparer(layout, table.DataFile().Header().Locale());
    TIndexTree tree(table.IndexFile(), slot, comparer);
    if (insert) tree.InsertKey(key.data(), number);
    else if (!tree.DeleteKey(key.data())) throw std::runtime_error("index key missing");
}

std::int32_t Le32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::vector<std::string> IndexNames() { return {"", "ByNum", "ByCatNum", "NumDown", "CatNumPlain"}; }

bool Before(const std::string& index, const Row& a, const Row& b) {
    if (index.empty()) return a.name < b.name;
    if (index == "ByNum") return std::tie(a.num, a.id) < std::tie(b.num, b.id);
    if (index == "ByCatNum" || index == "CatNumPlain") {
        const bool ap = !a.cat.empty();
        const bool bp = !b.cat.empty();
        return std::tie(ap, a.cat, a.num, a.id) < std::tie(bp, b.cat, b.num, b.id);
    }
    if (index == "NumDown") return std::tie(b.num, b.id) < std::tie(a.num, a.id);
    // Physical order.
    return a.number < b.number;
}

void WriteUnderLock(TDataTable& table, const std::function<void()>& change) {
    table.BeginWrite();
    try {
        change();
        if (table.Exclusive()) table.RaiseChangeCounters(true, false, true);
        else table.WriteBuffers(false, true, false, false, true);
    } catch (...) {
        try {
            table.EndWrite();
        } catch (...) {
        }
        throw;
    }
    table.EndWrite();
}

std::vector<std::uint8_t> DeletedKeyOfReusedSlot(TDataFile& data) {
    std::vector<std::uint8_t> key;
    if (data.ReuseDeletedRecords() && data.Header().firstFree != 0) {
        TRecord* old = data.GetRecord(nullptr, data.Header().firstFree);
        key.resize(kDeletedKeyLength);
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusDeleted, old->RecordID(), key.data());
        data.ReleaseRecord(old);
    }
    return key;
}

Row TableFiller::Append(const std::string& name, std::int32_t num, const std::string& cat) {
    Row row;
    WriteUnderLock(table_, [&] {
        TDataFile& data = table_.DataFile();
        // A reused record slot carries the "Sys Deleted" key of its deleted record.
        const std::vector<std::uint8_t> oldKey = DeletedKeyOfReusedSlot(data);
        TRecord* record = data.AllocateRecord(nullptr);
        PutText(data, *record, 1, name);
        std::uint8_t value[4];
        for (int i = 0; i < 4; ++i) value[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(num) >> (8 * i));
        data.PutField(*record, 2, value, 4);
        PutText(data, *record, 3, cat);
        row = Row{record->RecordNumber(), record->RecordID(), name, num, cat};
        const RecordKeys keys = KeysOf(table_, record->Data());
        std::vector<std::uint8_t> deletedKey(kDeletedKeyLength);
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusActive, record->RecordID(), deletedKey.data());
        data.ReleaseRecord(record);
        for (const auto& [slot, key] : keys.keys) ChangeKey(table_, slot, key, row.number, true);
        if (!oldKey.empty()) ChangeKey(table_, kDeletedSlot, oldKey, row.number, false);
        ChangeKey(table_, kDeletedSlot, deletedKey, row.number, true);
        table_.IndexFile().IncActiveRecords();
    });
    return row;
}

void TableFiller::Delete(std::uint32_t number) {
    WriteUnderLock(table_, [&] {
        TDataFile& data = table_.DataFile();
        TRecord* record = data.GetRecord(nullptr, number);
        const RecordKeys keys = KeysOf(table_, record->Data());
        std::vector<std::uint8_t> activeKey(kDeletedKeyLength);
        std::vector<std::uint8_t> deletedKey(kDeletedKeyLength);
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusActive, record->RecordID(), activeKey.data());
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusDeleted, record->RecordID(), deletedKey.data());
        data.FreeRecord(record);
        data.ReleaseRecord(record);
        for (const auto& [slot, key] : keys.keys) ChangeKey(table_, slot, key, number, false);
        ChangeKey(table_, kDeletedSlot, activeKey, number, false);
        ChangeKey(table_, kDeletedSlot, deletedKey, number, true);
        table_.IndexFile().DecActiveRecords();
    });
}

CursorFixture::CursorFixture(bool withPrimary, bool encrypted, const std::string& password, std::uint16_t languageID)
    : folder_(dir_.folder()), session_(std::make_unique<TDataSession>()) {
    session_->SetLockRetryCount(2);
    session_->SetLockWaitTime(1);
    directory_ = session_->OpenDataDirectory("PH", folder_);
    TDataTable* created = nullptr;
    if (directory_->CreateTable(TableName, false, Definition(withPrimary, encrypted, password, languageID), created) < 0)
        throw std::runtime_error("create failed");
    (void)directory_->CloseTable(created);
    if (encrypted) session_->AddPassword(password);
    if (directory_->OpenTable(TableName, writer_, false, false) < 0) throw std::runtime_error("open failed");
    if (encrypted) session_->RemovePassword(password);
}

void CursorFixture::ReleaseWriter() {
    if (writer_ != nullptr) (void)directory_->CloseTable(writer_);
    writer_ = nullptr;
}

CursorFixture::~CursorFixture() {
    if (writer_ != nullptr) (void)directory_->CloseTable(writer_);
    session_.reset();
}

std::unique_ptr<TDataCursor> CursorFixture::Open(const std::string& index) {
    auto cursor = std::make_unique<TDataCursor>(*directory_);
    cursor->TableName = TableName;
    cursor->OpenCursor();
    if (!index.empty()) cursor->SetIndexName(index);
    return cursor;
}

Row CursorFixture::Append(const std::string& name, std::int32_t num, const std::string& cat) {
    const Row row = TableFiller(*writer_).Append(name, num, cat);
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.number == row.number; }),
                rows_.end());
    rows_.push_back(row);
    return row;
}

void CursorFixture::Delete(std::uint32_t number) {
    TableFiller(*writer_).Delete(number);
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.number == number; }),
                rows_.end());
}

std::vector<Row> CursorFixture::Sorted(const std::string& index) const {
    std::vector<Row> sorted = rows_;
    std::sort(sorted.begin(), sorted.end(), [&](const Row& a, const Row& b) { return Before(index, a, b); });
    return sorted;
}

std::vector<std::uint8_t> RecordImage(const TDataCursor& cursor, const std::string& name, std::int32_t num,
                                      const std::string& cat) {
    std::vector<std::uint8_t> image(cursor.RecordSize(), 0);
    const auto& fields = cursor.Fields();
    auto putText = [&](const FieldDescriptor& f, const std::string& text) {
        if (text.empty()) return;
        image[f.offset] = 1;
        std::memcpy(&image[f.offset + 1u], text.data(), std::min<std::size_t>(text.size(), f.physicalSize - 1u));
    };
    putText(fields[0], name);
    image[fields[1].offset] = 1;
    for (int i = 0; i < 4; ++i)
        image[fields[1].offset + 1u + static_cast<unsigned>(i)] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(num) >> (8 * i));
    putText(fields[2], cat);
    return image;
}

Row RowOf(const TDataCursor& cursor, const std::vector<std::uint8_t>& image) {
    const auto& fields = cursor.Fields();
    auto text = [&](const FieldDescriptor& f) {
        if (image[f.offset] == 0) return std::string();
        const char* p = reinterpret_cast<const char*>(&image[f.offset + 1u]);
        return std::string(p, strnlen(p, f.physicalSize));
    };
    Row row;
    row.name = text(fields[0]);
    row.num = Le32(&image[fields[1].offset + 1u]);
    row.cat = text(fields[2]);
    row.id = static_cast<std::uint32_t>(Le32(&image[recordlayout::RecordID]));
    return row;
}

Row Current(TDataCursor& cursor) {
    std::vector<std::uint8_t> image(cursor.RecordSize());
    if (cursor.GetCurrentRecord(image.data()) != 0) return Row{};
    Row row = RowOf(cursor, image);
    row.number = cursor.CurrentRecordNumber();
    return row;
}

}  // namespace pixhold::engine::cursortest
