#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "TableContext.h"

namespace pixhold::engine {

class TBlobFile;

// One whole BLOB value of a cursor's current record, moved between memory and
// its block chain. The record's reference is the first block number and the
// owner identifier; after WriteBlob or DeleteBlob the caller stores
// FirstBlock() and OwnerID() back into the record (0 first block: no value).
class TBlobBuffer {
public:
    TBlobBuffer(TBlobFile& file, TCursorContext* cursor, std::uint16_t fieldNumber,
                std::uint32_t firstBlock, std::uint32_t ownerID, std::uint32_t recordNumber);

    // Loads the whole value from its chain: 8708 when the chain belongs to
    // another owner, 8711 when it ends early, 8963 for a damaged chain.
    void ReadBlob();
    // Stores the whole value under a new owner identifier (the data file's
    // NextBlobOwnerID), reusing the old chain in order. An empty value frees
    // the chain instead and leaves the reference 0.
    void WriteBlob(std::uint32_t newOwnerID);
    // Frees the value's chain and sets the reference to 0.
    void DeleteBlob();
    // Resizes the value; marks it modified when the size changes.
    void SetBlobSize(std::size_t size);
    // Keeps a second copy of the current value.
    void KeepBlobCopy() { copy_ = value_; }

    std::uint16_t FieldNumber() const { return fieldNumber_; }
    std::uint32_t FirstBlock() const { return firstBlock_; }
    std::uint32_t OwnerID() const { return ownerID_; }
    std::uint32_t RecordNumber() const { return recordNumber_; }
    std::size_t Length() const { return value_.size(); }
    std::uint8_t* Data() { return value_.data(); }
    const std::uint8_t* Data() const { return value_.data(); }
    const std::vector<std::uint8_t>& Value() const { return value_; }
    const std::vector<std::uint8_t>& Copy() const { return copy_; }
    bool Modified() const { return modified_; }
    void SetModified(bool modified = true) { modified_ = modified; }
    int OpenCount() const { return openCount_; }
    void AddOpen() { ++openCount_; }
    // The open count left.
    int ReleaseOpen() { return openCount_ > 0 ? --openCount_ : 0; }

private:
    TBlobFile& file_;
    TCursorContext* cursor_;
    std::uint16_t fieldNumber_;
    std::uint32_t firstBlock_;
    std::uint32_t ownerID_;
    std::uint32_t recordNumber_;
    std::vector<std::uint8_t> value_;
    std::vector<std::uint8_t> copy_;
    bool modified_ = false;
    int openCount_ = 0;
};

}  // namespace pixhold::engine
