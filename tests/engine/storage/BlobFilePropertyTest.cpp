#include <gtest/gtest.h>

#include <map>
#include <random>

#include "BlobTestSupport.h"
#include "EngineError.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;

namespace {

struct Setting {
    const char* name;
    std::uint32_t blockSize;
    bool encrypted;
    bool inMemory;
};

class BlobProperty : public BlobFileFixture, public ::testing::WithParamInterface<Setting> {
protected:
    struct Slot {
        Ref ref;
        Bytes value;
    };

    // Every block is in exactly one value chain or in the free chain; each
    // chain is linked both ways, carries its owner and holds its value's bytes.
    void CheckStructure(const std::map<int, Slot>& slots) {
        const std::uint32_t count = file->BlockCount();
        ASSERT_EQ(file->Header().nextBlockNumber, count + 1);
        const std::uint32_t ds = file->BlockDataSize();
        std::vector<int> uses(count + 1, 0);
        for (const auto& [id, slot] : slots) {
            SCOPED_TRACE("slot " + std::to_string(id));
            if (slot.value.empty()) {
                ASSERT_EQ(slot.ref.first, 0u) << "an empty value occupies no blocks";
                continue;
            }
            const std::size_t blocks = (slot.value.size() + ds - 1) / ds;
            std::uint32_t n = slot.ref.first;
            std::uint32_t previous = 0;
            for (std::size_t i = 0; i < blocks; ++i) {
                ASSERT_GE(n, 1u);
                ASSERT_LE(n, count);
                ASSERT_EQ(++uses[n], 1) << "block " << n << " used twice";
                TBlock* block = file->GetBlock(nullptr, n);
                const BlobBlockHeader h = block->Header;
                const std::size_t part = std::min<std::size_t>(ds, slot.value.size() - i * ds);
                const bool same = std::equal(block->Data(), block->Data() + part, slot.value.begin() + i * ds);
                file->ReleaseBlock(block);
                EXPECT_EQ(h.previous, previous);
                EXPECT_EQ(h.owner, slot.ref.owner);
                EXPECT_EQ(h.totalSize, i == 0 ? slot.value.size() : 0u);
                EXPECT_EQ(h.bytesUsed, part);
                EXPECT_TRUE(same) << "data of block " << n;
                previous = n;
                n = h.next;
            }
            ASSERT_EQ(n, 0u) << "the chain ends with its last block";
        }
        std::uint32_t n = file->Header().firstFreeBlock;
        while (n != 0) {
            ASSERT_LE(n, count);
            ASSERT_EQ(++uses[n], 1) << "free block " << n << " also used elsewhere";
            n = HeaderOf(n).next;
        }
        for (std::uint32_t b = 1; b <= count; ++b) ASSERT_EQ(uses[b], 1) << "block " << b << " lost";
    }

    void CheckFileLength() {
        if (GetParam().inMemory) return;
        ASSERT_EQ(ReadDiskFile(Path()).size(),
                  512u + static_cast<std::size_t>(file->BlockCount()) * GetParam().blockSize);
    }
};

TEST_P(BlobProperty, RandomWritesResizesAndDeletesKeepValuesAndChainsSound) {
    const Setting s = GetParam();
    Create(s.blockSize, s.encrypted, s.inMemory);
    std::mt19937 random(20261209);
    std::map<int, Slot> slots;
    std::uint32_t nextOwner = 1;
    const std::uint32_t ds = file->BlockDataSize();

    auto randomLength = [&]() -> std::size_t {
        const int kind = static_cast<int>(random() % 20);
        if (kind == 0) return 0;
        if (kind < 12) return random() % (3 * ds + 2);
        if (kind < 19) return random() % (40 * ds);
        return random() % std::min<std::size_t>(600 * ds, 300000);
    };

    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int id = static_cast<int>(random() % 10);
        const int op = static_cast<int>(random() % 10);
        Slot& slot = slots[id];
        if (op < 4) {
            slot.value = RandomBytes(randomLength(), random());
            slot.ref = Store(slot.value, slot.ref, nextOwner++);
        } else if (op < 7) {
            // Resize: keep the bytes that remain, add new ones.
            const std::size_t length = randomLength();
            const std::size_t old = slot.value.size();
            slot.value.resize(length);
            for (std::size_t i = old; i < length; ++i) slot.value[i] = static_cast<std::uint8_t>(random());
            slot.ref = Store(slot.value, slot.ref, nextOwner++);
        } else if (op < 8) {
            Delete(slot.ref);
            slot.value.clear();
        } else {
            ASSERT_EQ(Load(slot.ref), slot.value);
        }
        if (step % 37 == 36) {
            // A stretch inside a transaction: changes stay in the cache.
            owner.transactionLock = !owner.transactionLock;
            if (!owner.transactionLock) Flush();
        }
        if (step % 50 == 49 && !owner.transactionLock) {
            Reopen();
            CheckFileLength();
        }
        if (step % 3 == 0) {
            CheckStructure(slots);
            if (HasFatalFailure()) return;
        }
    }
    owner.transactionLock = false;
    Reopen();
    CheckFileLength();
    CheckStructure(slots);
    for (const auto& [id, slot] : slots) EXPECT_EQ(Load(slot.ref), slot.value) << "slot " << id;
    if (s.inMemory) {
        file->CloseFile();
        file->DeleteFile();
    }
}

INSTANTIATE_TEST_SUITE_P(Blob, BlobProperty,
                         ::testing::Values(Setting{"plain512", 512, false, false},
                                           Setting{"encrypted64", 64, true, false},
                                           Setting{"memory4096", 4096, false, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Large values ---------------------------------------------------------

using BlobLargeValues = BlobFileFixture;

TEST_F(BlobLargeValues, ValuesUpTo16MiBRoundTripExactly) {
    Create();
    const Bytes big = RandomBytes(16 << 20, 1);
    const Bytes four = RandomBytes(4 << 20, 2);
    const Bytes one = RandomBytes((1 << 20) + 1, 3);
    auto a = Store(big, {}, 1);
    const auto b = Store(four, {}, 2);
    EXPECT_EQ(Load(a), big);
    // Shrinking the big value frees most of its blocks; the next value takes
    // them last freed first, so its chain runs downwards.
    a = Store(one, a, 3);
    const Bytes again = RandomBytes(12 << 20, 4);
    const auto c = Store(again, {}, 4);
    Reopen();
    EXPECT_EQ(Load(a), one);
    EXPECT_EQ(Load(b), four);
    EXPECT_EQ(Load(c), again);
    EXPECT_EQ(file->Header().firstFreeBlock != 0, FreeChain().size() > 0);
}

}  // namespace
