#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DataFile.h"
#include "EngineError.h"
#include "ExpCollation.h"
#include "ExpressionCheck.h"
#include "ExpressionEval.h"
#include "ExpressionParser.h"
#include "ExpressionPrepare.h"

namespace pixhold::engine::exptest {

inline const std::string kTable = "Images";

// The fields of the test table, laid out as a data file would.
std::vector<FieldDescriptor> TestFields();

// One record as stored values by field name; a missing or empty value is NULL.
class TMapRecord : public TExpRecordReader {
public:
    explicit TMapRecord(const std::vector<FieldDescriptor>& fields) : fields_(fields) {}

    // A value text as a field's minimum or default would be written; strings
    // are stored as the data file stores them (no trailing blanks, empty =
    // NULL); memos and BLOBs take the text as their contents.
    TMapRecord& Set(const std::string& field, const std::string& text);
    TMapRecord& SetNull(const std::string& field);
    // Stored bytes as they are, damaged ones included.
    TMapRecord& SetBytes(const std::string& field, std::vector<std::uint8_t> bytes);

    bool ReadField(const FieldDescriptor& field, std::uint16_t number, std::vector<std::uint8_t>& bytes) const override;

private:
    const std::vector<FieldDescriptor>& fields_;
    std::map<std::uint16_t, std::vector<std::uint8_t>> values_;
};

// Parses, checks, normalises and prepares a filter as adding it to a cursor does.
std::unique_ptr<TExpToken> PrepareFilter(const std::string& text, const std::vector<FieldDescriptor>& fields,
                                         const TExpCollation& collation, TFilterPrepareOptions options = {});

// The detail text of the filter error a statement raises ("" when none).
template <typename F>
std::string FilterErrorText(F&& f) {
    try {
        f();
    } catch (const ECofferEngineError& e) {
        if (e.ErrorCode() != err::FilterError) return "code " + std::to_string(e.ErrorCode());
        return e.ContextText();
    }
    return {};
}

}  // namespace pixhold::engine::exptest
