// Changing a table through a cursor: new records, their validation, inserts,
// changes and deletes with every key, record identifiers, and the record
// locks of the two lock protocols.
//
// Every change runs under the table's write lock and checks the unique keys
// before it touches anything, so a duplicate or a failed constraint leaves the
// table as it was. The files are written at the end of a change: new BLOB
// chains with the BLOB header, then records, then index pages, each followed
// by its header; chains that no record names any more are freed between the
// records and the index pages.
// A failure after the first cached change drops the caches and reads the
// headers again, so nothing of the half-made change is written later.

#include <algorithm>
#include <cstring>

#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "RecordBuffer.h"
#include "ValueText.h"

namespace pixhold::engine {

namespace {

std::int64_t GetLe(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    if (bytes < 8 && (v >> (8 * bytes - 1)) != 0) v |= ~std::uint64_t{0} << (8 * bytes);  // sign
    return static_cast<std::int64_t>(v);
}

double GetDouble(const std::uint8_t* p) {
    double d = 0;
    std::uint64_t v = static_cast<std::uint64_t>(GetLe(p, 8));
    std::memcpy(&d, &v, sizeof d);
    return d;
}

// A stored value as bytes whose order is the value order, so that a minimum
// or maximum compares by memcmp whatever the field's type.
std::vector<std::uint8_t> Sortable(const FieldDescriptor& f, const std::uint8_t* v, std::size_t size) {
    std::vector<std::uint8_t> out(8, 0);
    switch (f.type) {
        case fieldtype::SmallInt: keycodec::PutInt16(out.data(), static_cast<std::int16_t>(GetLe(v, 2))); break;
        case fieldtype::Word: keycodec::PutUInt16(out.data(), static_cast<std::uint16_t>(GetLe(v, 2) & 0xffff)); break;
        case fieldtype::Integer:
        case fieldtype::Date:
        case fieldtype::Time: keycodec::PutInt32(out.data(), static_cast<std::int32_t>(GetLe(v, 4))); break;
        case fieldtype::LargeInt: keycodec::PutInt64(out.data(), GetLe(v, 8)); break;
        case fieldtype::Float:
        case fieldtype::DateTime: keycodec::PutDouble(out.data(), GetDouble(v)); break;
        case fieldtype::Decimal: keycodec::PutInt64(out.data(), keycodec::DecimalToFixed4(v)); break;
        case fieldtype::String: out.assign(v, std::find(v, v + size, std::uint8_t{0})); break;
        default: out.assign(v, v + size); break;
    }
    return out;
}

// Runs a change that may take a record lock of its own; that lock goes when
// the change ends, and when both fail the change's own failure is reported.
template <typename Change, typename Unlock>
void UnlockingAfter(const std::uint32_t& lockedHere, Change&& change, Unlock&& unlock) {
    try {
        change();
    } catch (...) {
        if (lockedHere != 0) {
            try {
                unlock(lockedHere);
            } catch (...) {
                // Reported is the change's failure.
            }
        }
        throw;
    }
    if (lockedHere != 0) unlock(lockedHere);
}

}  // namespace

void TDataCursor::RaiseForField(std::uint16_t code, const std::string& field) const {
    RaiseEngineError(code, ErrorContext{.database = directory_.Path(), .table = TableName, .field = field});
}

// ---- new records and validation ------------------------------------------------------------

void TDataCursor::InitRecord(std::uint8_t* buffer) {
    CheckOpen();
    std::memset(buffer, 0, recordSize_);
    if (!hasDefaults_) return;
    // One moment for every default of the record: the time of InitRecord, not of the post.
    const LocalMoment now = CurrentLocalMoment();
    for (const FieldDescriptor& f : fields_) {
        if (f.defaultValue.empty() || !f.TakesRoom() || f.type == fieldtype::Blob) continue;
        try {
            const auto value = ValueTextToStored(f.type, f.physicalSize, f.defaultValue, now);
            if (value) recordbuffer::SetValue(f, buffer, *value);
        } catch (const EConvertError&) {
            // A default the create accepted always converts; a damaged one gives no value.
        }
    }
}

void TDataCursor::ValidateRecord(const std::uint8_t* buffer) {
    CheckOpen();
    if (!hasValidityChecks_) return;
    for (const FieldDescriptor& f : fields_) {
        const bool present = recordbuffer::IsPresent(f, buffer);
        if (f.required != 0 && !present) RaiseForField(err::ValueRequired, f.name);
        if (!present || f.IsAutoInc() || f.type == fieldtype::Blob) continue;
        const auto value = recordbuffer::Value(f, buffer);
        const std::vector<std::uint8_t> mine = Sortable(f, value.data(), value.size());
        auto bound = [&](const std::string& text) -> std::optional<std::vector<std::uint8_t>> {
            if (text.empty()) return std::nullopt;
            try {
                const auto stored = ValueTextToStored(f.type, f.physicalSize, text);
                if (!stored) return std::nullopt;
                return Sortable(f, stored->data(), stored->size());
            } catch (const EConvertError&) {
                return std::nullopt;  // a bound that is no value of the type bounds nothing
            }
        };
        if (const auto low = bound(f.minimum); low && mine < *low) RaiseForField(err::BelowMinimum, f.name);
        if (const auto high = bound(f.maximum); high && mine > *high) RaiseForField(err::AboveMaximum, f.name);
    }
}

void TDataCursor::CloneCurrentRecord(std::uint8_t* buffer) {
    CheckOpen();
    std::vector<std::uint8_t> current(recordSize_);
    Guarded([&] {
        if (ReadCurrent(current.data()) != 0) Raise(err::NoCurrentRecord);
    });
    std::memcpy(buffer, current.data(), recordSize_);
    buffer[recordlayout::Status] = recordlayout::StatusActive;
    std::memset(buffer + recordlayout::Link, 0, 4);
    if (!suppressAutoInc_) recordbuffer::SetRecordID(buffer, 0);
    for (std::uint16_t n = 1; n <= fields_.size(); ++n) {
        const FieldDescriptor& f = fields_[n - 1];
        if (f.type != fieldtype::Blob) continue;
        recordbuffer::SetBlobSlot(f, buffer, {});
        std::uint32_t length = 0;
        // The source's BLOB is read and the copy kept as a new, changed BLOB
        // of the buffer: the new record gets chains of its own.
        std::vector<std::uint8_t> source(current);
        const int code = OpenBlob(n, source.data(), TBlobOpenMode::Read, length);
        if (code != 0) Raise(static_cast<std::uint16_t>(code));
        OpenBlobBuffer* from = BlobOf(n, source.data());
        std::vector<std::uint8_t> value = from->value;
        FreeBlob(n, source.data());
        if (value.empty()) continue;
        if (OpenBlob(n, buffer, TBlobOpenMode::Write, length) != 0) Raise(err::TooManyBlobsOpen);
        if (PutBlob(n, buffer, 0, static_cast<std::uint32_t>(value.size()), value.data()) != 0)
            Raise(err::InvalidBlobHandle);
    }
}

// ---- record locks ---------------------------------------------------------------------------

bool TDataCursor::LockFor(std::uint32_t n) {
    if (table_->Exclusive()) return false;
    if (n == 0) Raise(err::NoCurrentRecord);
    // Some cursor of this table object, this one included, holds it: no waiting.
    if (table_->CursorLockedRecords().Test(n)) Raise(err::RecordLocked);
    const bool held = table_->ReadLockHeld();
    const bool changed = table_->LockRecord(n);
    if (!held && table_->ReadLockHeld() && readDepth_ > 0) readLockTaken_ = true;
    table_->SizeRecordBitmaps();
    table_->CursorLockedRecords().Set(n);
    return changed;
}

void TDataCursor::UnlockFor(std::uint32_t n) {
    if (n == 0 || table_->Exclusive()) return;
    table_->CursorLockedRecords().Clear(n);
    table_->UnlockRecord(n);
}

void TDataCursor::LockCurrentRecord(std::uint32_t n) {
    CheckOpen();
    if (table_->Exclusive()) return;
    std::uint32_t taken = 0;
    try {
        Guarded([&] {
            if (taken == 0) {
                const std::uint32_t number = n != 0 ? n : CurrentRecordNumber();
                const bool changed = LockFor(number);
                taken = number;
                lockedRecord_ = number;
                if (changed || table_->ChangeCounters() != counters_) Resync();
            }
        });
    } catch (...) {
        if (taken != 0 && lockedRecord_ == taken) {
            lockedRecord_ = 0;
            try {
                UnlockFor(taken);
            } catch (...) {
                // The failure that made us give the lock back is the one reported.
            }
        }
        throw;
    }
}

void TDataCursor::UnlockCurrentRecord(std::uint32_t n) {
    CheckOpen();
    if (n == 0) n = lockedRecord_ != 0 ? lockedRecord_ : CurrentRecordNumber();
    if (n == lockedRecord_) lockedRecord_ = 0;
    if (n == 0 || table_->Exclusive()) return;
    UnlockFor(n);
}

int TDataCursor::GetCurrentRecord(std::uint8_t* buffer, bool lock) {
    if (!lock) return GetCurrentRecord(buffer);
    CheckOpen();
    const bool pessimistic = directory_.Session().LockProtocol() == TLockProtocol::lpPessimistic;
    const bool exclusive = table_->Exclusive();
    int result = 0;
    std::uint32_t lockedHere = 0;
    try {
        Guarded([&] {
            const std::uint32_t n = CurrentRecordNumber();
            if (n == 0) {
                result = ReadCurrent(buffer);
                return;
            }
            if (pessimistic && !exclusive && lockedHere == 0) {
                const bool changed = LockFor(n);
                lockedHere = n;
                lockedRecord_ = n;
                if (changed || table_->ChangeCounters() != counters_) Resync();
            }
            // The record went away while we waited for it.
            if (CurrentRecordNumber() != n) Raise(err::RecordChanged);
            result = ReadCurrent(nullptr);
            if (result == 0 && !exclusive && buffer != nullptr && !SameAsStored(buffer, record_.data()))
                Raise(err::RecordChanged);
            if (buffer != nullptr) std::memcpy(buffer, record_.data(), recordSize_);
        });
    } catch (...) {
        if (lockedHere != 0) {
            if (lockedRecord_ == lockedHere) lockedRecord_ = 0;
            try {
                UnlockFor(lockedHere);
            } catch (...) {
                // The edit's own failure is the one reported.
            }
        }
        throw;
    }
    return result;
}

void TDataCursor::CancelRecord() {
    CheckOpen();
    conflictSeen_ = false;
    if (lockedRecord_ != 0) UnlockCurrentRecord(0);
}

// ---- helpers of the changes -----------------------------------------------------------------

TEditKeys& TDataCursor::Keys() {
    if (!editKeys_ || !editKeys_->Current(*table_)) editKeys_ = std::make_unique<TEditKeys>(*table_);
    return *editKeys_;
}

void TDataCursor::ReadStored(std::uint32_t n, std::uint8_t* image) {
    if (n == 0 || n > table_->PhysicalRecordCount()) Raise(err::RecordChanged);
    TDataFile& data = table_->DataFile();
    TRecord* record = data.GetRecord(nullptr, n);
    if (record == nullptr) Raise(err::RecordBuffersCorrupt);
    std::memset(image, 0, recordSize_);
    std::memcpy(image, record->Data(), std::min<std::size_t>(recordSize_, record->Size()));
    data.ReleaseRecord(record);
}

// Whether the caller's copy is the stored record: a BLOB open in the copy
// counts as the reference it was opened from.
bool TDataCursor::SameAsStored(const std::uint8_t* buffer, const std::uint8_t* stored) const {
    std::vector<std::uint8_t> copy(buffer, buffer + recordSize_);
    for (std::uint16_t n = 1; n <= fields_.size(); ++n) {
        const int handle = BlobHandleOf(n, buffer);
        if (handle == 0) continue;
        const OpenBlobBuffer& blob = *blobs_[handle - 1];
        recordbuffer::SetBlobSlot(fields_[n - 1], copy.data(), {blob.firstBlock, blob.ownerID});
    }
    return std::memcmp(copy.data(), stored, recordSize_) == 0;
}

// Before anything is written: a unique index (or, with identifiers given by
// the caller, "Sys Deleted") that already holds the new key refuses it.
void TDataCursor::CheckDuplicates(const std::uint8_t* image, const std::uint8_t* old, bool withDeleted) {
    TIndexFile& index = table_->IndexFile();
    for (const TEditKeys::Slot& slot : Keys().Slots()) {
        if (slot.slot == kDeletedSlot ? !withDeleted : !slot.unique) continue;
        const std::vector<std::uint8_t> key = slot.Build(image);
        if (old != nullptr && slot.comparer->CompareKeys(slot.Build(old).data(), key.data()) == 0) continue;
        if (TEditKeys::Holds(index, slot, key.data())) Raise(err::DuplicateKey, slot.name);
    }
}

// Records, then index pages, each followed by its header (the BLOB file was
// written before). An exclusive table keeps its changes cached; only the
// counters move. Old chains to free go between the records and the pages.
void TDataCursor::WriteTableBuffers(bool index, TBlobFile::TFreePlan* releases) {
    if (table_->Exclusive()) {
        table_->RaiseChangeCounters(true, false, index);
        if (releases != nullptr) ReleaseChains(*releases);
    } else if (releases != nullptr && !releases->blocks.empty()) {
        table_->WriteRecordBuffers(true);
        ReleaseChains(*releases);
        table_->WriteBuffers(false, false, false, false, index);
    } else {
        table_->WriteBuffers(false, true, false, false, index);
    }
}

void TDataCursor::Writing(const std::function<void(bool& touched)>& change) {
    CheckOpen();
    if (ReadOnly || table_->ReadOnly()) Raise(err::AccessDenied);
    ++readDepth_;
    bool touched = false;
    try {
        const bool changed = table_->BeginWrite();
        try {
            if (changed || table_->ChangeCounters() != counters_) Resync();
            change(touched);
        } catch (...) {
            // Cached records, pages and blocks of a half-made change must never
            // reach the disk. An exclusive table or one in a transaction keeps
            // earlier changes only in its caches, so those cannot be dropped.
            if (touched && !table_->Exclusive() && !table_->InTransaction()) {
                try {
                    table_->DiscardBuffers(false, true);
                } catch (...) {
                    // The change's own failure is the one reported.
                }
            }
            try {
                table_->EndWrite();
            } catch (...) {
                // As above.
            }
            throw;
        }
        table_->EndWrite();
    } catch (...) {
        --readDepth_;
        try {
            EndReadOp();
        } catch (...) {
            // As above.
        }
        throw;
    }
    --readDepth_;
    EndReadOp();
}

// The cursor's own change is known: no resync at the next operation. The
// position is the written record (reposition) or the old place in the order.
void TDataCursor::AfterOwnChange(std::uint32_t record, TRecordChange change, const std::uint8_t* image,
                                 bool reposition, const Position& saved) {
    TakeCounters();
    ComputeRangePositions();
    // The active, matching and visible records, for this record only.
    RecordChangedForFilters(record, nullptr, change == TRecordChange::Deleted ? nullptr : image);
    if (reposition && image != nullptr && change != TRecordChange::Deleted) {
        if (physicalOrder_) {
            if (!StandPhysical(record, true)) ReturnTo(saved);
        } else {
            const std::vector<std::uint8_t> key = BuildKey(image);
            if (!StandNearest(key.data())) MoveToEnd();
        }
        return;
    }
    ReturnTo(saved);
}

// ---- insert, change, delete ---------------------------------------------------------------

void TDataCursor::AppendRecord(std::uint8_t* buffer, bool reposition) {
    CheckOpen();
    ValidateRecord(buffer);
    std::vector<std::uint8_t> image(buffer, buffer + recordSize_);
    Writing([&](bool& touched) {
        TDataFile& data = table_->DataFile();
        TIndexFile& index = table_->IndexFile();
        const Position before = pos_;
        const DataFileHeader& header = data.Header();
        // The slot AllocateRecord will take: the head of the free chain when
        // deleted records are reused, else a new record at the end.
        bool reuse = data.ReuseDeletedRecords() && header.firstFree != 0 &&
                     header.firstFree < header.nextRecordNumber;
        std::vector<std::uint8_t> old;
        if (reuse) {
            old.resize(recordSize_);
            ReadStored(header.firstFree, old.data());
            // A head that is no deleted record (a failed write left the data
            // header behind its records): AllocateRecord cuts the chain and
            // appends, and so does the plan here.
            reuse = old[recordlayout::Status] == recordlayout::StatusDeleted;
        }
        const std::uint32_t slot = reuse ? header.firstFree : header.nextRecordNumber;
        std::uint32_t lockedSlot = 0;
        UnlockingAfter(lockedSlot, [&] {
            if (!table_->Exclusive()) {
                LockFor(slot);
                lockedSlot = slot;
            }
            const std::uint32_t last = header.lastRecordID;
            const std::uint32_t id = suppressAutoInc_ ? recordbuffer::RecordID(image.data())
                                                      : (last >= datafile::kMaxCounter ? 1 : last + 1);
            image[recordlayout::Status] = recordlayout::StatusActive;
            std::uint8_t* link = image.data() + recordlayout::Link;
            for (int i = 0; i < 4; ++i) link[i] = static_cast<std::uint8_t>(slot >> (8 * i));
            recordbuffer::SetRecordID(image.data(), id);
            CheckDuplicates(image.data(), nullptr, suppressAutoInc_);

            const TextWords words = TextWordsOf(image.data(), nullptr);
            touched = true;
            for (const TEditKeys::Slot& s : Keys().Slots()) {
                if (s.slot == kDeletedSlot) continue;
                s.Tree(index).InsertKey(s.Build(image.data()).data(), slot);
            }
            // New chains and the BLOB header before the record: a failure
            // later leaves only blocks no record names. They go out last of
            // all that is prepared in memory, so that little lies between
            // their header and the record (no key holds a BLOB).
            TBlobFile::TFreePlan none;
            if (StoreBlobs(image.data(), nullptr, none)) WriteBlobBuffers();
            TRecord* record = data.AllocateRecord(
                nullptr, suppressAutoInc_ ? std::optional<std::uint32_t>(id) : std::nullopt);
            const bool expected = record->RecordNumber() == slot && record->RecordID() == id;
            if (expected) {
                std::memcpy(record->Data(), image.data(), std::min<std::size_t>(recordSize_, record->Size()));
                record->SetModified();
            }
            data.ReleaseRecord(record);
            if (!expected) Raise(err::RecordBuffersCorrupt);
            if (suppressAutoInc_ && id > data.Header().lastRecordID) data.SetRecordIDCounter(id);

            const TEditKeys::Slot& deleted = Keys().Deleted();
            if (reuse) {
                std::uint8_t oldKey[kDeletedKeyLength];
                TKeyBuilder::BuildDeletedKey(recordlayout::StatusDeleted, recordbuffer::RecordID(old.data()),
                                             oldKey);
                deleted.Tree(index).DeleteKey(oldKey);
            }
            deleted.Tree(index).InsertKey(deleted.Build(image.data()).data(), slot);
            index.IncActiveRecords();
            UpdateTextIndex({}, id, words, id, slot);

            WriteTableBuffers(true);
            std::memcpy(buffer, image.data(), recordSize_);
            FreeAllBlobs();
            AfterOwnChange(slot, TRecordChange::Appended, image.data(), reposition, before);
        }, [this](std::uint32_t n) { UnlockFor(n); });
    });
}

void TDataCursor::ModifyRecord(std::uint8_t* buffer, bool unlock, bool reposition) {
    CheckOpen();
    ValidateRecord(buffer);
    const bool optimistic = directory_.Session().LockProtocol() == TLockProtocol::lpOptimistic;
    const bool exclusive = table_->Exclusive();
    // The record as this cursor last read it (at the start of the edit).
    const std::vector<std::uint8_t> copy = record_;
    const std::uint32_t target = (!optimistic && lockedRecord_ != 0) ? lockedRecord_ : CurrentRecordNumber();
    if (target == 0) Raise(err::NoCurrentRecord);
    std::vector<std::uint8_t> image(buffer, buffer + recordSize_);
    std::uint32_t lockedHere = 0;
    UnlockingAfter(lockedHere, [&] {
        Writing([&](bool& touched) {
            TDataFile& data = table_->DataFile();
            TIndexFile& index = table_->IndexFile();
            const Position before = pos_;
            std::vector<std::uint8_t> old(recordSize_);
            ReadStored(target, old.data());
            if (optimistic && !exclusive) {
                if (conflictSeen_ || old != copy) {
                    conflictSeen_ = true;
                    Raise(err::RecordChanged);
                }
                LockFor(target);
                lockedHere = target;
            }
            if (old[recordlayout::Status] != recordlayout::StatusActive) Raise(err::RecordChanged);
            std::memcpy(image.data(), old.data(), recordlayout::HeaderSize);
            if (suppressAutoInc_) recordbuffer::SetRecordID(image.data(), recordbuffer::RecordID(buffer));
            CheckDuplicates(image.data(), old.data(), suppressAutoInc_);

            const TextWords oldWords = TextWordsOf(old.data(), image.data());
            const TextWords newWords = TextWordsOf(image.data(), image.data());
            touched = true;
            const std::uint32_t id = recordbuffer::RecordID(image.data());
            if (suppressAutoInc_ && id > data.Header().lastRecordID) data.SetRecordIDCounter(id);
            bool indexChanged = false;
            for (const TEditKeys::Slot& s : Keys().Slots()) {
                const std::vector<std::uint8_t> oldKey = s.Build(old.data());
                const std::vector<std::uint8_t> newKey = s.Build(image.data());
                if (oldKey == newKey) continue;
                TIndexTree tree = s.Tree(index);
                if (!tree.DeleteKey(oldKey.data())) Raise(err::IndexPagesCorrupt, s.name);
                tree.InsertKey(newKey.data(), target);
                indexChanged = true;
            }
            indexChanged =
                UpdateTextIndex(oldWords, recordbuffer::RecordID(old.data()), newWords, id, target) || indexChanged;
            // As for an insert: the new chains right before the record, the
            // chains they replace read before that and freed right after it.
            TBlobFile::TFreePlan releases;
            if (StoreBlobs(image.data(), old.data(), releases)) WriteBlobBuffers();
            TRecord* record = data.GetRecord(nullptr, target);
            if (record == nullptr) Raise(err::RecordBuffersCorrupt);
            std::memcpy(record->Data(), image.data(), std::min<std::size_t>(recordSize_, record->Size()));
            record->SetModified();
            data.ReleaseRecord(record);

            WriteTableBuffers(indexChanged, &releases);
            record_ = image;
            std::memcpy(buffer, image.data(), recordSize_);
            FreeAllBlobs();
            if (!optimistic && unlock && lockedRecord_ != 0) UnlockCurrentRecord(0);
            AfterOwnChange(target, TRecordChange::Modified, image.data(), reposition, before);
        });
    }, [this](std::uint32_t n) { UnlockFor(n); });
}

void TDataCursor::DeleteRecord(const std::uint8_t* expected, bool reposition) {
    CheckOpen();
    const std::uint32_t target = CurrentRecordNumber();
    if (target == 0) Raise(err::NoCurrentRecord);
    const bool exclusive = table_->Exclusive();
    std::uint32_t lockedHere = 0;
    bool editLock = false;
    UnlockingAfter(lockedHere, [&] {
        Writing([&](bool& touched) {
            TDataFile& data = table_->DataFile();
            TIndexFile& index = table_->IndexFile();
            const Position before = pos_;
            std::vector<std::uint8_t> old(recordSize_);
            ReadStored(target, old.data());
            if (!exclusive && table_->CursorLockedRecords().Test(target)) {
                if (lockedRecord_ != target) Raise(err::RecordLocked);
                editLock = true;
            } else {
                if (!exclusive && expected != nullptr && !SameAsStored(expected, old.data()))
                    Raise(err::RecordChanged);
                if (!exclusive) {
                    LockFor(target);
                    lockedHere = target;
                }
            }
            if (old[recordlayout::Status] != recordlayout::StatusActive) Raise(err::RecordChanged);
            const TextWords words = TextWordsOf(old.data(), nullptr);

            touched = true;
            for (const TEditKeys::Slot& s : Keys().Slots()) {
                TIndexTree tree = s.Tree(index);
                if (!tree.DeleteKey(s.Build(old.data()).data())) Raise(err::IndexPagesCorrupt, s.name);
            }
            std::uint8_t deletedKey[kDeletedKeyLength];
            TKeyBuilder::BuildDeletedKey(recordlayout::StatusDeleted, recordbuffer::RecordID(old.data()), deletedKey);
            Keys().Deleted().Tree(index).InsertKey(deletedKey, target);
            TRecord* record = data.GetRecord(nullptr, target);
            if (record == nullptr) Raise(err::RecordBuffersCorrupt);
            // The chains are freed below: a deleted record keeps no reference
            // to blocks that other values will reuse.
            for (const FieldDescriptor& f : fields_) {
                if (f.type != fieldtype::Blob) continue;
                record->SetFieldNull(f);
                record->SetModified();
            }
            data.FreeRecord(record);
            data.ReleaseRecord(record);
            index.DecActiveRecords();
            const std::uint32_t oldID = recordbuffer::RecordID(old.data());
            UpdateTextIndex(words, oldID, {}, oldID, target);

            TBlobFile::TFreePlan releases = PlanReleases(RecordChains(old.data()));
            WriteTableBuffers(true, &releases);
            AfterOwnChange(target, TRecordChange::Deleted, nullptr, reposition, before);
        });
    }, [this](std::uint32_t n) { UnlockFor(n); });
    if (editLock) UnlockCurrentRecord(target);
}

// ---- buffers -----------------------------------------------------------------------------------

void TDataCursor::FlushBuffers(bool writeIfExclusive, bool free, bool dataHeader, bool indexHeader,
                               bool blobHeader) {
    CheckOpen();
    if (table_->Exclusive() && !writeIfExclusive) return;
    table_->WriteBuffers(free, dataHeader, false, blobHeader, indexHeader);
}

void TDataCursor::FlushOSBuffers() {
    CheckOpen();
    table_->FlushOSBuffers();
}

}  // namespace pixhold::engine
