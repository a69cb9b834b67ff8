#include "TableTestSupport.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "BTree.h"
#include "IndexKey.h"
#include "Record.h"

namespace pixhold::engine::coretest {

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Layout, comparer and builder of one index slot of the table as it is now.
struct SlotKeys {
    SlotKeys(TDataTable& table, int slot)
        : layout(TKeyLayout::For(table.IndexDefinition(slot), slot, table.Fields())),
          comparer(layout, table.DataFile().Header().Locale()),
          builder(layout, table.DataFile().Locale(), table.DataFile().Header().languageID == 0) {}
    TKeyLayout layout;
    TKeyComparer comparer;
    TKeyBuilder builder;
};

// Holds the table's read lock for one read, as a cursor's operation does.
class ReadScope {
public:
    explicit ReadScope(TDataTable& table) : table_(table) {}
    ~ReadScope() {
        try {
            table_.EndRead();
        } catch (...) {
        }
    }

private:
    TDataTable& table_;
};

}  // namespace

TableDefinition PictureTable(bool withBlob) {
    TableDefinition d;
    d.fields = {MakeField("Name", fieldtype::String, 20), MakeField("Num", fieldtype::Integer)};
    if (withBlob) d.fields.push_back(MakeField("Data", fieldtype::Blob));
    IndexDescriptor primary;
    primary.unique = true;
    primary.fieldCount = 1;
    primary.fieldNumbers[0] = 1;
    d.indexes.push_back(primary);
    return d;
}

std::unique_ptr<TDataSession> FastSession(std::uint8_t retries, std::int16_t waitMs) {
    auto session = std::make_unique<TDataSession>();
    session->SetLockRetryCount(retries);
    session->SetLockWaitTime(waitMs);
    return session;
}

bool ReadLockCursor::CheckForChanges() {
    const bool changed = table_.BeginRead();
    if (changed) ++changesSeen;
    return changed;
}

template <typename F>
void TableDriver::UnderWriteLock(bool blob, F&& change) {
    table_.BeginWrite();
    try {
        change();
        if (table_.Exclusive()) table_.RaiseChangeCounters(true, blob, true);
        else table_.WriteBuffers(false, true, false, blob, true);
    } catch (...) {
        try {
            table_.EndWrite();
        } catch (...) {
        }
        throw;
    }
    table_.EndWrite();
}

std::uint32_t TableDriver::Append(const std::string& name, std::int32_t num, const std::string& blob) {
    std::uint32_t number = 0;
    UnderWriteLock(!blob.empty(), [&] {
        TDataFile& data = table_.DataFile();
        TIndexFile& index = table_.IndexFile();
        SlotKeys primary(table_, kPrimarySlot);
        SlotKeys deleted(table_, kDeletedSlot);
        // A reused slot carries the "Sys Deleted" key of its deleted record.
        std::uint8_t oldKey[kDeletedKeyLength];
        bool reused = false;
        if (data.ReuseDeletedRecords() && data.Header().firstFree != 0) {
            TRecord* old = data.GetRecord(nullptr, data.Header().firstFree);
            TKeyBuilder::BuildDeletedKey(recordlayout::StatusDeleted, old->RecordID(), oldKey);
            reused = old->IsDeleted();
            data.ReleaseRecord(old);
        }
        TRecord* record = data.AllocateRecord(nullptr);
        data.PutField(*record, 1, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
        std::uint8_t value[4];
        PutLe32(value, static_cast<std::uint32_t>(num));
        data.PutField(*record, 2, value, 4);
        if (!blob.empty()) {
            std::uint32_t first = 0;
            const std::uint32_t owner = data.NextBlobOwnerID();
            table_.BlobFile().WriteValue(nullptr, first, owner, reinterpret_cast<const std::uint8_t*>(blob.data()),
                                         blob.size());
            std::uint8_t slot[8];
            PutLe32(slot, first);
            PutLe32(slot + 4, owner);
            data.PutField(*record, 3, slot, 8);
        }
        number = record->RecordNumber();
        const Bytes key = primary.builder.Build(record->Data());
        std::uint8_t deletedKey[kDeletedKeyLength];
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusActive, record->RecordID(), deletedKey);
        data.ReleaseRecord(record);
        TIndexTree(index, kPrimarySlot, primary.comparer).InsertKey(key.data(), number);
        TIndexTree deletedTree(index, kDeletedSlot, deleted.comparer);
        if (reused) deletedTree.DeleteKey(oldKey);
        deletedTree.InsertKey(deletedKey, number);
        index.IncActiveRecords();
    });
    return number;
}

void TableDriver::SetNum(std::uint32_t number, std::int32_t num) {
    UnderWriteLock(false, [&] {
        TDataFile& data = table_.DataFile();
        TRecord* record = data.GetRecord(nullptr, number);
        std::uint8_t value[4];
        PutLe32(value, static_cast<std::uint32_t>(num));
        data.PutField(*record, 2, value, 4);
        record->SetModified();
        data.ReleaseRecord(record);
    });
}

void TableDriver::Delete(std::uint32_t number) {
    UnderWriteLock(false, [&] {
        TDataFile& data = table_.DataFile();
        TIndexFile& index = table_.IndexFile();
        SlotKeys primary(table_, kPrimarySlot);
        SlotKeys deleted(table_, kDeletedSlot);
        TRecord* record = data.GetRecord(nullptr, number);
        const Bytes key = primary.builder.Build(record->Data());
        std::uint8_t activeKey[kDeletedKeyLength];
        std::uint8_t deletedKey[kDeletedKeyLength];
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusActive, record->RecordID(), activeKey);
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusDeleted, record->RecordID(), deletedKey);
        data.FreeRecord(record);
        data.ReleaseRecord(record);
        TIndexTree(index, kPrimarySlot, primary.comparer).DeleteKey(key.data());
        TIndexTree deletedTree(index, kDeletedSlot, deleted.comparer);
        deletedTree.DeleteKey(activeKey);
        deletedTree.InsertKey(deletedKey, number);
        index.DecActiveRecords();
    });
}

TestRecord TableDriver::Decode(const TRecord& record) const {
    TestRecord r;
    r.number = record.RecordNumber();
    r.deleted = record.IsDeleted();
    r.id = record.RecordID();
    const TDataFile& data = table_.DataFile();
    std::vector<std::uint8_t> value;
    if (data.GetField(record, 1, value)) r.name.assign(value.begin(), std::find(value.begin(), value.end(), 0));
    if (data.GetField(record, 2, value) && value.size() >= 4) r.num = static_cast<std::int32_t>(Le32(value.data()));
    return r;
}

TestRecord TableDriver::Read(std::uint32_t number) {
    ReadLockCursor cursor(table_);
    ReadScope scope(table_);
    for (;;) {
        TRecord* record = table_.DataFile().GetRecord(&cursor, number);
        if (record == nullptr) continue;  // the table changed: start again
        TestRecord r = Decode(*record);
        table_.DataFile().ReleaseRecord(record);
        return r;
    }
}

std::string TableDriver::ReadBlob(std::uint32_t number) {
    ReadLockCursor cursor(table_);
    ReadScope scope(table_);
    for (;;) {
        TRecord* record = table_.DataFile().GetRecord(&cursor, number);
        if (record == nullptr) continue;
        std::vector<std::uint8_t> slot;
        const bool present = table_.DataFile().GetField(*record, 3, slot);
        table_.DataFile().ReleaseRecord(record);
        if (!present || slot.size() < 8) return {};
        std::vector<std::uint8_t> value;
        if (!table_.BlobFile().ReadValue(&cursor, Le32(slot.data()), Le32(slot.data() + 4), value)) continue;
        return {value.begin(), value.end()};
    }
}

std::vector<std::pair<Bytes, std::uint32_t>> TableDriver::Keys(int slot) {
    std::vector<std::pair<Bytes, std::uint32_t>> keys;
    TIndexFile& index = table_.IndexFile();
    SlotKeys slotKeys(table_, slot);
    TIndexTree tree(index, slot, slotKeys.comparer);
    const Bytes lowest(slotKeys.layout.keyLength, 0);
    TIndexPath path;
    bool exact = false;
    tree.Seek(lowest.data(), path, exact);
    if (path.depth == 0) return keys;
    std::uint32_t pageNumber = path.Leaf().page;
    int position = path.Leaf().position;
    while (pageNumber != 0) {
        TPageRef page(index.GetPage(nullptr, slot, pageNumber));
        for (int p = position; p <= page->Count(); ++p)
            keys.emplace_back(Bytes(page->Key(p), page->Key(p) + page->KeyLength()), page->A(p));
        pageNumber = page->next;
        position = 1;
    }
    return keys;
}

TableSummary TableDriver::Check() {
    TableSummary summary;
    std::ostringstream problems;
    table_.BeginRead();
    ReadScope scope(table_);
    TDataFile& data = table_.DataFile();
    const std::uint32_t count = data.PhysicalRecordCount();
    std::map<std::uint32_t, TestRecord> records;
    std::set<std::uint32_t> ids;
    for (std::uint32_t n = 1; n <= count; ++n) {
        TRecord* record = data.GetRecord(nullptr, n);
        TestRecord r = Decode(*record);
        data.ReleaseRecord(record);
        if (!ids.insert(r.id).second) problems << "record " << n << ": identifier " << r.id << " twice\n";
        if (r.id > data.Header().lastRecordID) problems << "record " << n << ": identifier beyond the last\n";
        records[n] = r;
        if (r.deleted) {
            ++summary.deleted;
        } else if (!summary.active.emplace(r.name, r).second) {
            problems << "name " << r.name << " twice\n";
        }
    }

    SlotKeys primary(table_, kPrimarySlot);
    const auto keys = Keys(kPrimarySlot);
    if (keys.size() != summary.active.size())
        problems << "primary index has " << keys.size() << " keys for " << summary.active.size() << " records\n";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0 && primary.comparer.CompareKeys(keys[i - 1].first.data(), keys[i].first.data()) >= 0)
            problems << "primary keys out of order at " << i << "\n";
        const auto it = records.find(keys[i].second);
        if (it == records.end() || it->second.deleted) {
            problems << "primary key points at record " << keys[i].second << "\n";
            continue;
        }
        TRecord* record = data.GetRecord(nullptr, keys[i].second);
        if (primary.builder.Build(record->Data()) != keys[i].first)
            problems << "primary key of record " << keys[i].second << " does not match\n";
        data.ReleaseRecord(record);
    }

    const auto deletedKeys = Keys(kDeletedSlot);
    if (deletedKeys.size() != count)
        problems << "\"Sys Deleted\" has " << deletedKeys.size() << " keys for " << count << " records\n";
    for (const auto& [key, number] : deletedKeys) {
        const auto it = records.find(number);
        std::uint8_t expected[kDeletedKeyLength];
        if (it == records.end()) {
            problems << "\"Sys Deleted\" key points at record " << number << "\n";
            continue;
        }
        TKeyBuilder::BuildDeletedKey(it->second.deleted ? recordlayout::StatusDeleted : recordlayout::StatusActive,
                                     it->second.id, expected);
        if (std::memcmp(key.data(), expected, kDeletedKeyLength) != 0)
            problems << "\"Sys Deleted\" key of record " << number << " does not match\n";
    }

    if (table_.IndexFile().ActiveRecordCount() != static_cast<std::int32_t>(summary.active.size()))
        problems << "active record count " << table_.IndexFile().ActiveRecordCount() << " for "
                 << summary.active.size() << " records\n";

    std::uint32_t chained = 0;
    for (std::uint32_t n = data.Header().firstFree; n != 0 && chained <= count; ++chained) {
        const auto it = records.find(n);
        if (it == records.end() || !it->second.deleted) {
            problems << "free chain reaches record " << n << "\n";
            break;
        }
        TRecord* record = data.GetRecord(nullptr, n);
        n = record->Link();
        data.ReleaseRecord(record);
    }
    if (data.ReuseDeletedRecords() && chained != summary.deleted)
        problems << "free chain holds " << chained << " of " << summary.deleted << " deleted records\n";

    // The header checks look at the file lengths, which a transaction or an
    // exclusive table's cached appends have not reached yet.
    const bool allOnDisk = !table_.InTransaction() && !(table_.Exclusive() && table_.ChangedSinceOpen());
    const int code = allOnDisk ? CodeOf([&] { table_.ValidateHeaders(); }) : 0;
    if (code != 0) problems << "header check: error " << code << "\n";
    summary.problems = problems.str();
    return summary;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int32_t DiskCounter(const std::string& path) {
    const std::string bytes = FileBytes(path);
    if (bytes.size() < 4) return -1;
    return static_cast<std::int32_t>(Le32(reinterpret_cast<const std::uint8_t*>(bytes.data())));
}

}  // namespace pixhold::engine::coretest
