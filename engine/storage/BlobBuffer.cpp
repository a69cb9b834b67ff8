#include "BlobBuffer.h"

#include "BlobFile.h"

namespace pixhold::engine {

TBlobBuffer::TBlobBuffer(TBlobFile& file, TCursorContext* cursor, std::uint16_t fieldNumber,
                         std::uint32_t firstBlock, std::uint32_t ownerID, std::uint32_t recordNumber)
    : file_(file),
      cursor_(cursor),
      fieldNumber_(fieldNumber),
      firstBlock_(firstBlock),
      ownerID_(ownerID),
      recordNumber_(recordNumber) {}

void TBlobBuffer::ReadBlob() {
    // A change check that refreshed the table starts the read again.
    while (!file_.ReadValue(cursor_, firstBlock_, ownerID_, value_)) {
    }
    modified_ = false;
}

void TBlobBuffer::WriteBlob(std::uint32_t newOwnerID) {
    if (value_.empty()) {
        DeleteBlob();
        return;
    }
    file_.WriteValue(cursor_, firstBlock_, newOwnerID, value_.data(), value_.size());
    ownerID_ = newOwnerID;
    modified_ = false;
}

void TBlobBuffer::DeleteBlob() {
    file_.FreeBlobChain(cursor_, firstBlock_, true, ownerID_);
    firstBlock_ = 0;
    value_.clear();
    modified_ = false;
}

void TBlobBuffer::SetBlobSize(std::size_t size) {
    if (size == value_.size()) return;
    value_.resize(size);
    modified_ = true;
}

}  // namespace pixhold::engine
