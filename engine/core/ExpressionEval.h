#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataFile.h"
#include "ExpCollation.h"
#include "ExpToken.h"

namespace pixhold::engine {

// What an expression reads of the current record.
class TExpRecordReader {
public:
    virtual ~TExpRecordReader() = default;
    // The stored bytes of the field (number from 1) in the current record, a
    // BLOB field's whole contents; false when the field is NULL.
    virtual bool ReadField(const FieldDescriptor& field, std::uint16_t number,
                           std::vector<std::uint8_t>& bytes) const = 0;
};

// Reads the fields of a record image of a data file. A BLOB field's slot only
// names its blocks: `blobLoader` (when given) fetches the contents; without it
// a BLOB reads as its stored 8 bytes.
class TDataFileRecordReader : public TExpRecordReader {
public:
    using BlobLoader = std::function<bool(const FieldDescriptor& field, const std::vector<std::uint8_t>& slot,
                                          std::vector<std::uint8_t>& contents)>;

    TDataFileRecordReader(const TDataFile& file, const TRecord& record, BlobLoader blobLoader = {});
    bool ReadField(const FieldDescriptor& field, std::uint16_t number, std::vector<std::uint8_t>& bytes) const override;

private:
    const TDataFile& file_;
    const TRecord& record_;
    BlobLoader blobLoader_;
};

// The value of a field's stored bytes (see the data file's type table).
TExpValue DecodeStoredValue(const FieldDescriptor& field, const std::vector<std::uint8_t>& bytes);

// The text form of a value (CAST to a string type).
std::string ValueToText(const TExpValue& value);

// Evaluates a checked (and usually prepared) tree for one record. `reader` may
// be null for trees without columns. Errors during evaluation (a division by
// zero, a failed CAST) are filter errors naming `table`.
TExpValue EvaluateExpression(const TExpToken& tree, const TExpRecordReader* reader, const TExpCollation& collation,
                             const std::string& table = {});
// The same, as the constant node the value makes.
std::unique_ptr<TExpToken> EvaluateToConstant(const TExpToken& tree, const TExpRecordReader* reader,
                                              const TExpCollation& collation, const std::string& table = {});
// Whether the record passes a boolean filter tree (NULL counts as false).
bool EvaluateFilter(const TExpToken& tree, const TExpRecordReader* reader, const TExpCollation& collation,
                    const std::string& table = {});

// The comparison rules of filter evaluation, for one pair of values.
bool CompareExpValues(ExpOp op, const TExpValue& a, const TExpValue& b, const TExpCollation& collation,
                      bool caseInsensitive = false);
// LIKE over the whole text: "%" any run of characters, "_" one character,
// other characters by the collation.
bool MatchLikePattern(std::string_view text, std::string_view pattern, const TExpCollation& collation,
                      bool caseInsensitive);

}  // namespace pixhold::engine
