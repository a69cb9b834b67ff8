#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "DataFile.h"
#include "ExpToken.h"
#include "ExpressionEval.h"
#include "IndexKey.h"
#include "TableLocale.h"

namespace pixhold::engine {

// Filters answered from index keys read a field's value straight out of the
// first part of a key (null flag and value). This works for the types whose
// key form gives the stored value back exactly: strings, integers of every
// width, dates, times, floats, timestamps and booleans (not decimals, which
// keys round to four places, nor byte fields and BLOBs).
bool KeyPartDecodable(const KeyPart& part);

// Reads the first part of a key as the stored field a filter test reads. A
// case-insensitive index holds upper-cased texts, which is what a
// case-insensitive test compares anyway.
class TKeyPartReader : public TExpRecordReader {
public:
    // `inverted`: the part's bytes are stored inverted (a descending field of
    // a table without a language).
    TKeyPartReader(const KeyPart& part, bool inverted) : part_(part), inverted_(inverted) {}
    void SetKey(const std::uint8_t* key) { key_ = key; }
    bool ReadField(const FieldDescriptor& field, std::uint16_t number, std::vector<std::uint8_t>& bytes) const override;

private:
    const KeyPart& part_;
    bool inverted_;
    const std::uint8_t* key_ = nullptr;
};

// The first part of a key (null flag and value, key size + 1 bytes) for a
// constant, as a bound of a key scan; nullopt when the constant has no exact
// key form in this part (another type, a text too long for the key).
std::optional<std::vector<std::uint8_t>> EncodeKeyPart(const KeyPart& part, const TExpValue& value,
                                                       const TableLocale& locale, bool caseInsensitive);

// Reads the fields of a record image (record size bytes) as a filter test
// reads them; `blobLoader` fetches BLOB contents as for TDataFileRecordReader.
class TRecordImageReader : public TExpRecordReader {
public:
    TRecordImageReader(const std::uint8_t* image, std::size_t size, TDataFileRecordReader::BlobLoader blobLoader = {})
        : image_(image), size_(size), blobLoader_(std::move(blobLoader)) {}
    bool ReadField(const FieldDescriptor& field, std::uint16_t number, std::vector<std::uint8_t>& bytes) const override;

private:
    const std::uint8_t* image_;
    std::size_t size_;
    TDataFileRecordReader::BlobLoader blobLoader_;
};

}  // namespace pixhold::engine
