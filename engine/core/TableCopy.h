#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "TableDefinition.h"

namespace pixhold::engine {

class TDataTable;
class TTableKeys;
struct FieldDescriptor;

// The definition an open table was made from, as a new table of the same
// kind is created with: header values, fields, indexes, text index and its
// parameters (the defaults when the table has none stored).
TableDefinition DefinitionOf(TDataTable& table);

// Appends records with their keys to a new table that only this operation
// uses (no locks, no uniqueness checks unless asked).
class TRecordAppender {
public:
    explicit TRecordAppender(TDataTable& table);
    ~TRecordAppender();
    TRecordAppender(const TRecordAppender&) = delete;
    TRecordAppender& operator=(const TRecordAppender&) = delete;

    // A blank record image of the table, every field null.
    std::vector<std::uint8_t> BlankImage() const;
    // Sets a BLOB field of `image` to a value stored now in the BLOB file
    // (null when the value is empty).
    void PutBlob(std::vector<std::uint8_t>& image, const FieldDescriptor& field, const std::vector<std::uint8_t>& value);
    // The slot of the unique index that already holds the image's key, or -1.
    int DuplicateSlot(const std::vector<std::uint8_t>& image);
    // Appends the image (fields from offset 9) with the record identifier
    // and inserts its keys; returns the physical record number.
    std::uint32_t Append(const std::vector<std::uint8_t>& image, std::uint32_t recordID);
    // Gives back a BLOB stored for a record that was not appended after all.
    void DropBlob(const std::vector<std::uint8_t>& image, const FieldDescriptor& field);
    TTableKeys& Keys() { return *keys_; }
    TDataTable& Table() const { return table_; }

private:
    TDataTable& table_;
    std::unique_ptr<TTableKeys> keys_;
    std::uint32_t appended_ = 0;
};

// The (first block, owner) reference a BLOB field's slot holds.
struct BlobReference {
    std::uint32_t first = 0;
    std::uint32_t owner = 0;
};
BlobReference BlobReferenceOf(const std::uint8_t* image, const FieldDescriptor& field);
// The whole value of a BLOB field of a record image of `table` (empty when null).
std::vector<std::uint8_t> ReadBlobValue(TDataTable& table, const std::uint8_t* image, const FieldDescriptor& field);

}  // namespace pixhold::engine
