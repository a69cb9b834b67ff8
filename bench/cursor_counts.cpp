// Counting and positioning by record number through a cursor, on a table of
// 10,000 and one of 1,000,000 records, in the same run. Neither reads a
// record: both come from the subtree counts of the index, so the larger table
// should cost about as much as the smaller one (one more tree level at most).
//
//   bench_cursor_counts [folder] [repetitions]
//
// The folder defaults to a fresh one under $TMPDIR (or /tmp). Each figure is
// the mean time of one call in nanoseconds, the best of three rounds of
// `repetitions` calls (default 20000). The cursor runs with the session's
// default cache sizes (two pages per index), as the program's cursors do.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "BTree.h"
#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "IndexKey.h"
#include "Record.h"

namespace fs = std::filesystem;
using namespace pixhold::engine;

namespace {

TableDefinition Definition() {
    TableDefinition d;
    d.fields = {MakeField("Num", fieldtype::Integer), MakeField("Name", fieldtype::String, 12)};
    IndexDescriptor primary;
    primary.unique = true;
    primary.fieldCount = 1;
    primary.fieldNumbers[0] = 1;
    d.indexes.push_back(primary);
    return d;
}

// Creates the table and fills it with records 0 … count − 1 (Num ascending)
// straight through the files, with caches large enough to hold it all.
void MakeTable(const std::string& folder, const std::string& name, std::uint32_t count) {
    TDataSession session;
    TBufferLimits limits;
    limits.dataBufferBytes = 512u << 20;
    limits.dataBufferRecords = 4u << 20;
    limits.indexBufferBytes = 512u << 20;
    session.SetBufferLimits(limits);
    TDataDirectory* dir = session.OpenDataDirectory("Bench", folder);
    TDataTable* table = nullptr;
    if (dir->CreateTable(name, false, Definition(), table) < 0) std::exit(1);
    TDataFile& data = table->DataFile();
    TIndexFile& index = table->IndexFile();
    const TKeyLayout primary = TKeyLayout::For(table->IndexDefinition(kPrimarySlot), kPrimarySlot, table->Fields());
    const TKeyLayout deleted = TKeyLayout::For(table->IndexDefinition(kDeletedSlot), kDeletedSlot, table->Fields());
    const TKeyComparer primaryCompare(primary, data.Header().Locale());
    const TKeyComparer deletedCompare(deleted, data.Header().Locale());
    const TKeyBuilder builder(primary, data.Locale(), true);
    TIndexTree primaryTree(index, kPrimarySlot, primaryCompare);
    TIndexTree deletedTree(index, kDeletedSlot, deletedCompare);
    std::vector<std::uint8_t> key(primary.keyLength);
    std::uint8_t deletedKey[kDeletedKeyLength];
    for (std::uint32_t i = 0; i < count; ++i) {
        TRecord* record = data.AllocateRecord(nullptr);
        std::uint8_t value[4] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                 static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 24)};
        data.PutField(*record, 1, value, 4);
        const std::string text = "r" + std::to_string(i);
        data.PutField(*record, 2, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        builder.Build(record->Data(), key.data());
        TKeyBuilder::BuildDeletedKey(recordlayout::StatusActive, record->RecordID(), deletedKey);
        const std::uint32_t number = record->RecordNumber();
        data.ReleaseRecord(record);
        primaryTree.InsertKey(key.data(), number);
        deletedTree.InsertKey(deletedKey, number);
        index.IncActiveRecords();
    }
    table->RaiseChangeCounters(true, false, true);
    (void)dir->CloseTable(table);
}

// Mean nanoseconds of one call: the best of three rounds.
double NanosPerCall(int repetitions, const std::function<void(int)>& call) {
    double best = 1e300;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < repetitions; ++i) call(i);
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / repetitions);
    }
    return best;
}

struct Figures {
    std::uint32_t records = 0;
    int height = 0;
    double count = 0;
    double refreshCount = 0;
    double recordNo = 0;
    double rangeCount = 0;
};

int TreeHeight(TDataTable& table) {
    int height = 0;
    for (std::uint32_t page = table.IndexFile().GetRootPage(kPrimarySlot); page != 0; ++height) {
        TPageRef ref(table.IndexFile().GetPage(nullptr, kPrimarySlot, page));
        page = ref->IsLeaf() ? 0 : ref->A(1);
    }
    return height;
}

Figures Measure(const std::string& folder, const std::string& name, std::uint32_t records, int repetitions,
                std::uint32_t indexCacheBytes) {
    TDataSession session;
    TBufferLimits limits;
    limits.indexBufferBytes = indexCacheBytes;
    session.SetBufferLimits(limits);
    TDataDirectory* dir = session.OpenDataDirectory("Bench", folder);
    TDataCursor cursor(*dir);
    cursor.TableName = name;
    cursor.OpenCursor();
    Figures f;
    f.records = records;
    f.height = TreeHeight(cursor.Table());
    volatile std::uint32_t sink = 0;

    f.count = NanosPerCall(repetitions, [&](int) { sink = sink + cursor.GetRecordCount(); });
    if (cursor.GetRecordCount() != records) std::fprintf(stderr, "wrong count\n");
    // The same after the cursor re-read everything it keeps (what a change by
    // someone else costs): the count from the root page, and the cursor's
    // place found again by its key.
    cursor.SetToRecordNo(records / 3);
    f.refreshCount = NanosPerCall(repetitions / 4, [&](int) {
        cursor.Refresh();
        sink = sink + cursor.GetRecordCount();
    });

    // Around the middle, so that the descent is a real one each time.
    const std::int64_t middle = records / 2;
    f.recordNo = NanosPerCall(repetitions, [&](int i) {
        const std::int64_t n = middle + ((i & 1) ? records / 4 : -static_cast<std::int64_t>(records / 4)) + (i % 97);
        if (!cursor.SetToRecordNo(n)) std::fprintf(stderr, "not reached\n");
    });
    cursor.SetToRecordNo(middle);
    if (cursor.GetRecordNo() != static_cast<std::uint32_t>(middle)) std::fprintf(stderr, "wrong record number\n");

    // A range over the middle half: both ends found by descents, then counted.
    std::vector<std::uint8_t> low(cursor.RecordSize(), 0);
    std::vector<std::uint8_t> high(cursor.RecordSize(), 0);
    const FieldDescriptor& num = cursor.Fields()[0];
    auto put = [&](std::vector<std::uint8_t>& image, std::uint32_t v) {
        image[num.offset] = 1;
        for (int b = 0; b < 4; ++b) image[num.offset + 1u + static_cast<unsigned>(b)] = static_cast<std::uint8_t>(v >> (8 * b));
    };
    f.rangeCount = NanosPerCall(repetitions / 4, [&](int i) {
        put(low, records / 4 + static_cast<std::uint32_t>(i % 97));
        put(high, records / 4 * 3);
        cursor.SetRange(false, low.data(), 1, high.data(), 1);
        sink = sink + cursor.GetRecordCount();
    });
    cursor.SetRange(false, low.data(), 1, high.data(), 1);
    put(low, records / 4);
    cursor.SetRange(false, low.data(), 1, high.data(), 1);
    if (cursor.GetRecordCount() != records / 2 + 1) std::fprintf(stderr, "wrong range count\n");
    cursor.CloseCursor();
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = pixhold::bench::BenchFolder(argc, argv, "pixhold-cursor-bench-");
    const int repetitions = argc > 2 ? std::max(4, std::atoi(argv[2])) : 20000;
    fs::create_directories(folder);
    const std::string dir = folder.string() + "/";

    const std::uint32_t sizes[] = {10000, 1000000};
    for (std::uint32_t size : sizes) {
        const auto start = std::chrono::steady_clock::now();
        MakeTable(dir, "T" + std::to_string(size), size);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("table of %u records filled in %.1f s\n", size, took.count());
    }
    // The session's default index cache (16 KiB: two pages per index), and
    // one that holds a whole descent (64 KiB: eight pages).
    for (const std::uint32_t cacheBytes : {16384u, 65536u}) {
        std::vector<Figures> results;
        for (std::uint32_t size : sizes)
            results.push_back(Measure(dir, "T" + std::to_string(size), size, repetitions, cacheBytes));
        std::printf("\nindex cache %u KiB\n%-10s %7s %18s %18s %18s %18s\n", cacheBytes / 1024, "records", "height",
                    "GetRecordCount ns", "Refresh+count ns", "SetToRecordNo ns", "range count ns");
        for (const Figures& f : results)
            std::printf("%-10u %7d %18.0f %18.0f %18.0f %18.0f\n", f.records, f.height, f.count, f.refreshCount,
                        f.recordNo, f.rangeCount);
        const Figures& small = results[0];
        const Figures& large = results[1];
        std::printf("ratio 1,000,000 / 10,000: GetRecordCount %.2f, Refresh+count %.2f, SetToRecordNo %.2f, "
                    "range count %.2f (limit 3)\n",
                    large.count / small.count, large.refreshCount / small.refreshCount,
                    large.recordNo / small.recordNo, large.rangeCount / small.rangeCount);
    }
    if (argc <= 1) fs::remove_all(folder);
    return 0;
}
