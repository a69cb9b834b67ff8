#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DataFile.h"
#include "IndexFile.h"
#include "IndexHeader.h"

namespace pixhold::engine {

// The header values of a new table.
struct TableParams {
    std::uint16_t languageID = 0;
    std::uint16_t sortID = 0;
    std::uint16_t userMajorVersion = 0;
    std::uint16_t userMinorVersion = 0;
    std::string description;  // at most 50 characters
    bool encrypted = false;
    std::string password;     // at most 15 characters
    // Index pages are always 4096 bytes; the value is accepted for the callers' sake.
    std::uint16_t indexPageSize = 4096;
    std::uint16_t blobBlockSize = 0;  // 0 means 512
};

// Everything the files of a new table are made from. Field descriptors are
// laid out (numbers, physical sizes, offsets) by the create; the first index
// is the primary index (none or one without fields: no primary fields), the
// others are secondary indexes in order.
struct TableDefinition {
    TableParams params;
    std::vector<FieldDescriptor> fields;
    std::vector<IndexDescriptor> indexes;
    std::optional<IndexDescriptor> textIndex;
    std::optional<TextIndexParameters> textIndexParameters;
};

}  // namespace pixhold::engine
