// The BLOBs of a cursor's record buffers: opened into memory, read and
// changed there, and written to the BLOB file only by the append or change
// of the record buffer that holds them.
//
// A changed BLOB is always written into a new chain under a new owner
// identifier, and the old chain is freed in the same change: until the record
// that names the new chain is written, the old value stays whole on disk. The
// old chain is read before the record is written and freed right after it.

#include <algorithm>
#include <cstring>

#include "BlobFile.h"
#include "DataCursor.h"
#include "DataTable.h"
#include "EngineError.h"
#include "RecordBuffer.h"

namespace pixhold::engine {

namespace {

// The largest BLOB value a cursor keeps in memory.
constexpr std::uint64_t kMaxBlobLength = 0x7fffffffULL;
// The most value storage a cursor keeps for the next BLOB it reads.
constexpr std::size_t kMaxSpareValue = 16u << 20;

std::uint32_t HandleSlot(int handle) { return static_cast<std::uint32_t>(-static_cast<std::int64_t>(handle)); }

void SetPresent(const FieldDescriptor& field, std::uint8_t* buffer, bool present) {
    buffer[field.offset] = present ? 1 : 0;
}

}  // namespace

bool TDataCursor::IsBlobField(std::uint16_t field) const {
    return field >= 1 && field <= fields_.size() && fields_[field - 1].type == fieldtype::Blob &&
           fields_[field - 1].TakesRoom();
}

int TDataCursor::BlobHandleOf(std::uint16_t field, const std::uint8_t* buffer) const {
    if (!IsBlobField(field)) return 0;
    const auto slot = recordbuffer::GetBlobSlot(fields_[field - 1], buffer);
    const auto value = static_cast<std::int32_t>(slot.firstBlock);
    if (value >= 0) return 0;
    const std::int64_t handle = -static_cast<std::int64_t>(value);
    if (handle > static_cast<std::int64_t>(blobs_.size())) return 0;
    const auto& blob = blobs_[static_cast<std::size_t>(handle - 1)];
    return blob && blob->field == field ? static_cast<int>(handle) : 0;
}

TDataCursor::OpenBlobBuffer* TDataCursor::BlobOf(std::uint16_t field, const std::uint8_t* buffer) {
    const int handle = BlobHandleOf(field, buffer);
    return handle == 0 ? nullptr : blobs_[static_cast<std::size_t>(handle - 1)].get();
}

std::size_t TDataCursor::OpenBlobCount() const {
    return static_cast<std::size_t>(std::count_if(blobs_.begin(), blobs_.end(), [](const auto& b) { return b != nullptr; }));
}

int TDataCursor::OpenBlob(std::uint16_t field, std::uint8_t* buffer, TBlobOpenMode mode, std::uint32_t& length) {
    CheckOpen();
    length = 0;
    if (!IsBlobField(field)) return err::InvalidBlobField;
    if (OpenBlobBuffer* open = BlobOf(field, buffer)) {
        length = static_cast<std::uint32_t>(open->value.size());
        return 0;
    }
    if (OpenBlobCount() >= kMaxOpenBlobs) return err::TooManyBlobsOpen;
    const FieldDescriptor& f = fields_[field - 1];
    const bool present = recordbuffer::IsPresent(f, buffer);
    auto slot = recordbuffer::GetBlobSlot(f, buffer);
    if (!present) slot = {};
    if (static_cast<std::int32_t>(slot.firstBlock) < 0) return err::InvalidBlobOffset;
    auto blob = std::make_unique<OpenBlobBuffer>();
    blob->field = field;
    blob->firstBlock = slot.firstBlock;
    blob->ownerID = slot.ownerID;
    blob->recordNumber = CurrentRecordNumber();
    if (mode == TBlobOpenMode::Write) {
        // Written from the start: the stored value is replaced, never read.
        blob->modified = slot.firstBlock != 0;
    } else if (slot.firstBlock != 0) {
        if (!table_->BlobFileOpen()) return err::InvalidBlobOffset;
        bool outside = false;
        Guarded([&] {
            // The block count as it is now: a value written by another user
            // since the last look at the BLOB file lies past the held one.
            if (!table_->StrictChangeDetection()) CheckForBlobChanges(false);
            if (slot.firstBlock > table_->BlobFile().BlockCount()) {
                outside = true;
                return;
            }
            blob->value.swap(spareValue_);
            // A change found by the read refreshed the caches: read again.
            while (!table_->BlobFile().ReadValue(this, blob->firstBlock, blob->ownerID, blob->value)) {
            }
        });
        if (outside) return err::InvalidBlobOffset;
    }
    auto freeSlot = std::find(blobs_.begin(), blobs_.end(), nullptr);
    if (freeSlot == blobs_.end()) freeSlot = blobs_.insert(blobs_.end(), nullptr);
    *freeSlot = std::move(blob);
    const int handle = static_cast<int>(freeSlot - blobs_.begin()) + 1;
    length = static_cast<std::uint32_t>((*freeSlot)->value.size());
    recordbuffer::SetBlobSlot(f, buffer, {HandleSlot(handle), slot.ownerID});
    SetPresent(f, buffer, present && slot.firstBlock != 0);
    return 0;
}

int TDataCursor::GetBlob(std::uint16_t field, const std::uint8_t* buffer, std::uint32_t offset,
                         std::uint32_t length, void* data, std::uint32_t& read) {
    CheckOpen();
    read = 0;
    if (!IsBlobField(field)) return err::InvalidBlobField;
    const OpenBlobBuffer* blob = BlobOf(field, buffer);
    if (blob == nullptr) return err::InvalidBlobHandle;
    if (offset > blob->value.size()) return err::InvalidBlobOffset;
    read = static_cast<std::uint32_t>(std::min<std::size_t>(length, blob->value.size() - offset));
    if (read > 0) std::memcpy(data, blob->value.data() + offset, read);
    return read < length ? err::EndOfBlob : 0;
}

int TDataCursor::PutBlob(std::uint16_t field, std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length,
                         const void* data) {
    CheckOpen();
    if (!IsBlobField(field)) return err::InvalidBlobField;
    OpenBlobBuffer* blob = BlobOf(field, buffer);
    if (blob == nullptr) return err::InvalidBlobHandle;
    const std::uint64_t end = std::uint64_t{offset} + length;
    if (end > kMaxBlobLength) return err::InvalidBlobLength;
    if (end > blob->value.size()) {
        blob->value.resize(end);
        blob->modified = true;
    }
    if (length > 0) {
        std::memcpy(blob->value.data() + offset, data, length);
        blob->modified = true;
    }
    SetPresent(fields_[field - 1], buffer, !blob->value.empty());
    return 0;
}

int TDataCursor::TruncateBlob(std::uint16_t field, std::uint8_t* buffer, std::uint32_t length) {
    CheckOpen();
    if (!IsBlobField(field)) return err::InvalidBlobField;
    OpenBlobBuffer* blob = BlobOf(field, buffer);
    if (blob == nullptr) return err::InvalidBlobHandle;
    if (length != blob->value.size()) {
        blob->value.resize(length);
        blob->modified = true;
    }
    SetPresent(fields_[field - 1], buffer, length != 0);
    return 0;
}

int TDataCursor::GetBlobSize(std::uint16_t field, const std::uint8_t* buffer, std::uint32_t& length) {
    CheckOpen();
    length = 0;
    if (!IsBlobField(field)) return err::InvalidBlobField;
    const OpenBlobBuffer* blob = BlobOf(field, buffer);
    if (blob == nullptr) return err::InvalidBlobHandle;
    length = static_cast<std::uint32_t>(blob->value.size());
    return 0;
}

void TDataCursor::FreeBlob(std::uint16_t field, std::uint8_t* buffer) {
    const int handle = BlobHandleOf(field, buffer);
    if (handle == 0) return;
    const OpenBlobBuffer& blob = *blobs_[static_cast<std::size_t>(handle - 1)];
    // The buffer names the stored value again; unwritten changes are dropped.
    recordbuffer::SetBlobSlot(fields_[field - 1], buffer, {blob.firstBlock, blob.ownerID});
    ReleaseBlobAt(static_cast<std::size_t>(handle - 1));
}

void TDataCursor::ReleaseBlobAt(std::size_t index) {
    // The larger storage is the one kept, up to a bound.
    std::vector<std::uint8_t>& value = blobs_[index]->value;
    if (value.capacity() > spareValue_.capacity() && value.capacity() <= kMaxSpareValue) spareValue_.swap(value);
    blobs_[index].reset();
    while (!blobs_.empty() && !blobs_.back()) blobs_.pop_back();
}

void TDataCursor::FreeAllBlobs() { blobs_.clear(); }

// ---- BLOBs of a change, under the write lock ----------------------------------------------------

bool TDataCursor::StoreBlobs(std::uint8_t* image, const std::uint8_t* old, TBlobFile::TFreePlan& releases) {
    if (!table_->HasBlobFields()) return false;
    TBlobFile& file = table_->BlobFile();
    TDataFile& data = table_->DataFile();
    // First what is to be written and what it replaces, reading all there is
    // to read; then the writes, which take blocks off the free chain.
    struct Write {
        const FieldDescriptor* field;
        const std::vector<std::uint8_t>* value;
    };
    std::vector<Write> writes;
    std::vector<std::vector<std::uint8_t>> copies;
    copies.reserve(fields_.size());
    std::vector<recordbuffer::BlobSlot> replaced;
    for (std::uint16_t n = 1; n <= fields_.size(); ++n) {
        const FieldDescriptor& f = fields_[n - 1];
        if (!IsBlobField(n)) continue;
        const recordbuffer::BlobSlot stored = old != nullptr && recordbuffer::IsPresent(f, old)
                                                  ? recordbuffer::GetBlobSlot(f, old)
                                                  : recordbuffer::BlobSlot{};
        const OpenBlobBuffer* blob = BlobOf(n, image);
        if (blob != nullptr && (blob->modified || (old == nullptr && !blob->value.empty()))) {
            // Changed, or a new record that must not share another's chain.
            writes.push_back({&f, &blob->value});
            if (stored.firstBlock != 0) replaced.push_back(stored);
        } else if (old != nullptr) {
            recordbuffer::SetBlobSlot(f, image, stored);
        } else {
            // A new record whose buffer names a stored value: it gets a copy.
            const auto slot = blob != nullptr ? recordbuffer::BlobSlot{blob->firstBlock, blob->ownerID}
                                              : recordbuffer::GetBlobSlot(f, image);
            const bool present = blob != nullptr ? slot.firstBlock != 0 : recordbuffer::IsPresent(f, image);
            if (present && static_cast<std::int32_t>(slot.firstBlock) > 0) {
                std::vector<std::uint8_t>& value = copies.emplace_back();
                if (!file.ReadValue(nullptr, slot.firstBlock, slot.ownerID, value)) Raise(err::BlobBuffersCorrupt);
                writes.push_back({&f, &value});
            } else {
                recordbuffer::SetBlobSlot(f, image, {});
            }
        }
    }
    // The replaced chains are read now, before the header that takes the
    // new chains' blocks goes out: from then on until the record is written,
    // an interruption leaves the new blocks unused, so that stretch is kept
    // short.
    releases = PlanReleases(replaced);
    for (const Write& w : writes) {
        recordbuffer::BlobSlot slot;
        if (!w.value->empty()) {
            slot.ownerID = data.NextBlobOwnerID();
            file.WriteValue(nullptr, slot.firstBlock, slot.ownerID, w.value->data(), w.value->size());
        }
        recordbuffer::SetBlobSlot(*w.field, image, slot);
    }
    return !writes.empty();
}

std::vector<recordbuffer::BlobSlot> TDataCursor::RecordChains(const std::uint8_t* image) const {
    std::vector<recordbuffer::BlobSlot> chains;
    for (std::uint16_t n = 1; n <= fields_.size(); ++n) {
        const FieldDescriptor& f = fields_[n - 1];
        if (!IsBlobField(n) || !recordbuffer::IsPresent(f, image)) continue;
        const auto slot = recordbuffer::GetBlobSlot(f, image);
        if (slot.firstBlock != 0) chains.push_back(slot);
    }
    return chains;
}

void TDataCursor::WriteBlobBuffers() {
    if (table_->Exclusive()) {
        table_->RaiseChangeCounters(false, true, false);
    } else if (table_->InTransaction()) {
        table_->WriteBlobBuffers(true);
    } else {
        // A new chain's header has gone out with its blocks (and moved the
        // counter): written again it would only be one more write between
        // the new blocks and the record that names them.
        table_->WriteBlobBuffers(false);
    }
}

TBlobFile::TFreePlan TDataCursor::PlanReleases(const std::vector<recordbuffer::BlobSlot>& chains) {
    TBlobFile::TFreePlan plan;
    if (chains.empty() || !table_->BlobFileOpen()) return plan;
    for (const recordbuffer::BlobSlot slot : chains) {
        try {
            table_->BlobFile().PlanFreeChain(slot.firstBlock, true, slot.ownerID, plan);
        } catch (const ECofferEngineError&) {
            // A damaged chain stays where it is: unused blocks, which the
            // repair gives back, rather than a free chain through a value.
        }
    }
    return plan;
}

void TDataCursor::ReleaseChains(TBlobFile::TFreePlan& plan) {
    if (plan.blocks.empty() || !table_->BlobFileOpen()) return;
    try {
        table_->BlobFile().FreePlanned(plan);
        WriteBlobBuffers();
    } catch (const ECofferEngineError&) {
        // The records of the change are written; what failed only leaves
        // blocks that no record names (a repair or an optimise takes them
        // back). The BLOB file's cached state is read again from the disk;
        // the other files' buffers (index pages still to be written) stay.
        plan.blocks.clear();
        plan.data.clear();
        if (!table_->Exclusive() && !table_->InTransaction()) {
            try {
                table_->BlobFile().ClearBlockCache();
                table_->BlobFile().ReadHeader();
            } catch (...) {
                // The next operation meets the same disk.
            }
        }
    }
}

}  // namespace pixhold::engine
