#include "RecordsBitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <set>
#include <vector>

namespace pixhold::engine {
namespace {

using Model = std::set<std::uint32_t>;

std::uint32_t ModelNext(const Model& model, std::uint32_t from) {
    auto it = model.lower_bound(from == 0 ? 1 : from);
    return it == model.end() ? 0 : *it;
}

std::uint32_t ModelPrev(const Model& model, std::uint32_t from) {
    auto it = model.upper_bound(from);
    return it == model.begin() ? 0 : *std::prev(it);
}

// Compares every observable of the bitmap with the model.
void ExpectMatches(const TRecordsBitmap& bitmap, const Model& model) {
    ASSERT_EQ(bitmap.Size() % 32, 0u);
    ASSERT_EQ(bitmap.Count(), model.size());
    ASSERT_EQ(bitmap.Empty(), model.empty());
    std::vector<std::uint32_t> forward;
    for (std::uint32_t n = bitmap.FirstSet(); n != 0; n = bitmap.NextSet(n + 1)) forward.push_back(n);
    ASSERT_EQ(forward, std::vector<std::uint32_t>(model.begin(), model.end()));
    std::vector<std::uint32_t> backward;
    for (std::uint32_t n = bitmap.LastSet(); n != 0; n = bitmap.PrevSet(n - 1)) backward.push_back(n);
    ASSERT_EQ(backward, std::vector<std::uint32_t>(model.rbegin(), model.rend()));
    if (!model.empty()) {
        ASSERT_LT(*model.rbegin(), bitmap.Size());
    }
}

TRecordsBitmap FromModel(const Model& model, std::uint64_t size) {
    TRecordsBitmap bitmap(size);
    for (std::uint32_t n : model) bitmap.Set(n);
    return bitmap;
}

TEST(TRecordsBitmap, RandomOperationsAgreeWithASetModel) {
    std::mt19937 random(20261209);
    for (std::uint32_t universe : {70u, 300u, 5000u}) {
        SCOPED_TRACE(universe);
        TRecordsBitmap bitmap(std::uniform_int_distribution<std::uint32_t>(0, 200)(random));
        Model model;
        std::uniform_int_distribution<std::uint32_t> record(0, universe);
        std::uniform_int_distribution<int> operation(0, 99);
        for (int step = 0; step < 20000; ++step) {
            const int op = operation(random);
            const std::uint32_t n = record(random);
            if (op < 30) {
                bitmap.Set(n);
                if (n != 0) model.insert(n);
                ASSERT_TRUE(bitmap.Test(n) || n == 0);
            } else if (op < 45) {
                bitmap.Clear(n);
                model.erase(n);
            } else if (op < 60) {
                ASSERT_EQ(bitmap.Test(n), model.count(n) == 1) << n;
            } else if (op < 70) {
                ASSERT_EQ(bitmap.NextSet(n), ModelNext(model, n)) << n;
                ASSERT_EQ(bitmap.PrevSet(n), ModelPrev(model, n)) << n;
            } else if (op < 76) {
                const auto rank = static_cast<std::uint32_t>(
                    std::distance(model.begin(), model.upper_bound(n)));
                ASSERT_EQ(bitmap.CountThrough(n), rank) << n;
                const std::uint32_t k = n % (static_cast<std::uint32_t>(model.size()) + 2);
                const std::uint32_t expected =
                    (k == 0 || k > model.size()) ? 0 : *std::next(model.begin(), k - 1);
                ASSERT_EQ(bitmap.NthSet(k), expected) << k;
            } else if (op < 80) {
                // Resize as the table does before each use; rounding keeps a few extra positions.
                bitmap.Resize(n);
                const std::uint32_t kept = (n + 31) / 32 * 32;
                model.erase(model.lower_bound(kept), model.end());
                ASSERT_EQ(bitmap.Size(), kept);
            } else if (op < 95) {
                // Combine with a random second bitmap of its own size.
                Model other;
                const std::uint32_t otherSize = record(random);
                for (int i = 0; i < 40; ++i) {
                    const std::uint32_t m = record(random) % (otherSize + 1);
                    if (m != 0) other.insert(m);
                }
                const TRecordsBitmap otherBitmap = FromModel(other, otherSize);
                Model result;
                if (op < 85) {
                    bitmap.And(otherBitmap);
                    for (std::uint32_t m : model)
                        if (other.count(m)) result.insert(m);
                } else if (op < 90) {
                    bitmap.AndNot(otherBitmap);
                    for (std::uint32_t m : model)
                        if (!other.count(m)) result.insert(m);
                } else {
                    bitmap.Or(otherBitmap);
                    result = model;
                    result.insert(other.begin(), other.end());
                }
                model = result;
            } else if (op < 98) {
                TRecordsBitmap copy(7);
                copy.Set(3);
                copy.CopyFrom(bitmap);
                ASSERT_EQ(copy.Size(), bitmap.Size());
                ASSERT_TRUE(copy == bitmap);
                ExpectMatches(copy, model);
            } else {
                bitmap.ClearAll();
                model.clear();
            }
            if (step % 500 == 0) ExpectMatches(bitmap, model);
        }
        ExpectMatches(bitmap, model);
    }
}

TEST(TRecordsBitmap, StartsWithRoomFor8192RecordsAndRoundsSizesTo32) {
    EXPECT_EQ(TRecordsBitmap().Size(), 8192u);
    TRecordsBitmap bitmap(0);
    EXPECT_EQ(bitmap.Size(), 0u);
    bitmap.Resize(1);
    EXPECT_EQ(bitmap.Size(), 32u);
    bitmap.Resize(32);
    EXPECT_EQ(bitmap.Size(), 32u);
    bitmap.Resize(33);
    EXPECT_EQ(bitmap.Size(), 64u);
    bitmap.Resize(65);
    EXPECT_EQ(bitmap.Size(), 96u);
}

TEST(TRecordsBitmap, EmptyBitmapAnswersNone) {
    for (std::uint64_t size : {0u, 32u, 8192u}) {
        const TRecordsBitmap bitmap(size);
        EXPECT_EQ(bitmap.Count(), 0u);
        EXPECT_TRUE(bitmap.Empty());
        EXPECT_EQ(bitmap.FirstSet(), 0u);
        EXPECT_EQ(bitmap.LastSet(), 0u);
        EXPECT_EQ(bitmap.NextSet(0), 0u);
        EXPECT_EQ(bitmap.PrevSet(UINT32_MAX), 0u);
        EXPECT_EQ(bitmap.NthSet(1), 0u);
        EXPECT_EQ(bitmap.CountThrough(UINT32_MAX), 0u);
        EXPECT_FALSE(bitmap.Test(1));
        EXPECT_FALSE(bitmap.Test(UINT32_MAX));
    }
}

TEST(TRecordsBitmap, RecordZeroIsNeverSet) {
    TRecordsBitmap bitmap(64);
    bitmap.Set(0);
    EXPECT_FALSE(bitmap.Test(0));
    EXPECT_TRUE(bitmap.Empty());
    bitmap.Set(1);
    EXPECT_EQ(bitmap.NextSet(0), 1u);
    EXPECT_EQ(bitmap.PrevSet(0), 0u);
    EXPECT_EQ(bitmap.PrevSet(1), 1u);
}

TEST(TRecordsBitmap, SearchesCrossWordBoundaries) {
    // Records on both sides of the 64-bit word boundaries.
    const std::vector<std::uint32_t> records = {1, 63, 64, 65, 127, 128, 129, 191, 192};
    for (std::uint32_t record : records) {
        SCOPED_TRACE(record);
        TRecordsBitmap bitmap(256);
        bitmap.Set(record);
        EXPECT_TRUE(bitmap.Test(record));
        EXPECT_FALSE(bitmap.Test(record - 1));
        EXPECT_FALSE(bitmap.Test(record + 1));
        EXPECT_EQ(bitmap.Count(), 1u);
        EXPECT_EQ(bitmap.NextSet(1), record);
        EXPECT_EQ(bitmap.NextSet(record), record);
        EXPECT_EQ(bitmap.NextSet(record + 1), 0u);
        EXPECT_EQ(bitmap.PrevSet(255), record);
        EXPECT_EQ(bitmap.PrevSet(record), record);
        EXPECT_EQ(bitmap.PrevSet(record - 1), 0u);
        EXPECT_EQ(bitmap.CountThrough(record - 1), 0u);
        EXPECT_EQ(bitmap.CountThrough(record), 1u);
        EXPECT_EQ(bitmap.NthSet(1), record);
        bitmap.Clear(record);
        EXPECT_TRUE(bitmap.Empty());
    }
    TRecordsBitmap pair(256);
    pair.Set(63);
    pair.Set(129);
    EXPECT_EQ(pair.NextSet(64), 129u);
    EXPECT_EQ(pair.PrevSet(128), 63u);
    EXPECT_EQ(pair.NthSet(2), 129u);
    EXPECT_EQ(pair.NthSet(3), 0u);
}

TEST(TRecordsBitmap, SetGrowsAndTheRestOutsideTheSizeIsHarmless) {
    TRecordsBitmap bitmap(0);
    bitmap.Set(65);
    EXPECT_GE(bitmap.Size(), 66u);
    EXPECT_TRUE(bitmap.Test(65));
    bitmap.Set(100000);
    EXPECT_GT(bitmap.Size(), 100000u);
    EXPECT_TRUE(bitmap.Test(65));
    EXPECT_TRUE(bitmap.Test(100000));
    EXPECT_EQ(bitmap.Count(), 2u);
    EXPECT_EQ(bitmap.LastSet(), 100000u);
    // Clearing and testing beyond the size change nothing.
    bitmap.Clear(UINT32_MAX);
    EXPECT_FALSE(bitmap.Test(UINT32_MAX));
    EXPECT_EQ(bitmap.NextSet(UINT32_MAX), 0u);
    EXPECT_EQ(bitmap.PrevSet(UINT32_MAX), 100000u);
}

TEST(TRecordsBitmap, ShrinkDropsRecordsAndRegrowingDoesNotBringThemBack) {
    TRecordsBitmap bitmap(256);
    for (std::uint32_t n : {5u, 31u, 32u, 40u, 200u}) bitmap.Set(n);
    bitmap.Resize(33);  // rounds to 64 positions: 0 .. 63
    EXPECT_EQ(bitmap.Count(), 4u);
    bitmap.Resize(20);  // 32 positions: 0 .. 31
    EXPECT_EQ(bitmap.Count(), 2u);
    bitmap.Resize(256);
    EXPECT_FALSE(bitmap.Test(32));
    EXPECT_FALSE(bitmap.Test(40));
    EXPECT_FALSE(bitmap.Test(200));
    EXPECT_EQ(bitmap.LastSet(), 31u);
}

TEST(TRecordsBitmap, CombiningWithBitmapsOfOtherSizes) {
    TRecordsBitmap large(512);
    for (std::uint32_t n : {1u, 40u, 100u, 400u}) large.Set(n);
    TRecordsBitmap small(64);
    small.Set(1);
    small.Set(41);

    TRecordsBitmap anded(0);
    anded.CopyFrom(large);
    anded.And(small);  // 100 and 400 lie beyond the smaller set: cleared
    EXPECT_EQ(anded.Count(), 1u);
    EXPECT_TRUE(anded.Test(1));

    TRecordsBitmap notted(0);
    notted.CopyFrom(large);
    notted.AndNot(small);  // records beyond the smaller set stay
    EXPECT_EQ(notted.Count(), 3u);
    EXPECT_FALSE(notted.Test(1));
    EXPECT_TRUE(notted.Test(400));

    TRecordsBitmap ored(0);
    ored.CopyFrom(small);
    ored.Or(large);
    EXPECT_GE(ored.Size(), 512u);
    EXPECT_EQ(ored.Count(), 5u);

    TRecordsBitmap smallAnd(64);
    smallAnd.Set(40);
    smallAnd.And(large);
    EXPECT_EQ(smallAnd.Size(), 64u);
    EXPECT_TRUE(smallAnd.Test(40));

    // Equality looks at the records only.
    TRecordsBitmap same(4096);
    same.Set(1);
    same.Set(41);
    EXPECT_TRUE(same == small);
    same.Set(4000);
    EXPECT_FALSE(same == small);
}

TEST(TRecordsBitmap, CopyIsIndependent) {
    TRecordsBitmap original(128);
    original.Set(7);
    TRecordsBitmap copy(8192);
    copy.Set(5000);
    copy.CopyFrom(original);
    EXPECT_EQ(copy.Size(), 128u);
    EXPECT_FALSE(copy.Test(5000));
    copy.Set(8);
    EXPECT_FALSE(original.Test(8));
    copy.CopyFrom(copy);
    EXPECT_EQ(copy.Count(), 2u);
}

TEST(TRecordsBitmap, MillionRecordsAreWalkedQuickly) {
    constexpr std::uint32_t kRecords = 1000000;
    TRecordsBitmap bitmap(kRecords + 1);
    for (std::uint32_t n = 3; n <= kRecords; n += 3) bitmap.Set(n);
    EXPECT_EQ(bitmap.Count(), kRecords / 3);
    std::uint32_t visited = 0;
    for (std::uint32_t n = bitmap.FirstSet(); n != 0; n = bitmap.NextSet(n + 1)) ++visited;
    EXPECT_EQ(visited, kRecords / 3);
    EXPECT_EQ(bitmap.LastSet(), 999999u);
    EXPECT_EQ(bitmap.CountThrough(kRecords), kRecords / 3);
    EXPECT_EQ(bitmap.NthSet(kRecords / 3), 999999u);
    // A sparse set over a large table: the search skips whole words.
    TRecordsBitmap sparse(kRecords + 1);
    sparse.Set(kRecords);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(sparse.NextSet(1), kRecords);
}

}  // namespace
}  // namespace pixhold::engine
