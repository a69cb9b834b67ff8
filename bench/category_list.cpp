// The category list of a table of 1,000,000 records in 10 categories (and
// some without one), against SQLite's "SELECT DISTINCT cat FROM t ORDER BY
// cat" with an index on cat (prepare, step through every row, finalize), one
// after the other in one run:
//  - the data module's GetCategoryList, as the main window asks for it while
//    the table is shown (the module's table handle keeps it open);
//  - the statement "SELECT DISTINCT Category FROM <table> ORDER BY Category"
//    through a TCofferQuery (open, read every row, close), which is what
//    GetCategoryList runs when the table changed since it last asked, and the
//    statement's own share (TSqlQuery without the dataset).
//
//   bench_category_list [folder] [records] [runs]
//
// The folder defaults to a fresh one under $TMPDIR (or /tmp), records to
// 1,000,000, runs to 51. Both tables are filled first; the figures are the
// medians of the runs (in turns, each side warmed by one run first), the
// query once with the session's default caches and once with record and
// index caches of 2 MiB like SQLite's default page cache. The engine's table
// is an image table (made by the data module: Category index, en-US); the
// engine answers DISTINCT by skipping through that index from one value to
// the next.

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BTree.h"
#include "BenchFolder.h"
#include "BenchPictures.h"
#include "CofferDatabase.h"
#include "CofferQuery.h"
#include "CofferSession.h"
#include "CofferTable.h"
#include "Config.h"
#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "IndexKey.h"
#include "Record.h"
#include "SqlQuery.h"
#include "fDM.h"

namespace fs = std::filesystem;
using namespace pixhold::engine;
namespace store = pixhold::store;
namespace bench = pixhold::bench;

namespace {

constexpr std::uint32_t kCategories = 10;
// FileName, Category, Thumb, Image, Type.
constexpr int kTypeField = 5;

// Every 50th record has no category; the others one of ten.
std::string CategoryOf(std::uint32_t i) {
    if (i % 50 == 7) return {};
    static const char* const names[kCategories] = {"Animals", "Beach",  "City",   "Family", "Food",
                                                   "Garden",  "Holiday", "Mountains", "Party", "Winter"};
    return names[(i * 7919u) % kCategories];
}

std::string NameOf(std::uint32_t i) { return "/pictures/img" + std::to_string(i) + ".jpg"; }

// Makes the data folder's image table "Default" (and the thumbnail cache) as
// the program does when it first starts.
void MakeImageTable(const std::string& folder) {
    store::TConfig config(folder + "program");
    config.DataFolder = folder;
    bench::TQuietHost host;
    store::TDM dm(config, host);
    dm.DataModuleCreate();
}

// Fills the image table straight through the files, with caches large enough
// to hold it all: records, primary keys, category keys and "Sys Deleted" keys.
void MakeEngineTable(const std::string& folder, std::uint32_t count) {
    TDataSession session;
    TBufferLimits limits;
    limits.dataBufferBytes = 512u << 20;
    limits.dataBufferRecords = 4u << 20;
    limits.indexBufferBytes = 512u << 20;
    session.SetBufferLimits(limits);
    TDataDirectory* dir = session.OpenDataDirectory("Bench", folder);
    TDataTable* table = nullptr;
    if (dir->OpenTable("Default.dat", table, true, false) < 0) std::exit(1);
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
        slot.builder = std::make_unique<TKeyBuilder>(slot.layout, data.Locale(), false);
        slot.tree = std::make_unique<TIndexTree>(index, numbers[s], *slot.comparer);
        slot.key.resize(slot.layout.keyLength);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        TRecord* record = data.AllocateRecord(nullptr);
        const std::string name = NameOf(i);
        data.PutField(*record, 1, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
        const std::string category = CategoryOf(i);
        if (!category.empty()) {
            data.PutField(*record, 2, reinterpret_cast<const std::uint8_t*>(category.data()), category.size());
        }
        const std::uint8_t type[2] = {1, 0};
        data.PutField(*record, kTypeField, type, 2);
        for (Slot& slot : slots) slot.builder->Build(record->Data(), slot.key.data());
        const std::uint32_t number = record->RecordNumber();
        data.ReleaseRecord(record);
        for (Slot& slot : slots) slot.tree->InsertKey(slot.key.data(), number);
        index.IncActiveRecords();
    }
    table->RaiseChangeCounters(true, false, true);
    (void)dir->CloseTable(table);
}

void Check(int code, sqlite3* db, const char* what) {
    if (code == SQLITE_OK || code == SQLITE_DONE || code == SQLITE_ROW) return;
    std::fprintf(stderr, "SQLite %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
}

void MakeSqliteTable(sqlite3* db, std::uint32_t count) {
    Check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                           "CREATE TABLE t(name TEXT NOT NULL, cat TEXT, type INTEGER, PRIMARY KEY(name, cat));"
                           "BEGIN",
                       nullptr, nullptr, nullptr),
          db, "create");
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?, 1)", -1, &insert, nullptr), db, "prepare");
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string name = NameOf(i);
        const std::string category = CategoryOf(i);
        sqlite3_bind_text(insert, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        if (category.empty()) sqlite3_bind_null(insert, 2);
        else sqlite3_bind_text(insert, 2, category.c_str(), static_cast<int>(category.size()), SQLITE_TRANSIENT);
        Check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Check(sqlite3_exec(db, "COMMIT; CREATE INDEX t_cat ON t(cat); ANALYZE", nullptr, nullptr, nullptr), db, "index");
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename F>
double Seconds(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = pixhold::bench::BenchFolder(argc, argv, "pixhold-category-list-");
    const std::uint32_t records = argc > 2 ? static_cast<std::uint32_t>(std::max(1000, std::atoi(argv[2]))) : 1000000;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 51;
    fs::create_directories(folder);
    const std::string dir = folder.string() + "/";

    MakeImageTable(dir);
    double made = Seconds([&] { MakeEngineTable(dir, records); });
    std::printf("engine table of %u records filled in %.1f s\n", records, made);
    sqlite3* lite = nullptr;
    Check(sqlite3_open((dir + "bench.sqlite").c_str(), &lite), lite, "open");
    made = Seconds([&] { MakeSqliteTable(lite, records); });
    std::printf("SQLite table of %u records filled in %.1f s\n\n", records, made);

    // The program's session, database and query.
    auto session = std::make_unique<TCofferSession>("CofferSession1");
    session->SetSessionName("PHSession");
    session->SetPrivateDir(dir);
    auto database = std::make_unique<TCofferDatabase>(session.get());
    database->SetDatabaseName("PH");
    database->SetSessionName("PHSession");
    database->SetDirectory(dir);
    database->Open();
    // The program shows the table while it lists the categories: its table
    // handle keeps the table open (files, caches and locks shared).
    TCofferTable images;
    images.SetDatabaseName("PH");
    images.SetSessionName("PHSession");
    images.SetTableName("Default.dat");
    images.Open();
    TCofferQuery query;
    query.SetDatabaseName("PH");
    query.SetSessionName("PHSession");
    query.RequestLive = true;
    query.SetSQLText("SELECT DISTINCT Category FROM Default.dat ORDER BY Category");

    std::vector<std::string> engineRows;
    auto engineRun = [&] {
        engineRows.clear();
        query.Open();
        for (query.First(); !query.Eof(); query.Next()) engineRows.push_back(query.FieldByName("Category").AsString());
        query.Close();
    };
    std::vector<std::string> liteRows;
    auto liteRun = [&] {
        liteRows.clear();
        sqlite3_stmt* select = nullptr;
        Check(sqlite3_prepare_v2(lite, "SELECT DISTINCT cat FROM t ORDER BY cat", -1, &select, nullptr), lite,
              "prepare");
        while (sqlite3_step(select) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(select, 0);
            liteRows.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
        sqlite3_finalize(select);
    };

    engineRun();
    liteRun();
    if (engineRows != liteRows) {
        std::fprintf(stderr, "the two lists differ (%zu and %zu rows)\n", engineRows.size(), liteRows.size());
        return 1;
    }
    // The engine's statement alone, without the dataset around it: prepare,
    // execute, read the rows off the result cursor, close.
    TDataDirectory& directory = database->Handle();
    std::size_t statementRows = 0;
    auto statementRun = [&] {
        TSqlQuery statement(directory);
        statement.Prepare("SELECT DISTINCT Category FROM Default.dat ORDER BY Category");
        std::unique_ptr<TDataCursor> cursor = statement.Execute();
        std::vector<std::uint8_t> buffer(cursor->RecordSize());
        statementRows = 0;
        while (cursor->GetNextRecord(buffer.data()) == 0) ++statementRows;
        cursor->CloseCursor();
    };
    auto measure = [&](const char* caches) {
        std::vector<double> engineTimes;
        std::vector<double> statementTimes;
        std::vector<double> liteTimes;
        for (int i = 0; i < runs; ++i) {
            engineTimes.push_back(Seconds(engineRun));
            statementTimes.push_back(Seconds(statementRun));
            liteTimes.push_back(Seconds(liteRun));
        }
        const TSqlExecutionStats& stats = query.ExecutionStats();
        const double engineMs = Median(engineTimes) * 1000.0;
        const double liteMs = Median(liteTimes) * 1000.0;
        std::printf("%s: %zu rows (the empty category first), %d runs each, medians:\n", caches, engineRows.size(),
                    runs);
        std::printf("  engine TCofferQuery   %9.3f ms   (index %s skip-scan: %llu descents, %llu keys read)\n",
                    engineMs, stats.index.c_str(), static_cast<unsigned long long>(stats.descents),
                    static_cast<unsigned long long>(stats.keysRead));
        std::printf("  of which TSqlQuery    %9.3f ms   (%zu rows)\n", Median(statementTimes) * 1000.0, statementRows);
        std::printf("  SQLite                %9.3f ms\n", liteMs);
        std::printf("  ratio engine / SQLite %9.4f\n\n", engineMs / liteMs);
    };
    measure("the session's default caches (index pages: 2 per index)");
    // SQLite's default page cache is 2 MiB; the same for the engine's record
    // and index caches (as bench_engine_vs_sqlite compares them). The caches
    // take their size when the table's files open.
    images.Close();
    TBufferLimits limits = directory.Session().BufferLimits();
    limits.dataBufferBytes = 2u << 20;
    limits.indexBufferBytes = 2u << 20;
    directory.Session().SetBufferLimits(limits);
    images.Open();
    engineRun();
    measure("2 MiB record and index caches, as SQLite's page cache");

    images.Close();
    database->Close();
    database.reset();
    session.reset();

    // The data module as the program runs it: the main list shows the table,
    // and the category selector asks for the list each time it is filled.
    {
        store::TConfig config(dir + "program");
        config.DataFolder = dir;
        config.CurrentTable = "Default";
        config.CurrentCategory = "All";
        bench::TQuietHost host;
        store::TDM dm(config, host);
        dm.DataModuleCreate();
        std::vector<std::string> listed;
        auto listRun = [&] { listed = dm.GetCategoryList("Default"); };
        listRun();
        if (listed != liteRows) {
            std::fprintf(stderr, "GetCategoryList differs from SQLite (%zu and %zu rows)\n", listed.size(),
                         liteRows.size());
            return 1;
        }
        // Repeated many times per run: one call is shorter than the clock's
        // resolution allows to read well.
        constexpr int kCallsPerRun = 1000;
        std::vector<double> listTimes;
        std::vector<double> liteTimes;
        for (int i = 0; i < runs; ++i) {
            listTimes.push_back(Seconds([&] {
                for (int k = 0; k < kCallsPerRun; ++k) listRun();
            }) / kCallsPerRun);
            liteTimes.push_back(Seconds(liteRun));
        }
        // After a change: the first list reads the table again.
        std::vector<double> changedTimes;
        for (int i = 0; i < runs; ++i) {
            dm.tblData.First();
            dm.tblData.Edit();
            dm.tblData.FieldByName("Type").SetAsInteger(i % 2);
            dm.tblData.Post();
            changedTimes.push_back(Seconds(listRun));
        }
        const double listMs = Median(listTimes) * 1000.0;
        const double liteMs = Median(liteTimes) * 1000.0;
        std::printf("GetCategoryList of the table the main list shows, %d runs, medians:\n", runs);
        std::printf("  unchanged since the last list %9.4f ms\n", listMs);
        std::printf("  after a change (query)        %9.4f ms\n", Median(changedTimes) * 1000.0);
        std::printf("  SQLite                        %9.4f ms\n", liteMs);
        std::printf("  ratio unchanged / SQLite      %9.4f\n", listMs / liteMs);
    }

    sqlite3_close(lite);
    fs::remove_all(folder);
    return 0;
}
