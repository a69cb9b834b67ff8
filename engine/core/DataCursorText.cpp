// The upkeep of the "Sys Text" index by a cursor's changes.

#include "DataCursor.h"
#include "DataTable.h"

namespace pixhold::engine {

bool TDataCursor::UpdateTextIndex(const std::uint8_t* /*old*/, const std::uint8_t* /*image*/,
                                  std::uint32_t /*record*/) {
    if (table_->IndexDefinition(kTextSlot).fieldCount == 0) return false;
    return false;
}

}  // namespace pixhold::engine
