#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace pixhold::engine {

class TDataFile;
struct FieldDescriptor;

// Offsets of the record header: every record starts with these 9 bytes.
namespace recordlayout {
inline constexpr std::size_t Status = 0;    // uint8: 0 active, 1 deleted
inline constexpr std::size_t Link = 1;      // uint32: own number, or next free record
inline constexpr std::size_t RecordID = 5;  // uint32: record identifier (auto-increment value)
inline constexpr std::size_t HeaderSize = 9;
inline constexpr std::uint8_t StatusActive = 0;
inline constexpr std::uint8_t StatusDeleted = 1;
}  // namespace recordlayout

// One cached record image of a data file. Records are numbered from 1. A record
// with pins stays cached; a modified one is written back by FlushRecords.
class TRecord {
public:
    explicit TRecord(TDataFile* owner = nullptr) : owner_(owner) {}
    TRecord(const TRecord&) = delete;
    TRecord& operator=(const TRecord&) = delete;

    TDataFile* Owner() const { return owner_; }
    std::uint32_t RecordNumber() const { return number_; }
    bool Modified() const { return modified_; }
    // A record that becomes modified is reported to its data file, which keeps
    // the numbers of its modified records so that a flush need not visit the
    // whole cache.
    void SetModified(bool modified = true) {
        if (modified && !modified_) NoteModified();
        modified_ = modified;
    }
    std::uint16_t PinCount() const { return pins_; }
    bool Pinned() const { return pins_ != 0; }

    // The record image, record size bytes.
    std::uint8_t* Data() { return image_.data(); }
    const std::uint8_t* Data() const { return image_.data(); }
    std::size_t Size() const { return size_; }
    std::span<std::uint8_t> Bytes() { return {image_.data(), size_}; }
    std::span<const std::uint8_t> Bytes() const { return {image_.data(), size_}; }

    // The 9-byte record header.
    std::uint8_t Status() const;
    void SetStatus(std::uint8_t status);
    bool IsDeleted() const { return Status() == recordlayout::StatusDeleted; }
    // Bytes 1..4: an active record's own number, a deleted record's next free record.
    std::uint32_t Link() const;
    void SetLink(std::uint32_t link);
    std::uint32_t RecordID() const;
    void SetRecordID(std::uint32_t id);

    // Raw field slots (null flag at the descriptor's offset, then the physical
    // size in bytes). Fields that take no room (auto-increment, read-only) are
    // always reported null here; TDataFile::GetField knows the auto-increment rule.
    bool FieldIsNull(const FieldDescriptor& field) const;
    std::span<const std::uint8_t> FieldData(const FieldDescriptor& field) const;
    // Stores the bytes (cut or zero-padded to the physical size) and sets the
    // null flag to "present". No type rules are applied here.
    void SetFieldData(const FieldDescriptor& field, std::span<const std::uint8_t> data);
    // Null flag 0 and all data bytes 0.
    void SetFieldNull(const FieldDescriptor& field);

private:
    friend class TDataFile;
    friend class TRecordStack;

    // A blank, unmodified image of the given size (the buffer grows in 64-byte
    // steps). Pins and cache links are left alone.
    void Reset(std::size_t size, std::uint32_t number);
    bool SlotInside(const FieldDescriptor& field) const;
    void NoteModified();

    TDataFile* owner_;
    bool modified_ = false;
    std::uint16_t pins_ = 0;
    std::uint32_t number_ = 0;
    std::size_t size_ = 0;
    std::vector<std::uint8_t> image_;
    // Links of the most-recently-used chain (front = most recent).
    TRecord* newer_ = nullptr;
    TRecord* older_ = nullptr;
};

// Spare TRecord objects kept for reuse (at most 64).
class TRecordStack {
public:
    static constexpr std::size_t kCapacity = 64;

    // A spare record, or a new one when none is kept.
    std::unique_ptr<TRecord> Pop(TDataFile* owner);
    // Keeps the record when there is room, else frees it.
    void Push(std::unique_ptr<TRecord> record);
    std::size_t Count() const { return spare_.size(); }
    void Clear() { spare_.clear(); }

private:
    std::vector<std::unique_ptr<TRecord>> spare_;
};

}  // namespace pixhold::engine
