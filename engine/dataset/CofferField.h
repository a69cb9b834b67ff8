#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DataFile.h"
#include "FieldTypes.h"

namespace pixhold::engine {

class TCofferDataSet;

// One field of a dataset's current record. Values are read from and written
// into the record buffer the dataset shows at the moment (the current record,
// the record being edited, a search key, or the candidate of a record filter).
class TField {
public:
    TField(TCofferDataSet& dataset, const FieldDescriptor& descriptor, std::string name);

    TCofferDataSet& DataSet() const { return dataset_; }
    const std::string& FieldName() const { return name_; }
    // From 1, the position of the field in the table.
    int FieldNo() const { return descriptor_.number; }
    TFieldType DataType() const { return type_; }
    int Size() const;
    bool Required() const { return descriptor_.required != 0; }
    bool ReadOnly() const { return descriptor_.readOnly != 0 || descriptor_.IsAutoInc(); }
    bool IsBlob() const { return IsBlobType(type_); }
    const FieldDescriptor& Descriptor() const { return descriptor_; }
    std::string DisplayLabel;

    bool IsNull() const;
    // Text of the value: decimal numbers, "True"/"False", the value texts of
    // dates and times, a string's characters, a BLOB's bytes; empty for null.
    std::string AsString() const;
    // A string longer than the field is cut to its size; an empty string (or
    // blanks only) is null.
    void SetAsString(const std::string& value);
    std::int64_t AsInteger() const;
    void SetAsInteger(std::int64_t value);
    bool AsBoolean() const;
    void SetAsBoolean(bool value);
    void Clear();

    // BLOB contents (through a BLOB stream) or the stored bytes.
    std::vector<std::uint8_t> AsBytes() const;
    void SetAsBytes(const std::vector<std::uint8_t>& value);
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path) const;

private:
    // The stored bytes (physical size), or false for null.
    bool Stored(std::vector<std::uint8_t>& value) const;
    void Store(const std::uint8_t* value, std::size_t length);
    void CheckWritable() const;

    TCofferDataSet& dataset_;
    FieldDescriptor descriptor_;
    std::string name_;
    TFieldType type_;
};

}  // namespace pixhold::engine
