#include "TableDefinitionCheck.h"

#include <unicode/unistr.h>

#include <set>

#include "BlobFormat.h"
#include "EngineError.h"
#include "FileName.h"
#include "IndexKey.h"
#include "TableLocale.h"
#include "ValueText.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

bool ValidFirstCharacter(const std::string& name) {
    if (name.empty()) return false;
    const auto c = static_cast<unsigned char>(name[0]);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

std::string Folded(const std::string& text) { return FoldCase(text); }

bool IsTextField(const FieldDescriptor& f) {
    return f.type == fieldtype::String || (f.type == fieldtype::Blob && f.subtype == fieldsubtype::Memo);
}

void SetBit(std::array<std::uint8_t, 32>& set, unsigned c) { set[c / 8] |= static_cast<std::uint8_t>(1u << (c % 8)); }

class TDefinitionChecker {
public:
    TDefinitionChecker(TableDefinition definition, std::string table)
        : d_(std::move(definition)), table_(std::move(table)) {}

    TableDefinition Run() {
        CheckParams();
        CheckFields();
        CheckIndexes();
        return std::move(d_);
    }

private:
    [[noreturn]] void Fail(std::uint16_t code, const std::string& field = {}, const std::string& index = {}) const {
        RaiseEngineError(code, ErrorContext{.table = table_, .field = field, .index = index});
    }

    void CheckParams() {
        const TableParams& p = d_.params;
        if (p.encrypted) {
            const std::string password = TrimBlanks(p.password);
            if (password.empty() || password.size() > datafile::kPasswordLength) Fail(err::InvalidPassword);
        }
        if (p.languageID != 0) {
            const std::uint32_t locale =
                static_cast<std::uint32_t>(p.languageID) | (static_cast<std::uint32_t>(p.sortID) << 16);
            if (!TableLocale::IsInstalled(locale)) Fail(err::LanguageNotAvailable);
        }
        if (d_.fields.size() > datafile::kMaxFields) Fail(err::FieldLimits);
        if (p.blobBlockSize != 0 && p.blobBlockSize < blobfile::kMinBlockSize) Fail(err::BlobFieldLimits);
    }

    void CheckFields() {
        std::set<std::string> names;
        std::set<int> numbers;
        for (FieldDescriptor& f : d_.fields) {
            f.name = TrimBlanks(f.name).substr(0, datafile::kFieldNameLength);
            if (!ValidFirstCharacter(f.name) || !names.insert(Folded(f.name)).second)
                Fail(err::InvalidFieldName, f.name);
            // Fields without a number are numbered by their position.
            if (f.number != 0 && !numbers.insert(f.number).second) Fail(err::InvalidFieldDefinition, f.name);
            if (f.type == fieldtype::Invalid) Fail(err::InvalidFieldDefinition, f.name);
            if (TypeHasDeclaredSize(f.type) && (f.size < 1 || f.size > 250)) Fail(err::InvalidFieldDefinition, f.name);
            if (!CheckValueText(f.type, f.defaultValue) || !CheckValueText(f.type, f.minimum) ||
                !CheckValueText(f.type, f.maximum))
                Fail(err::InvalidValidityCheck, f.name);
        }
    }

    const FieldDescriptor* FieldByNumber(int number) const {
        for (std::size_t i = 0; i < d_.fields.size(); ++i) {
            const FieldDescriptor& f = d_.fields[i];
            const int n = f.number != 0 ? f.number : static_cast<int>(i + 1);
            if (n == number) return &f;
        }
        return nullptr;
    }

    // Σ (key size + 1) over the index's fields, checked one by one.
    int CheckIndexFields(const IndexDescriptor& index, bool text) const {
        if (index.fieldCount > kMaxIndexFields) Fail(err::IndexLimits, {}, index.name);
        int bytes = 0;
        for (int i = 0; i < index.fieldCount; ++i) {
            const int number = index.fieldNumbers[static_cast<std::size_t>(i)];
            const FieldDescriptor* f = number == 0 ? nullptr : FieldByNumber(number);
            if (f == nullptr) Fail(err::InvalidIndexFieldNumber, {}, index.name);
            if (text ? !IsTextField(*f) : f->type == fieldtype::Blob) Fail(err::InvalidIndexField, f->name, index.name);
            bytes += KeySizeOf(*f) + 1;
        }
        return bytes;
    }

    void CheckIndexes() {
        if (d_.indexes.size() > static_cast<std::size_t>(kMaxSecondaryIndexes) + 1) Fail(err::IndexLimits);
        std::set<std::string> names;
        for (std::size_t i = 0; i < d_.indexes.size(); ++i) {
            IndexDescriptor& index = d_.indexes[i];
            const bool primary = i == 0;
            if (primary) {
                index.name.clear();
                index.unique = true;
            } else {
                index.name = TrimBlanks(index.name).substr(0, kMaxIndexNameLength);
                if (!ValidFirstCharacter(index.name)) Fail(err::InvalidIndexName, {}, index.name);
                if (!names.insert(Folded(index.name)).second) Fail(err::IndexExists, {}, index.name);
            }
            const int bytes = CheckIndexFields(index, false);
            const int keyLength = bytes + (index.unique ? 0 : 4);
            if (keyLength > kMaxKeyFieldBytes || (!primary && bytes == 0)) Fail(err::InvalidKeySize, {}, index.name);
        }
        if (d_.textIndex && d_.textIndex->fieldCount != 0) CheckIndexFields(*d_.textIndex, true);
    }

    TableDefinition d_;
    std::string table_;
};

}  // namespace

TableDefinition CheckTableDefinition(const TableDefinition& definition, const std::string& tableName) {
    return TDefinitionChecker(definition, tableName).Run();
}

TextIndexParameters DefaultTextIndexParameters() {
    TextIndexParameters p;
    p.stopWords = {"A",  "AN", "AND",  "BE",   "FOR",  "HOW",  "IN",    "IS",  "IT",   "OF",    "ON",
                   "OR", "THAT", "THE", "THIS", "TO",   "WAS",  "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
    for (unsigned c = 1; c <= 32; ++c) SetBit(p.spaceCharacters, c);
    for (const char c : std::string("*+,-./:;<=>\\`")) SetBit(p.spaceCharacters, static_cast<unsigned char>(c));
    for (unsigned c = '0'; c <= '9'; ++c) SetBit(p.includeCharacters, c);
    for (unsigned c = 'A'; c <= 'Z'; ++c) SetBit(p.includeCharacters, c);
    for (unsigned c = 'a'; c <= 'z'; ++c) SetBit(p.includeCharacters, c);
    SetBit(p.includeCharacters, '_');
    for (unsigned c = 128; c <= 254; ++c) SetBit(p.includeCharacters, c);
    return p;
}

}  // namespace pixhold::engine
