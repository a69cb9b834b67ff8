// Counting the records of one category through a cursor filter, on a table of
// 1,000,000 records in about 100 categories. The field Cat has a secondary
// index; the field Copy holds the same values without one. The filter on Cat
// is answered from the index's keys; the one on Copy (and the one on Cat that
// ignores letter case, which no index of the table does) reads every record.
//
//   bench_category_count [folder] [records]
//
// The folder defaults to a fresh one under $TMPDIR (or /tmp); records to
// 1,000,000. Each time is the best of three activations of the filter
// followed by GetRecordCount, with the session's default cache sizes. The
// record and key counts are those one activation needed.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

constexpr std::uint32_t kCategories = 100;

TableDefinition Definition() {
    TableDefinition d;
    d.fields = {MakeField("Num", fieldtype::Integer), MakeField("Cat", fieldtype::String, 10),
                MakeField("Copy", fieldtype::String, 10)};
    IndexDescriptor primary;
    primary.unique = true;
    primary.fieldCount = 1;
    primary.fieldNumbers[0] = 1;
    d.indexes.push_back(primary);
    IndexDescriptor byCat;
    byCat.name = "ByCat";
    byCat.fieldCount = 1;
    byCat.fieldNumbers[0] = 2;
    d.indexes.push_back(byCat);
    return d;
}

std::string CategoryOf(std::uint32_t i) { return "c" + std::to_string((i * 7919u) % kCategories); }

// Fills the table straight through the files, with caches large enough to
// hold it all: records, primary keys, category keys and "Sys Deleted" keys.
void MakeTable(const std::string& folder, std::uint32_t count) {
    TDataSession session;
    TBufferLimits limits;
    limits.dataBufferBytes = 512u << 20;
    limits.dataBufferRecords = 4u << 20;
    limits.indexBufferBytes = 512u << 20;
    session.SetBufferLimits(limits);
    TDataDirectory* dir = session.OpenDataDirectory("Bench", folder);
    TDataTable* table = nullptr;
    if (dir->CreateTable("Cats", false, Definition(), table) < 0) std::exit(1);
    TDataFile& data = table->DataFile();
    TIndexFile& index = table->IndexFile();
    struct Slot {
        TKeyLayout layout;
        std::unique_ptr<TKeyComparer> comparer;
        std::unique_ptr<TKeyBuilder> builder;
        std::unique_ptr<TIndexTree> tree;
        std::vector<std::uint8_t> key;
    };
    std::vector<Slot> slots(3);
    const int numbers[] = {kPrimarySlot, 1, kDeletedSlot};
    for (int s = 0; s < 3; ++s) {
        Slot& slot = slots[s];
        slot.layout = TKeyLayout::For(table->IndexDefinition(numbers[s]), numbers[s], table->Fields());
        slot.comparer = std::make_unique<TKeyComparer>(slot.layout, data.Header().Locale());
        slot.builder = std::make_unique<TKeyBuilder>(slot.layout, data.Locale(), true);
        slot.tree = std::make_unique<TIndexTree>(index, numbers[s], *slot.comparer);
        slot.key.resize(slot.layout.keyLength);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        TRecord* record = data.AllocateRecord(nullptr);
        std::uint8_t value[4] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                 static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 24)};
        data.PutField(*record, 1, value, 4);
        const std::string category = CategoryOf(i);
        const auto* text = reinterpret_cast<const std::uint8_t*>(category.data());
        data.PutField(*record, 2, text, category.size());
        data.PutField(*record, 3, text, category.size());
        for (Slot& slot : slots) slot.builder->Build(record->Data(), slot.key.data());
        const std::uint32_t number = record->RecordNumber();
        data.ReleaseRecord(record);
        for (Slot& slot : slots) slot.tree->InsertKey(slot.key.data(), number);
        index.IncActiveRecords();
    }
    table->RaiseChangeCounters(true, false, true);
    (void)dir->CloseTable(table);
}

class KeepAll : public TCursorFilter {
public:
    void Narrow(TDataCursor&, TRecordsBitmap&) override {}
    std::unique_ptr<TCursorFilter> Clone() const override { return std::make_unique<KeepAll>(); }
};

struct Figures {
    int level = 0;
    double seconds = 0;
    std::uint32_t count = 0;
    std::uint64_t recordsRead = 0;
    std::uint64_t keysRead = 0;
};

Figures Measure(TDataCursor& cursor, const std::string& text, bool caseInsensitive) {
    TCursorFilterOptions options;
    options.caseInsensitive = caseInsensitive;
    Figures f;
    f.seconds = 1e300;
    for (int round = 0; round < 3; ++round) {
        TFilter* filter = cursor.AddFilter(text, options);
        const auto start = std::chrono::steady_clock::now();
        cursor.ActivateFilter(filter);
        f.count = cursor.GetRecordCount();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        f.seconds = std::min(f.seconds, took.count());
        f.level = filter->OptimizeLevel();
        f.recordsRead = filter->RecordsRead();
        f.keysRead = filter->KeysRead();
        cursor.DropFilter(filter);
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = pixhold::bench::BenchFolder(argc, argv, "pixhold-category-bench-");
    const std::uint32_t records = argc > 2 ? static_cast<std::uint32_t>(std::max(1000, std::atoi(argv[2]))) : 1000000;
    fs::create_directories(folder);
    const std::string dir = folder.string() + "/";

    const auto start = std::chrono::steady_clock::now();
    MakeTable(dir, records);
    const std::chrono::duration<double> made = std::chrono::steady_clock::now() - start;
    std::printf("table of %u records in %u categories filled in %.1f s\n\n", records, kCategories, made.count());

    TDataSession session;
    TDataDirectory* directory = session.OpenDataDirectory("Bench", dir);
    TDataCursor cursor(*directory);
    cursor.TableName = "Cats";
    cursor.OpenCursor();
    // What every activation costs besides the filter itself: the active
    // records from "Sys Deleted", with a filter that hides nothing.
    double base = 1e300;
    for (int round = 0; round < 3; ++round) {
        TFilter* filter = cursor.AddFilter(std::make_unique<KeepAll>());
        const auto baseStart = std::chrono::steady_clock::now();
        cursor.ActivateFilter(filter);
        if (cursor.GetRecordCount() != records) std::fprintf(stderr, "wrong count\n");
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - baseStart;
        base = std::min(base, took.count());
        cursor.DropFilter(filter);
    }

    struct Row {
        const char* label;
        std::string text;
        bool caseInsensitive;
    };
    const Row rows[] = {
        {"indexed (ByCat)", "Cat = 'c42'", false},
        {"no index (Copy)", "Copy = 'c42'", false},
        {"index cannot answer", "Cat = 'C42'", true},
    };
    std::printf("%-22s %-16s %5s %10s %12s %12s %10s\n", "filter", "text", "level", "count", "records read",
                "keys read", "ms");
    for (const Row& row : rows) {
        const Figures f = Measure(cursor, row.text, row.caseInsensitive);
        std::printf("%-22s %-16s %5d %10u %12llu %12llu %10.1f\n", row.label,
                    (row.text + (row.caseInsensitive ? " ci" : "")).c_str(), f.level, f.count,
                    static_cast<unsigned long long>(f.recordsRead), static_cast<unsigned long long>(f.keysRead),
                    f.seconds * 1000.0);
    }
    std::printf("\nof which the active records (a filter that hides nothing): %.1f ms\n", base * 1000.0);
    cursor.CloseCursor();
    fs::remove_all(folder);
    return 0;
}
