#include "ExpressionTestSupport.h"

#include "ValueText.h"

namespace pixhold::engine::exptest {
namespace {

FieldDescriptor Field(const char* name, std::uint8_t type, std::uint8_t size = 0, std::uint8_t subtype = 0) {
    FieldDescriptor f;
    f.name = name;
    f.type = type;
    f.size = size;
    f.subtype = subtype;
    return f;
}

}  // namespace

std::vector<FieldDescriptor> TestFields() {
    std::vector<FieldDescriptor> fields = {
        Field("Name", fieldtype::String, 30),
        Field("Category", fieldtype::String, 10),
        Field("Type", fieldtype::SmallInt),
        Field("Amount", fieldtype::Integer),
        Field("Price", fieldtype::Float),
        Field("Shot", fieldtype::Date),
        Field("At", fieldtype::Time),
        Field("Stamp", fieldtype::DateTime),
        Field("Flag", fieldtype::Boolean),
        Field("Big", fieldtype::LargeInt),
        Field("Notes", fieldtype::Blob, 0, fieldsubtype::Memo),
        Field("Count", fieldtype::Word),
        Field("Cost", fieldtype::Decimal),
        Field("Image", fieldtype::Blob),
    };
    LayOutFields(fields);
    return fields;
}

TMapRecord& TMapRecord::Set(const std::string& field, const std::string& text) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const FieldDescriptor& f = fields_[i];
        if (f.name != field) continue;
        const auto number = static_cast<std::uint16_t>(i + 1);
        if (f.type == fieldtype::String || f.type == fieldtype::Blob) {
            std::string stored = text;
            if (f.type == fieldtype::String) {
                while (!stored.empty() && stored.back() == ' ') stored.pop_back();
            }
            if (stored.empty()) {
                values_.erase(number);
            } else {
                values_[number].assign(stored.begin(), stored.end());
            }
            return *this;
        }
        auto stored = ValueTextToStored(f.type, f.physicalSize, text);
        if (stored) {
            values_[number] = *stored;
        } else {
            values_.erase(number);
        }
        return *this;
    }
    throw std::invalid_argument("no field " + field);
}

TMapRecord& TMapRecord::SetNull(const std::string& field) { return Set(field, ""); }

TMapRecord& TMapRecord::SetBytes(const std::string& field, std::vector<std::uint8_t> bytes) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name != field) continue;
        values_[static_cast<std::uint16_t>(i + 1)] = std::move(bytes);
        return *this;
    }
    throw std::invalid_argument("no field " + field);
}

bool TMapRecord::ReadField(const FieldDescriptor&, std::uint16_t number, std::vector<std::uint8_t>& bytes) const {
    const auto it = values_.find(number);
    if (it == values_.end()) return false;
    bytes = it->second;
    return true;
}

std::unique_ptr<TExpToken> PrepareFilter(const std::string& text, const std::vector<FieldDescriptor>& fields,
                                         const TExpCollation& collation, TFilterPrepareOptions options) {
    auto tree = ParseFilterExpression(text, kTable);
    CheckFilterExpression(tree, fields, kTable);
    NormalizeComparisons(*tree);
    return PrepareFilterExpression(*tree, options, collation, kTable);
}

}  // namespace pixhold::engine::exptest
