#pragma once

#include <cstdint>
#include <vector>

#include "CofferDataSet.h"

namespace pixhold::engine {

enum class TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

// A stream over one BLOB field of a dataset's record buffer. Write modes need
// the dataset in edit or insert state; opening for writing starts the BLOB
// empty. The bytes written reach the table when the dataset posts.
class TCofferBlobStream {
public:
    TCofferBlobStream(TField& field, TBlobStreamMode mode);
    ~TCofferBlobStream();
    TCofferBlobStream(const TCofferBlobStream&) = delete;
    TCofferBlobStream& operator=(const TCofferBlobStream&) = delete;

    // Up to `count` bytes from the position; fewer at the end of the BLOB.
    std::size_t Read(void* buffer, std::size_t count);
    std::size_t Write(const void* buffer, std::size_t count);
    std::uint64_t Seek(std::int64_t offset, TSeekOrigin origin);
    std::uint64_t Position() const { return position_; }
    std::uint64_t Size();

    // The whole BLOB from the start.
    std::vector<std::uint8_t> ReadAll();
    void WriteAll(const std::vector<std::uint8_t>& bytes);

private:
    void OpenBlob();
    std::uint8_t* Buffer() { return dataset_.ActiveBuffer(); }
    [[noreturn]] void Raise(int code) const;

    TCofferDataSet& dataset_;
    TField& field_;
    TBlobStreamMode mode_;
    std::uint64_t position_ = 0;
    bool opened_ = false;
    bool written_ = false;
};

}  // namespace pixhold::engine
