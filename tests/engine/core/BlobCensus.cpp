#include "BlobCensus.h"

#include <vector>

#include "BlobFile.h"
#include "DataFile.h"
#include "Record.h"

namespace pixhold::engine::coretest {

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

BlobCensus TakeBlobCensus(TDataTable& table) {
    BlobCensus census;
    if (!table.BlobFileOpen()) return census;
    TBlobFile& blob = table.BlobFile();
    TDataFile& data = table.DataFile();
    table.BeginRead();
    census.blocks = blob.BlockCount();
    // 0: nobody's, 1: a value's, 2: free.
    std::vector<std::uint8_t> holder(census.blocks + 1, 0);
    auto walk = [&](std::uint32_t first, std::uint8_t as, const std::string& what) {
        std::uint32_t count = 0;
        for (std::uint32_t b = first; b != 0;) {
            if (b > census.blocks) {
                census.problems += what + " runs to block " + std::to_string(b) + " beyond the file\n";
                return;
            }
            if (holder[b] != 0) {
                census.problems += what + " runs into block " + std::to_string(b) + ", " +
                                   (holder[b] == 1 ? "a value's" : "a free one") + "\n";
                return;
            }
            holder[b] = as;
            ++count;
            TBlock* block = blob.GetBlock(nullptr, b);
            b = block->Header.next;
            blob.ReleaseBlock(block);
        }
        (as == 1 ? census.inValues : census.free) += count;
    };
    for (std::uint32_t n = 1; n <= data.PhysicalRecordCount(); ++n) {
        TRecord* record = data.GetRecord(nullptr, n);
        std::vector<std::uint32_t> firsts;
        if (!record->IsDeleted()) {
            for (const FieldDescriptor& f : data.Fields()) {
                if (f.type != fieldtype::Blob || record->FieldIsNull(f)) continue;
                const auto slot = record->FieldData(f);
                if (slot.size() >= 8) firsts.push_back(Le32(slot.data()));
            }
        }
        data.ReleaseRecord(record);
        for (std::uint32_t first : firsts) walk(first, 1, "the value of record " + std::to_string(n));
    }
    walk(blob.Header().firstFreeBlock, 2, "the free chain");
    table.EndRead();
    census.neither = census.blocks - census.inValues - census.free;
    return census;
}

}  // namespace pixhold::engine::coretest
