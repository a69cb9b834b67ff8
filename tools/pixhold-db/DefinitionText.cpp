#include "DefinitionText.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

#include "FieldTypes.h"
#include "IndexHeader.h"
#include "ToolError.h"

namespace pixhold::tools {

using engine::FieldDescriptor;
using engine::IndexDescriptor;

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

bool Is(const std::string& text, const char* word) { return strcasecmp(text.c_str(), word) == 0; }

// Field numbers (from 1) of "FIELD;FIELD", by name without regard to case.
void SetIndexFields(IndexDescriptor& index, const std::string& list, const std::vector<FieldDescriptor>& fields,
                    const std::string& what) {
    const std::vector<std::string> names = Split(list, ';');
    if (names.size() > static_cast<std::size_t>(engine::kMaxIndexFields))
        throw ToolError(what + ": at most " + std::to_string(engine::kMaxIndexFields) + " fields");
    index.fieldCount = static_cast<std::uint8_t>(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::size_t number = 0;
        for (std::size_t f = 0; f < fields.size() && number == 0; ++f)
            if (!names[i].empty() && Is(fields[f].name, names[i].c_str())) number = f + 1;
        if (number == 0) throw ToolError(what + ": no field '" + names[i] + "' (define it with --field first)");
        index.fieldNumbers[i] = static_cast<std::uint16_t>(number);
    }
}

}  // namespace

long ParseNumber(const std::string& text, long low, long high, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw ToolError(what + " must be a number from " + std::to_string(low) + " to " + std::to_string(high) +
                        ", not '" + text + "'");
    return value;
}

FieldDescriptor ParseFieldText(const std::string& text) {
    const std::vector<std::string> parts = Split(text, ':');
    const std::string what = "--field '" + text + "'";
    if (parts.size() < 2 || parts[0].empty()) throw ToolError(what + ": expected NAME:TYPE[:SIZE][:required]");
    const auto type = FieldTypeByName(parts[1]);
    if (!type) throw ToolError(what + ": unknown type '" + parts[1] + "' (known: " + KnownFieldTypeNames() + ")");
    FieldDescriptor field;
    field.name = parts[0];
    field.type = type->type;
    field.subtype = type->subtype;
    std::size_t next = 2;
    if (field.type == engine::fieldtype::String) {
        if (parts.size() < 3) throw ToolError(what + ": a string field needs a SIZE (NAME:string:SIZE)");
        field.size = static_cast<std::uint8_t>(ParseNumber(parts[2], 1, 250, what + ": SIZE"));
        next = 3;
    }
    for (; next < parts.size(); ++next) {
        if (Is(parts[next], "required")) field.required = 1;
        else throw ToolError(what + ": unexpected '" + parts[next] + "' (only strings take a SIZE; flag: required)");
    }
    return field;
}

IndexDescriptor ParsePrimaryText(const std::string& text, const std::vector<FieldDescriptor>& fields) {
    IndexDescriptor index;
    index.unique = true;
    SetIndexFields(index, text, fields, "--primary '" + text + "'");
    return index;
}

IndexDescriptor ParseIndexText(const std::string& text, const std::vector<FieldDescriptor>& fields) {
    const std::vector<std::string> parts = Split(text, ':');
    const std::string what = "--index '" + text + "'";
    if (parts.size() < 2 || parts[0].empty())
        throw ToolError(what + ": expected NAME:FIELD;FIELD[:unique][:descending][:nocase][:compression=N]");
    IndexDescriptor index;
    index.name = parts[0];
    SetIndexFields(index, parts[1], fields, what);
    for (std::size_t i = 2; i < parts.size(); ++i) {
        const std::string& flag = parts[i];
        if (Is(flag, "unique")) index.unique = true;
        else if (Is(flag, "descending")) index.descending = true;
        else if (Is(flag, "nocase")) index.caseInsensitive = true;
        else if (flag.size() > 12 && strncasecmp(flag.c_str(), "compression=", 12) == 0)
            index.compression = static_cast<std::uint8_t>(ParseNumber(flag.substr(12), 0, 3, what + ": compression"));
        else
            throw ToolError(what + ": unknown flag '" + flag + "' (unique, descending, nocase, compression=N)");
    }
    return index;
}

engine::TableDefinition BuildTableDefinition(const CreateOptions& options) {
    engine::TableDefinition definition;
    if (options.fields.empty()) throw ToolError("create: at least one --field is needed");
    for (const std::string& text : options.fields) definition.fields.push_back(ParseFieldText(text));
    definition.indexes.push_back(options.primary.empty() ? IndexDescriptor{}
                                                         : ParsePrimaryText(options.primary, definition.fields));
    for (const std::string& text : options.indexes)
        definition.indexes.push_back(ParseIndexText(text, definition.fields));
    if (!options.password.empty()) {
        definition.params.encrypted = true;
        definition.params.password = options.password;
    }
    if (!options.blockSize.empty())
        definition.params.blobBlockSize =
            static_cast<std::uint16_t>(ParseNumber(options.blockSize, 64, 65535, "--block-size"));
    if (!options.locale.empty()) {
        const long locale = ParseNumber(options.locale, 0, 0x7FFFFFFF, "--locale");
        definition.params.languageID = static_cast<std::uint16_t>(locale & 0xFFFF);
        definition.params.sortID = static_cast<std::uint16_t>(locale >> 16);
    }
    return definition;
}

}  // namespace pixhold::tools
