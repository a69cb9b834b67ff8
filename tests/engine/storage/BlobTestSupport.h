#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BlobBuffer.h"
#include "BlobFile.h"
#include "FileTestHelpers.h"
#include "TableContext.h"
#include "TempDir.h"

namespace pixhold::engine::test {

using Bytes = std::vector<std::uint8_t>;

// The table that owns the BLOB file, reduced to what the file asks of it.
class FakeTableOwner : public TTableOwner {
public:
    bool TransactionLockHeld() const override { return transactionLock; }
    bool WrittenTo() const override { return written; }
    void MarkWrittenTo() override { written = true; }
    bool ForceBufferFlush() const override { return forceFlush; }

    bool transactionLock = false;
    bool written = false;
    bool forceFlush = false;
};

// A cursor that keeps the message log and can pretend that another user
// changed the table on the next cache misses.
class FakeCursor : public TCursorContext {
public:
    void LogMessage(const std::string& text) override { messages.push_back(text); }
    bool CheckForChanges() override {
        ++checks;
        if (refreshesLeft == 0) return false;
        --refreshesLeft;
        return true;
    }

    std::vector<std::string> messages;
    int refreshesLeft = 0;
    int checks = 0;
};

inline Bytes RandomBytes(std::size_t length, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(length);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

// A BLOB file in a fresh folder, with helpers to store and load whole values.
class BlobFileFixture : public ::testing::Test {
protected:
    std::string Path() const { return (dir / "Pictures.Blb").string(); }

    void Create(std::uint32_t blockSize = 512, bool encrypted = false, bool inMemory = false) {
        blockSize_ = blockSize;
        encrypted_ = encrypted;
        inMemory_ = inMemory;
        file = MakeFile();
        file->CreateFile();
        file->WriteHeader();
    }

    std::unique_ptr<TBlobFile> MakeFile() {
        auto made = std::make_unique<TBlobFile>(owner);
        made->Name = Path();
        made->InMemory = inMemory_;
        made->SetBlockSize(blockSize_);
        made->SetEncrypted(encrypted_);
        return made;
    }

    // Writes everything out, as the table does after a change.
    void Flush() {
        file->FlushBlocks();
        file->WriteHeader();
    }

    void Reopen() {
        Flush();
        file->CloseFile();
        file = MakeFile();
        file->OpenFile();
    }

    struct Ref {
        std::uint32_t first = 0;
        std::uint32_t owner = 0;
    };

    Ref Store(const Bytes& value, Ref ref, std::uint32_t newOwner) {
        TBlobBuffer buffer(*file, &cursor, 1, ref.first, ref.owner, 1);
        buffer.SetBlobSize(value.size());
        if (!value.empty()) std::copy(value.begin(), value.end(), buffer.Data());
        buffer.WriteBlob(newOwner);
        return {buffer.FirstBlock(), buffer.OwnerID()};
    }

    Bytes Load(Ref ref) {
        TBlobBuffer buffer(*file, &cursor, 1, ref.first, ref.owner, 1);
        buffer.ReadBlob();
        return buffer.Value();
    }

    void Delete(Ref& ref) {
        TBlobBuffer buffer(*file, &cursor, 1, ref.first, ref.owner, 1);
        buffer.DeleteBlob();
        ref.first = buffer.FirstBlock();
    }

    // The block's header fields as the cache sees them.
    BlobBlockHeader HeaderOf(std::uint32_t block) {
        TBlock* b = file->GetBlock(nullptr, block);
        BlobBlockHeader h = b->Header;
        file->ReleaseBlock(b);
        return h;
    }

    // Block numbers of the free chain, head first (stops at a repeat).
    std::vector<std::uint32_t> FreeChain() {
        std::vector<std::uint32_t> chain;
        for (std::uint32_t n = file->Header().firstFreeBlock; n != 0 && chain.size() <= file->BlockCount();
             n = HeaderOf(n).next) {
            chain.push_back(n);
        }
        return chain;
    }

    // Block numbers of a value's chain, first first (stops at a repeat).
    std::vector<std::uint32_t> ValueChain(std::uint32_t first) {
        std::vector<std::uint32_t> chain;
        for (std::uint32_t n = first; n != 0 && chain.size() <= file->BlockCount(); n = HeaderOf(n).next) {
            chain.push_back(n);
        }
        return chain;
    }

    pixhold::test::TempDir dir;
    FakeTableOwner owner;
    FakeCursor cursor;
    std::unique_ptr<TBlobFile> file;

private:
    std::uint32_t blockSize_ = 512;
    bool encrypted_ = false;
    bool inMemory_ = false;
};

}  // namespace pixhold::engine::test
