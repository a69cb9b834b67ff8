#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "BlobFile.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "IndexTreeCheck.h"
#include "MaintenanceSupport.h"
#include "Record.h"
#include "TableDefinitionCheck.h"
#include "TableFileNames.h"
#include "FileHandler.h"
#include "TableKeys.h"
#include "TableLocale.h"
#include "TableMaintenance.h"

namespace pixhold::engine {

namespace {

constexpr const char* kFixed = ", error fixed";
constexpr const char* kStepHeaders = "Repairing headers";
constexpr const char* kStepRecords = "Repairing record, index, and BLOB data";
constexpr const char* kStepIndexData = "Repairing index data";
constexpr const char* kStepRebuild = "Rebuilding indexes";
constexpr const char* kStepRepairIndexes = "Repairing indexes";
constexpr std::uint32_t kRelieveInterval = 256;
constexpr const char* kIndexFileHeader = "Invalid or corrupt index file header";

// Whether the open failed because the index file's header cannot be read as
// one (wrong format mark, impossible index count).
bool IndexFileRefused(const ECofferEngineError& e, const std::string& indexFile) {
    return (e.ErrorCode() == err::WrongVersion || e.ErrorCode() == err::HeaderCorrupt) &&
           SameTableName(e.ContextTable(), indexFile);
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// One record of the data file, pinned for the scope.
class TRecordPin {
public:
    TRecordPin(TDataFile& data, std::uint32_t number) : data_(data), record_(data.GetRecord(nullptr, number, true)) {}
    ~TRecordPin() { data_.ReleaseRecord(record_); }
    TRecordPin(const TRecordPin&) = delete;
    TRecordPin& operator=(const TRecordPin&) = delete;
    TRecord& operator*() const { return *record_; }
    TRecord* operator->() const { return record_; }

private:
    TDataFile& data_;
    TRecord* record_;
};

// One run of verify or repair over an exclusively opened table. Verify
// reports with the messages' plain form and changes nothing.
class TRepairRun {
public:
    TRepairRun(TDataTable& table, const TMaintenanceEvents& events, bool verifyOnly, bool force)
        : table_(table), data_(table.DataFile()), index_(table.IndexFile()), events_(events), log_(events),
          verifyOnly_(verifyOnly), force_(force && !verifyOnly) {}

    bool Run(bool indexFileSetAside = false) {
        log_.Note("Repair of table " + table_.Name() + " " + "started at " + NowText());
        // The index file could not be opened at all; a new, empty one took its place.
        if (indexFileSetAside) log_.LogMessage(Fixed(kIndexFileHeader));
        RepairHeaders();
        // Verify reports what the open refuses, also where a repair mends
        // it without a message of its own (a name or a missing unique mark on
        // the primary slot).
        if (verifyOnly_ && !log_.Found()) {
            try {
                index_.ValidateHeader(data_.Fields());
            } catch (const ECofferEngineError&) {
                log_.LogMessage(kIndexFileHeader);
            }
        }
        if (!data_.LayoutFits()) {
            // Verify does not mend the descriptors, and records cannot be read
            // by descriptors that do not fit the record: nothing further is
            // checked. A repair that could not make them fit cannot go on.
            if (!verifyOnly_) RaiseTableError(err::HeaderCorrupt, data_.Name);
            log_.Note("Repair of table " + table_.Name() + " " + "completed at " + NowText());
            return false;
        }
        ScanRecords();
        CheckFreeBlocks();
        CheckIndexCounts();
        if (force_ || !indexesValid_) RebuildIndexes();
        CheckUnusedBlocks();
        CheckRecordIDCounter();
        log_.Note("Repair of table " + table_.Name() + " " + "completed at " + NowText());
        return !log_.Found();
    }

    // The first failure of a step that could not mend its record (none when
    // every step went through).
    std::exception_ptr Failure() const { return failure_; }

private:
    std::string Fixed(const std::string& message) const { return verifyOnly_ ? message : message + kFixed; }

    // The records to go through: the header's count, but never more than the
    // file holds (verify leaves a damaged count as it is, and walking millions
    // of records that are not there would never end).
    std::uint32_t RecordCount() {
        const std::uint32_t counted = data_.PhysicalRecordCount();
        const std::int64_t size = data_.GetFileSize();
        const auto start = static_cast<std::int64_t>(datafile::kHeaderSize + data_.Fields().size() * datafile::kDescriptorSize);
        const std::uint32_t recordSize = data_.Header().recordSize;
        if (recordSize == 0 || size <= start) return 0;
        return static_cast<std::uint32_t>(
            std::min<std::int64_t>(counted, (size - start + recordSize - 1) / recordSize));
    }

    void NoteFailure() {
        if (!failure_) failure_ = std::current_exception();
    }

    void Stepped(const char* step, int percent) const {
        if (events_.OnSteppedProgress) events_.OnSteppedProgress(step, percent);
    }

    TProgressMeter Meter(const char* step, std::uint64_t total) const {
        std::function<void(int)> send;
        if (events_.OnSteppedProgress) send = [this, step](int percent) { Stepped(step, percent); };
        return TProgressMeter(std::move(send), table_.Session().ProgressSteps(), total);
    }

    // ---- step 2: headers ----
    void RepairHeaders() {
        Stepped(kStepHeaders, 0);
        // The text ordering cannot be derived from anything else in the
        // files: a table whose locale is not there cannot be used, mended or
        // reported as sound, as its indexes cannot be ordered.
        const DataFileHeader& header = data_.Header();
        if (header.languageID != 0 && !TableLocale::IsInstalled(header.Locale()))
            RaiseTableError(err::LanguageNotAvailable, data_.Name);
        if (!verifyOnly_ && !data_.HeaderMendable()) {
            // Where the fields lie cannot be told: the findings in their plain
            // form, and nothing is changed.
            data_.RepairHeader(log_, true);
            RaiseTableError(err::HeaderCorrupt, data_.Name);
        }
        data_.RepairHeader(log_, verifyOnly_);
        // A BLOB field count that damage had made 0 kept the BLOB file
        // closed; the values are checked in it like any others.
        if (!verifyOnly_) table_.OpenBlobFile();
        indexesValid_ = index_.RepairHeader(log_, verifyOnly_, data_.Fields());
        // The records freed by the scan below go on the chain by the mended flag.
        if (!verifyOnly_) data_.SetReuseDeletedRecords(!index_.NoPrimaryFields());
        if (table_.BlobFileOpen()) {
            table_.BlobFile().RepairFile(log_, verifyOnly_);
            // What the checks below may count on, also when verify left a
            // damaged count in the header.
            blobBlocks_ = std::min(table_.BlobFile().BlockCount(), table_.BlobFile().WholeBlocks());
        }
        try {
            textParameters_ = index_.ReadTextIndexParameters(nullptr);
        } catch (const ECofferEngineError&) {
            log_.LogMessage(Fixed("Invalid or corrupt text indexing parameters in index"));
            textParameters_ = DefaultTextIndexParameters();
            if (!verifyOnly_) {
                // A fresh chain: the damaged pages are not read again.
                index_.SetDataRootPage(kTextSlot, 0);
                index_.WriteTextIndexParameters(nullptr, *textParameters_);
            }
            indexesValid_ = false;
        }
        if (!verifyOnly_) index_.SetHeaderChanged();
        Stepped(kStepHeaders, 100);
    }

    // ---- step 3: records ----
    void ScanRecords() {
        keys_ = std::make_unique<TTableKeys>(table_);
        for (const FieldDescriptor& f : data_.Fields())
            if (f.type == fieldtype::Blob) blobFields_.push_back(f);
        const std::uint32_t count = RecordCount();
        // New identifiers start above every identifier of the table, so that a
        // replaced one never meets a later record's.
        nextID_ = data_.Header().lastRecordID;
        for (std::uint32_t n = 1; n <= count; ++n) {
            try {
                TRecordPin record(data_, n);
                nextID_ = std::max(nextID_, record->RecordID());
            } catch (const ECofferEngineError&) {
                // Reported by the scan below.
            }
        }
        TProgressMeter meter = Meter(kStepRecords, count);
        for (std::uint32_t n = 1; n <= count; ++n) {
            try {
                ScanRecord(n);
            } catch (...) {
                NoteFailure();
                log_.LogMessage("Unexpected error " + std::to_string(ErrorCodeOf(std::current_exception())) +
                                " during repair for physical record # " + std::to_string(n) +
                                ", continuing with repair");
            }
            meter.Advance();
            if (n % kRelieveInterval == 0) RelieveCaches();
        }
        meter.Finish();
    }

    // Writes what was mended so far and shrinks the caches, which would
    // otherwise grow with the whole table (changes of an exclusive table
    // stay cached until they are written).
    void RelieveCaches() {
        if (!verifyOnly_) table_.WriteBuffers(false, false, false, false, false);
        data_.TrimRecordCache();
        index_.TrimPageCaches();
        if (table_.BlobFileOpen()) table_.BlobFile().TrimBlockCache();
    }

    void ReplaceID(TRecord& record, std::uint32_t n) {
        log_.LogMessage(Fixed("Logical record ID for physical record # " + std::to_string(n) + " is " + "invalid"));
        if (verifyOnly_) return;
        const std::uint32_t id = NewID();
        record.SetRecordID(id);
        record.SetModified();
        // As the table's next identifier would have been taken.
        if (id > data_.Header().lastRecordID) data_.SetRecordIDCounter(id);
    }

    std::uint32_t NewID() {
        nextID_ = nextID_ >= datafile::kMaxCounter ? 1 : nextID_ + 1;
        while (seen_.count(nextID_) != 0) ++nextID_;
        return nextID_;
    }

    // An index lookup that fails on a damaged page means the indexes are not valid.
    template <typename F>
    bool Lookup(F&& lookup) {
        try {
            return lookup();
        } catch (const ECofferEngineError&) {
            return false;
        }
    }

    void ScanRecord(std::uint32_t n) {
        TRecordPin record(data_, n);
        const std::uint8_t status = record->Status();
        if (status != recordlayout::StatusActive && status != recordlayout::StatusDeleted) {
            // Read as active everywhere else: it becomes what it is taken for.
            log_.LogMessage(Fixed("Invalid record status for physical record # " + std::to_string(n)));
            if (!verifyOnly_) {
                record->SetStatus(recordlayout::StatusActive);
                record->SetModified();
            }
        }
        bool replaced = false;
        const std::uint32_t id = record->RecordID();
        if (id == 0 || seen_.count(id) != 0) {
            ReplaceID(*record, n);
            replaced = true;
        }
        if (record->IsDeleted()) {
            ScanDeleted(*record, n);
        } else {
            ScanActive(*record, n, replaced);
        }
        seen_.insert(record->RecordID());
        largestID_ = std::max(largestID_, record->RecordID());
    }

    void ScanDeleted(TRecord& record, std::uint32_t n) {
        if (indexesValid_) {
            bool sound = Lookup([&] { return keys_->HoldsStateKey(recordlayout::StatusDeleted, record.RecordID(), n); });
            for (const auto& index : keys_->FieldIndexes())
                sound = sound && !Lookup([&] { return keys_->Holds(*index, record.Data(), n); });
            indexesValid_ = sound;
        }
        for (const FieldDescriptor& f : blobFields_) {
            if (BlobFirstBlock(record, f) == 0) continue;
            ClearBlob(record, f, n);
        }
        if (!verifyOnly_) {
            // Back on the free chain, which the header repair emptied.
            record.SetStatus(recordlayout::StatusActive);
            data_.FreeRecord(&record);
        }
    }

    void ScanActive(TRecord& record, std::uint32_t n, bool replaced) {
        ++active_;
        if (!verifyOnly_ && record.Link() != n) {
            record.SetLink(n);
            record.SetModified();
        }
        if (indexesValid_) {
            const bool state =
                Lookup([&] { return keys_->HoldsStateKey(recordlayout::StatusActive, record.RecordID(), n); });
            if (!state && !replaced) ReplaceID(record, n);
            bool sound = state;
            for (const auto& index : keys_->FieldIndexes())
                sound = sound && Lookup([&] { return keys_->Holds(*index, record.Data(), n); });
            indexesValid_ = sound;
        }
        for (const FieldDescriptor& f : blobFields_) {
            if (record.FieldIsNull(f)) continue;
            const auto slot = record.FieldData(f);
            std::uint32_t first = slot.size() >= 8 ? Le32(slot.data()) : 0;
            const std::uint32_t owner = slot.size() >= 8 ? Le32(slot.data() + 4) : 0;
            // A present value has blocks (an empty one is stored as null).
            if (first == 0 || !table_.BlobFileOpen() || static_cast<std::int32_t>(first) < 0 ||
                first > blobBlocks_) {
                ClearBlob(record, f, n);
                continue;
            }
            if (first < usedBlocks_.size() && usedBlocks_[first]) {
                // Only the start of a chain of this record's own value is a
                // copy; any other block in use is a damaged reference into
                // another record's value, which stays with that record.
                if (StartsValueOf(first, owner)) CopySharedBlob(record, f, n, first, owner);
                else ClearBlob(record, f, n);
                continue;
            }
            // The blocks the check walks are the ones the value holds.
            chainBlocks_.clear();
            table_.BlobFile().RepairBlobChain(log_, verifyOnly_, false, n, owner, first, &chainBlocks_);
            if (!verifyOnly_ && first == 0) {
                record.SetFieldNull(f);
                record.SetModified();
            }
            MarkBlocks(chainBlocks_);
        }
    }

    // Whether the block is the first block of a value with the owner identifier.
    bool StartsValueOf(std::uint32_t block, std::uint32_t owner) {
        TBlobFile& blob = table_.BlobFile();
        TBlock* first = blob.GetBlock(nullptr, block);
        const BlobBlockHeader header = first->Header;
        blob.ReleaseBlock(first);
        return header.owner == owner && header.previous == 0 && header.totalSize > 0;
    }

    // Two records refer to one chain (a record copied byte for byte): the
    // later one gets a copy of the value, so that changing one record's value
    // cannot change the other's.
    void CopySharedBlob(TRecord& record, const FieldDescriptor& f, std::uint32_t n, std::uint32_t first,
                        std::uint32_t owner) {
        log_.LogMessage(Fixed("Shared BLOB block chain for physical record # " + std::to_string(n)));
        if (verifyOnly_) return;
        TBlobFile& blob = table_.BlobFile();
        std::vector<std::uint8_t> value;
        if (!blob.ReadValue(nullptr, first, owner, value)) RaiseEngineError(err::BlobBuffersCorrupt);
        std::uint8_t slot[8];
        std::uint32_t copy = 0;
        const std::uint32_t copyOwner = data_.NextBlobOwnerID();
        if (!value.empty()) blob.WriteValue(nullptr, copy, copyOwner, value.data(), value.size());
        if (copy == 0) {
            record.SetFieldNull(f);
        } else {
            PutLe32(slot, copy);
            PutLe32(slot + 4, copyOwner);
            record.SetFieldData(f, slot);
            MarkChain(copy);
        }
        record.SetModified();
    }

    void MarkBlocks(const std::vector<std::uint32_t>& blocks) {
        if (usedBlocks_.size() < blobBlocks_ + 1) usedBlocks_.resize(blobBlocks_ + 1, false);
        for (const std::uint32_t b : blocks)
            if (b <= blobBlocks_) usedBlocks_[b] = true;
    }

    // Notes the blocks of a value's chain as in use, walking it.
    void MarkChain(std::uint32_t first) {
        TBlobFile& blob = table_.BlobFile();
        const std::uint32_t blocks = blobBlocks_;
        if (usedBlocks_.size() < blocks + 1) usedBlocks_.resize(blocks + 1, false);
        for (std::uint32_t b = first; b != 0 && b <= blocks && !usedBlocks_[b];) {
            usedBlocks_[b] = true;
            TBlock* block = blob.GetBlock(nullptr, b);
            b = block->Header.next;
            blob.ReleaseBlock(block);
        }
    }

    // The chain of free blocks must hold no block of a value, or a later
    // write would overwrite it. It is cut before the first block that is in
    // use, beyond the file or met twice.
    void CheckFreeBlocks() {
        if (!table_.BlobFileOpen()) return;
        TBlobFile& blob = table_.BlobFile();
        const std::uint32_t blocks = blobBlocks_;
        usedBlocks_.resize(blocks + 1, false);
        std::vector<bool>& seen = freeBlocks_;
        seen.assign(blocks + 1, false);
        TBlock* previous = nullptr;
        std::uint32_t b = blob.Header().firstFreeBlock;
        try {
            while (b != 0) {
                if (b > blocks || usedBlocks_[b] || seen[b]) {
                    log_.LogMessage(Fixed("Invalid free BLOB block chain"));
                    if (!verifyOnly_) {
                        if (previous == nullptr) {
                            blob.SetFirstFreeBlock(0);
                        } else {
                            previous->Header.next = 0;
                            previous->SetModified();
                        }
                    }
                    break;
                }
                seen[b] = true;
                TBlock* block = blob.GetBlock(nullptr, b);
                if (previous != nullptr) blob.ReleaseBlock(previous);
                previous = block;
                b = block->Header.next;
            }
        } catch (...) {
            if (previous != nullptr) blob.ReleaseBlock(previous);
            throw;
        }
        if (previous != nullptr) blob.ReleaseBlock(previous);
    }

    // Blocks that neither a value nor the free chain holds are space no write
    // can use again: what a write cut short leaves behind (new blocks taken
    // before the record naming them was written, an old chain whose record
    // was written before its blocks went back). They go on the free chain. A
    // record the scan could not read may hold blocks that look unused, so
    // after a failed step nothing is counted.
    void CheckUnusedBlocks() {
        if (!table_.BlobFileOpen() || failure_ || freeBlocks_.size() != blobBlocks_ + 1) return;
        if (droppedBlobs_) {
            // Records the rebuild deleted gave up their values: the blocks in
            // use are those of the records that are left.
            usedBlocks_.assign(blobBlocks_ + 1, false);
            for (std::uint32_t n = 1; n <= RecordCount(); ++n) {
                TRecordPin record(data_, n);
                if (record->IsDeleted()) continue;
                for (const FieldDescriptor& f : blobFields_) MarkChain(BlobFirstBlock(*record, f));
            }
        }
        usedBlocks_.resize(blobBlocks_ + 1, false);
        std::vector<std::uint32_t> unused;
        for (std::uint32_t b = 1; b <= blobBlocks_; ++b)
            if (!usedBlocks_[b] && !freeBlocks_[b]) unused.push_back(b);
        if (unused.empty()) return;
        log_.LogMessage(Fixed("Unused BLOB blocks not on the free chain"));
        if (!verifyOnly_) table_.BlobFile().ReturnToFreeChain(unused);
    }

    // The first block a BLOB field refers to; 0 for none.
    static std::uint32_t BlobFirstBlock(const TRecord& record, const FieldDescriptor& f) {
        if (record.FieldIsNull(f)) return 0;
        const auto slot = record.FieldData(f);
        return slot.size() >= 8 ? Le32(slot.data()) : 0;
    }

    void ClearBlob(TRecord& record, const FieldDescriptor& f, std::uint32_t n) {
        log_.LogMessage(Fixed("Invalid BLOB offset into BLOB file for physical record # " + std::to_string(n)));
        if (verifyOnly_) return;
        record.SetFieldNull(f);
        record.SetModified();
    }

    // ---- step 4: counts and structure ----
    void CheckIndexCounts() {
        if (!indexesValid_) return;
        if (index_.ActiveRecordCount() != active_) {
            indexesValid_ = false;
            return;
        }
        const std::uint32_t count = RecordCount();
        const auto& indexes = keys_->FieldIndexes();
        TProgressMeter meter = Meter(kStepIndexData, indexes.size() + 1);
        for (const auto& index : indexes) {
            std::uint32_t keys = 0;
            if (indexesValid_ && (!CheckIndexTree(index_, index->slot, *index->comparer, count, keys) ||
                                  keys != static_cast<std::uint32_t>(active_)))
                indexesValid_ = false;
            meter.Advance();
        }
        const TKeyLayout layout = TKeyLayout::For(index_.GetIndexDescriptor(kDeletedSlot), kDeletedSlot, data_.Fields());
        const TKeyComparer comparer(layout, data_.Header().Locale());
        std::uint32_t keys = 0;
        if (indexesValid_ && (!CheckIndexTree(index_, kDeletedSlot, comparer, count, keys) || keys != count))
            indexesValid_ = false;
        meter.Advance();
        meter.Finish();
    }

    // ---- step 5: rebuild ----
    void RebuildIndexes() {
        if (!force_) log_.LogMessage("Indexes do not match record data and are invalid" +
                                     std::string(verifyOnly_ ? "" : ", starting to fix indexes"));
        if (verifyOnly_) return;
        index_.EmptyFile();
        index_.WriteTextIndexParameters(nullptr, textParameters_ ? *textParameters_ : DefaultTextIndexParameters());
        keys_ = std::make_unique<TTableKeys>(table_);
        const std::uint32_t count = RecordCount();
        const char* step = force_ ? kStepRebuild : kStepRepairIndexes;
        TProgressMeter meter = Meter(step, count);
        std::int32_t active = 0;
        for (std::uint32_t n = 1; n <= count; ++n) {
            try {
                if (RebuildRecord(n)) ++active;
            } catch (...) {
                NoteFailure();
                log_.LogMessage("Unexpected error " + std::to_string(ErrorCodeOf(std::current_exception())) +
                                " during rebuild of index keys for physical record # " + std::to_string(n) +
                                ", continuing with repair");
            }
            meter.Advance();
            if (n % kRelieveInterval == 0) RelieveCaches();
        }
        meter.Finish();
        index_.SetActiveRecords(active);
        index_.SetHeaderChanged();
        if (!force_) log_.LogMessage("Invalid indexes fixed");
    }

    // Puts the record's keys back; true when it is (still) active.
    bool RebuildRecord(std::uint32_t n) {
        TRecordPin record(data_, n);
        if (record->IsDeleted()) {
            keys_->InsertStateKey(recordlayout::StatusDeleted, record->RecordID(), n);
            return false;
        }
        if (keys_->FindDuplicate(record->Data(), n) == nullptr) {
            keys_->InsertActive(record->Data(), n);
            return true;
        }
        // A unique index cannot hold the record: it becomes a deleted record.
        // Its BLOB references go; the blocks are not freed here, as a damaged
        // table may have let another record's chain run through them (the
        // check of unused blocks gives back those no other value holds).
        for (const FieldDescriptor& f : blobFields_) {
            droppedBlobs_ = droppedBlobs_ || BlobFirstBlock(*record, f) != 0;
            record->SetFieldNull(f);
        }
        data_.FreeRecord(&*record);
        keys_->InsertStateKey(recordlayout::StatusDeleted, record->RecordID(), n);
        log_.LogMessage("Error rebuilding index keys for physical record # " + std::to_string(n) + ", " +
                        "error fixed but physical record deleted");
        return false;
    }

    // ---- step 6 ----
    void CheckRecordIDCounter() {
        if (data_.Header().lastRecordID >= largestID_) return;
        log_.LogMessage(Fixed("Invalid next available record ID (auto-increment)"));
        if (!verifyOnly_) data_.SetRecordIDCounter(largestID_);
    }

    TDataTable& table_;
    TDataFile& data_;
    TIndexFile& index_;
    const TMaintenanceEvents& events_;
    TMaintenanceLog log_;
    bool verifyOnly_;
    bool force_;
    bool indexesValid_ = true;
    std::optional<TextIndexParameters> textParameters_;
    std::unique_ptr<TTableKeys> keys_;
    std::vector<FieldDescriptor> blobFields_;
    std::set<std::uint32_t> seen_;
    std::vector<bool> usedBlocks_;
    std::vector<bool> freeBlocks_;  // on the free chain, once it was checked
    std::vector<std::uint32_t> chainBlocks_;
    bool droppedBlobs_ = false;  // the rebuild deleted a record that had a BLOB
    std::uint32_t blobBlocks_ = 0;
    std::uint32_t nextID_ = 0;
    std::uint32_t largestID_ = 0;
    std::int32_t active_ = 0;
    std::exception_ptr failure_;
};

}  // namespace

bool TTableMaintenance::RepairTable(bool forceIndexRebuild) {
    const std::string folder = inMemory_ ? std::string{} : directory_.Path();
    const std::string indexFile = TableFileName(folder, tableName_, tableext::Index);
    std::unique_ptr<TExclusiveTable> table;
    bool setAside = false;
    try {
        table = std::make_unique<TExclusiveTable>(directory_, tableName_, inMemory_, Events);
    } catch (const ECofferEngineError& e) {
        if (!IndexFileRefused(e, indexFile)) throw;
        // Kept as the index backup; the table opens with a new, empty index
        // file whose indexes the repair rebuilds.
        TFileHandler file;
        file.Name = indexFile;
        file.InMemory = inMemory_;
        file.RenameFile(TableFileName(folder, tableName_, tableext::IndexBackup));
        setAside = true;
        table = std::make_unique<TExclusiveTable>(directory_, tableName_, inMemory_, Events);
    }
    TRepairRun run(**table, Events, false, forceIndexRebuild);
    const bool valid = run.Run(setAside);
    table->Close();
    // A record that a step could not mend is still damaged: the repair did
    // not succeed, whatever else it mended.
    if (run.Failure()) std::rethrow_exception(run.Failure());
    return valid;
}

bool TTableMaintenance::VerifyTable() {
    std::unique_ptr<TExclusiveTable> opened;
    try {
        opened = std::make_unique<TExclusiveTable>(directory_, tableName_, inMemory_, Events);
    } catch (const ECofferEngineError& e) {
        const std::string folder = inMemory_ ? std::string{} : directory_.Path();
        if (!IndexFileRefused(e, TableFileName(folder, tableName_, tableext::Index))) throw;
        TMaintenanceLog log(Events);
        log.Note("Repair of table " + tableName_ + " " + "started at " + NowText());
        log.LogMessage(kIndexFileHeader);
        log.Note("Repair of table " + tableName_ + " " + "completed at " + NowText());
        return false;
    }
    TExclusiveTable& table = *opened;
    const bool valid = TRepairRun(*table, Events, true, false).Run();
    // Nothing was changed; whatever the checks read is dropped.
    table->DiscardBuffers(true, false);
    table.Close();
    return valid;
}

}  // namespace pixhold::engine
