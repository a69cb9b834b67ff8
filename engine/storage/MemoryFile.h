#pragma once

#include <vector>

#include "AbstractFile.h"

namespace pixhold::engine {

// A file held wholly in memory (the files of an in-memory table). Each handle
// has its own position. The buffer grows in 4096-byte steps and new bytes are
// zero. The contents survive the last close; only a delete drops them.
class TMemoryFile : public TAbstractFile {
public:
    static constexpr std::size_t kGrowStep = 4096;

    explicit TMemoryFile(std::string name);

    std::int64_t GetSize() override;
    int CreateFile() override;
    std::int64_t Read(std::uint32_t handle, void* buffer, std::size_t count) override;
    std::int64_t Write(std::uint32_t handle, const void* buffer, std::size_t count) override;
    // One transfer of all the pieces, as for physical files: one lookup of the
    // handle, and a fault plan sees one read or one write.
    std::int64_t ReadPieces(std::uint32_t handle, const TBufferPiece* pieces, std::size_t pieceCount) override;
    std::int64_t WritePieces(std::uint32_t handle, const TConstBufferPiece* pieces, std::size_t pieceCount) override;

    std::size_t Capacity() const { return buffer_.size(); }

private:
    // Makes the buffer cover `size` bytes; false when memory runs out.
    bool Reserve(std::size_t size);

    std::vector<unsigned char> buffer_;
    std::int64_t size_ = 0;
};

}  // namespace pixhold::engine
