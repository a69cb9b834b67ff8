#include "Record.h"

#include <algorithm>
#include <cstring>

#include "ByteCodec.h"
#include "DataFile.h"

namespace pixhold::engine {

using namespace bytes;

std::uint8_t TRecord::Status() const { return image_[recordlayout::Status]; }
void TRecord::SetStatus(std::uint8_t status) { image_[recordlayout::Status] = status; }
std::uint32_t TRecord::Link() const { return GetU32(image_.data(), recordlayout::Link); }
void TRecord::SetLink(std::uint32_t link) { PutU32(image_.data(), recordlayout::Link, link); }
std::uint32_t TRecord::RecordID() const { return GetU32(image_.data(), recordlayout::RecordID); }
void TRecord::SetRecordID(std::uint32_t id) { PutU32(image_.data(), recordlayout::RecordID, id); }

bool TRecord::SlotInside(const FieldDescriptor& field) const {
    return field.TakesRoom() && field.offset >= recordlayout::HeaderSize &&
           static_cast<std::size_t>(field.offset) + 1 + field.physicalSize <= size_;
}

bool TRecord::FieldIsNull(const FieldDescriptor& field) const {
    return !SlotInside(field) || image_[field.offset] == 0;
}

std::span<const std::uint8_t> TRecord::FieldData(const FieldDescriptor& field) const {
    if (!SlotInside(field)) return {};
    return {image_.data() + field.offset + 1, field.physicalSize};
}

void TRecord::SetFieldData(const FieldDescriptor& field, std::span<const std::uint8_t> data) {
    if (!SlotInside(field)) return;
    std::uint8_t* slot = image_.data() + field.offset;
    const std::size_t n = std::min<std::size_t>(data.size(), field.physicalSize);
    slot[0] = 1;
    if (n > 0) std::memcpy(slot + 1, data.data(), n);
    std::memset(slot + 1 + n, 0, field.physicalSize - n);
}

void TRecord::SetFieldNull(const FieldDescriptor& field) {
    if (!SlotInside(field)) return;
    std::memset(image_.data() + field.offset, 0, 1u + field.physicalSize);
}

void TRecord::NoteModified() {
    if (owner_ != nullptr) owner_->NoteModifiedRecord(number_);
}

void TRecord::Reset(std::size_t size, std::uint32_t number) {
    constexpr std::size_t kStep = 64;
    // Never below the record header, so the header accessors are always safe.
    const std::size_t room = std::max(size, recordlayout::HeaderSize);
    if (image_.size() < room) image_.resize((room + kStep - 1) / kStep * kStep);
    std::fill(image_.begin(), image_.end(), std::uint8_t{0});
    size_ = size;
    number_ = number;
    modified_ = false;
}

std::unique_ptr<TRecord> TRecordStack::Pop(TDataFile* owner) {
    if (spare_.empty()) return std::make_unique<TRecord>(owner);
    std::unique_ptr<TRecord> record = std::move(spare_.back());
    spare_.pop_back();
    record->owner_ = owner;
    record->modified_ = false;
    record->pins_ = 0;
    record->newer_ = record->older_ = nullptr;
    return record;
}

void TRecordStack::Push(std::unique_ptr<TRecord> record) {
    if (spare_.size() < kCapacity) spare_.push_back(std::move(record));
}

}  // namespace pixhold::engine
