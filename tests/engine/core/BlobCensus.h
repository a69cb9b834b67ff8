#pragma once

#include <cstdint>
#include <string>

#include "DataTable.h"

namespace pixhold::engine::coretest {

// Where each block of a table's BLOB file belongs, found by walking the
// chains of the active records' values and the free chain, independently of
// the table's own checks.
struct BlobCensus {
    std::uint32_t blocks = 0;    // the blocks the header counts
    std::uint32_t inValues = 0;  // held by a value of an active record
    std::uint32_t free = 0;      // on the free chain
    std::uint32_t neither = 0;   // space that nothing can use
    std::string problems;        // a block held twice, a pointer beyond the file
};

// The table must be open; it is read under its read lock.
BlobCensus TakeBlobCensus(TDataTable& table);

}  // namespace pixhold::engine::coretest
