// The same workloads on this engine and on SQLite (WAL, synchronous NORMAL),
// one after the other in one run, each figure printed with the ratio
// engine / SQLite (below 1 the engine is faster or smaller).
//
//   bench_engine_vs_sqlite [folder] [records] [small records] [BLOB block size] [cache MiB]
//
// Defaults: a fresh folder under $TMPDIR (or /tmp), 10,000 records,
// 1,000,000 small records, the program's BLOB block size of 512 and 2 MiB of
// cache on each side (SQLite's default page cache). Workloads:
//   append   records with a 250-character key, an integer and a 64 KiB BLOB,
//            one insert per write (how the program posts a record)
//   lookup   as many point look-ups by key, in a shuffled order, reading the
//            record (not its BLOB)
//   scan     all records in key order, reading every BLOB (the engine in runs
//            of a dozen records under one query read lock, as the program
//            fills its list; SQLite in one statement)
//   count    how many of the small records have one category, through an
//            index on the category (the average over each of the 10 categories)
//   churn    delete every second record by key, then append them again
//   size     the files of both tables at the end
// The engine's tables are opened shared, as the program opens them; its
// record, index and BLOB caches each get as much as SQLite's page cache. Nothing is
// flushed to the disk on either side, so the figures measure the way into
// and out of the operating system's cache.

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ByteCodec.h"
#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "TableDefinition.h"

namespace fs = std::filesystem;
using namespace pixhold::engine;

namespace {

constexpr std::size_t kKeyLength = 250;
constexpr std::size_t kBlobBytes = 64 * 1024;
constexpr int kCategories = 10;
// Records read under one query read lock by the scan, as the program's list fill does.
constexpr int kReadRun = 12;

// ---- workload data, the same for both sides ----

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// 250 characters, unique per record, in no particular order.
std::string KeyOf(std::uint32_t i) {
    char head[17];
    std::snprintf(head, sizeof head, "%016llx", static_cast<unsigned long long>(Mix(i)));
    std::string key(head);
    while (key.size() < kKeyLength) key += static_cast<char>('a' + (Mix(i + key.size()) % 26));
    return key;
}

// 64 KiB of noise that differs per record.
void FillBlob(std::uint32_t i, std::vector<std::uint8_t>& blob) {
    blob.resize(kBlobBytes);
    std::uint64_t state = Mix(i * 7919ULL + 1);
    for (std::size_t at = 0; at + 8 <= blob.size(); at += 8) {
        state = Mix(state);
        std::memcpy(&blob[at], &state, 8);
    }
}

std::string CategoryOf(std::uint32_t i) { return "Cat" + std::to_string(Mix(i) % kCategories); }

double Milliseconds(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::uint64_t FileSize(const fs::path& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0 : size;
}

// ---- SQLite ----

class Sqlite {
public:
    Sqlite(const fs::path& file, std::uint32_t cacheBytes) {
        if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) Fail("open");
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=NORMAL");
        Exec(("PRAGMA cache_size=-" + std::to_string(cacheBytes / 1024)).c_str());
    }
    ~Sqlite() {
        for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
    }
    void Exec(const char* sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error(std::string("sqlite: ") + sql + ": " + text);
        }
    }
    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) Fail(sql);
        statements_.push_back(s);
        return s;
    }
    // Runs a statement that returns no rows, then resets it.
    void Done(sqlite3_stmt* s) {
        if (sqlite3_step(s) != SQLITE_DONE) Fail("step");
        sqlite3_reset(s);
    }
    [[noreturn]] void Fail(const std::string& what) {
        throw std::runtime_error("sqlite: " + what + ": " + sqlite3_errmsg(db_));
    }

private:
    sqlite3* db_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;
};

// ---- the engine ----

IndexDescriptor IndexOn(const std::string& name, std::uint16_t field, bool unique) {
    IndexDescriptor d;
    d.name = name;
    d.unique = unique;
    d.fieldCount = 1;
    d.fieldNumbers[0] = field;
    return d;
}

// One session on the folder and one cursor on a table of it.
class EngineTable {
public:
    EngineTable(const fs::path& folder, const std::string& name, std::uint32_t cacheBytes) : name_(name) {
        TBufferLimits limits;
        limits.dataBufferBytes = cacheBytes;
        limits.indexBufferBytes = cacheBytes;
        limits.blobBufferBytes = cacheBytes;
        // Bound by bytes like SQLite's cache, not by the default count of 8192 records.
        limits.dataBufferRecords = cacheBytes / 64;
        session_.SetBufferLimits(limits);
        directory_ = session_.OpenDataDirectory("BENCH", folder.string() + "/");
    }
    ~EngineTable() {
        cursor_.reset();
        session_.CloseDataDirectory(directory_);
    }
    void Create(const TableDefinition& definition) {
        TDataTable* table = nullptr;
        if (directory_->CreateTable(name_, false, definition, table) < 0) throw std::runtime_error("create");
        (void)directory_->CloseTable(table);
    }
    TDataCursor& Open(bool exclusive = false) {
        cursor_ = std::make_unique<TDataCursor>(*directory_);
        cursor_->TableName = name_;
        cursor_->Exclusive = exclusive;
        cursor_->OpenCursor();
        return *cursor_;
    }
    void Close() { cursor_.reset(); }
    TDataCursor& Cursor() { return *cursor_; }
    std::uint64_t FilesSize(const fs::path& folder) const {
        return FileSize(folder / (name_ + ".DAT")) + FileSize(folder / (name_ + ".IDX")) +
               FileSize(folder / (name_ + ".BLB"));
    }

    // A record image with a string field set.
    std::vector<std::uint8_t> Image() const { return std::vector<std::uint8_t>(cursor_->RecordSize(), 0); }
    void PutText(std::vector<std::uint8_t>& image, int field, const std::string& text) const {
        const FieldDescriptor& f = cursor_->Fields()[static_cast<std::size_t>(field)];
        image[f.offset] = 1;
        std::memcpy(&image[f.offset + 1u], text.data(), std::min<std::size_t>(text.size(), f.physicalSize - 1u));
    }
    void PutInt(std::vector<std::uint8_t>& image, int field, std::int32_t value) const {
        const FieldDescriptor& f = cursor_->Fields()[static_cast<std::size_t>(field)];
        image[f.offset] = 1;
        bytes::PutI32(image.data(), f.offset + 1u, value);
    }

private:
    std::string name_;
    TDataSession session_;
    TDataDirectory* directory_ = nullptr;
    std::unique_ptr<TDataCursor> cursor_;
};

// ---- record editing through the cursor, as the dataset layer does it ----

void Check(int code, const char* what) {
    if (code != 0) throw std::runtime_error(std::string("engine: ") + what + " returned " + std::to_string(code));
}

void EngineAppend(TDataCursor& cursor, std::vector<std::uint8_t>& image) { cursor.AppendRecord(image.data(), false); }

void EngineAppendWithBlob(TDataCursor& cursor, std::vector<std::uint8_t>& image, std::uint16_t field,
                          const std::vector<std::uint8_t>& blob) {
    std::uint32_t length = 0;
    Check(cursor.OpenBlob(field, image.data(), TBlobOpenMode::ReadWrite, length), "OpenBlob");
    Check(cursor.PutBlob(field, image.data(), 0, static_cast<std::uint32_t>(blob.size()), blob.data()), "PutBlob");
    cursor.AppendRecord(image.data(), false);
}

void EngineReadBlob(TDataCursor& cursor, std::vector<std::uint8_t>& record, std::uint16_t field,
                    std::vector<std::uint8_t>& blob) {
    std::uint32_t length = 0;
    Check(cursor.OpenBlob(field, record.data(), TBlobOpenMode::Read, length), "OpenBlob");
    blob.resize(length);
    std::uint32_t read = 0;
    Check(cursor.GetBlob(field, record.data(), 0, length, blob.data(), read), "GetBlob");
    cursor.FreeBlob(field, record.data());
}

void EngineDelete(TDataCursor& cursor, std::vector<std::uint8_t>& current) { cursor.DeleteRecord(current.data(), false); }

// Fields of the picture table: Key string(250) primary, Num integer, Img BLOB.
TableDefinition PicturesDefinition(std::uint16_t blockSize) {
    TableDefinition d;
    d.fields = {MakeField("Key", fieldtype::String, kKeyLength), MakeField("Num", fieldtype::Integer),
                MakeField("Img", fieldtype::Blob)};
    d.indexes.push_back(IndexOn("", 1, true));
    d.params.blobBlockSize = blockSize;
    return d;
}

// Fields of the small table: Cat string(10), Num integer; index ByCat with
// compressed leaves (its keys repeat ten categories).
TableDefinition SmallDefinition() {
    TableDefinition d;
    d.fields = {MakeField("Cat", fieldtype::String, 10), MakeField("Num", fieldtype::Integer)};
    d.indexes.push_back(IndexDescriptor{});
    d.indexes.push_back(IndexOn("ByCat", 1, false));
    d.indexes.back().compression = static_cast<std::uint8_t>(KeyCompression::Full);
    return d;
}

struct Figure {
    std::string name;
    double engine = 0;
    double sqlite = 0;
    const char* unit = "ms";
};

void Print(const Figure& f) {
    std::printf("%-46s %12.3f %12.3f %8.2f  %s\n", f.name.c_str(), f.engine, f.sqlite,
                f.sqlite > 0 ? f.engine / f.sqlite : 0.0, f.unit);
    std::fflush(stdout);
}

// A folder the run made for itself goes when the run ends; declared before
// the tables, it outlives them, so their files are closed by then.
struct MadeFolder {
    fs::path path;
    ~MadeFolder() {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
};

}  // namespace

int Run(int argc, char** argv) {
    MadeFolder made;
    fs::path folder;
    if (argc > 1 && argv[1][0] != '\0') {
        folder = argv[1];
        fs::create_directories(folder);
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp ? tmp : "/tmp") + "/enginebench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return 1;
        folder = pattern;
        made.path = folder;
    }
    const std::uint32_t records = argc > 2 ? static_cast<std::uint32_t>(std::stoul(argv[2])) : 10000;
    const std::uint32_t small = argc > 3 ? static_cast<std::uint32_t>(std::stoul(argv[3])) : 1000000;
    // The program's image tables use 512-byte BLOB blocks.
    const auto blockSize = static_cast<std::uint16_t>(argc > 4 ? std::stoul(argv[4]) : 512);
    const auto cacheBytes = static_cast<std::uint32_t>((argc > 5 ? std::stoul(argv[5]) : 2) << 20);
    std::printf("folder %s, %u records of a 250-character key and a 64 KiB BLOB (block size %u), %u small "
                "records, %u MiB of cache\n",
                folder.c_str(), records, blockSize, small, cacheBytes >> 20);
    std::printf("%-46s %12s %12s %8s\n", "workload", "engine", "sqlite", "ratio");

    std::vector<std::uint32_t> order(records);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    std::vector<std::uint8_t> blob;
    std::vector<Figure> figures;

    auto picsDb = std::make_unique<Sqlite>(folder / "pics.db", cacheBytes);
    Sqlite& pics = *picsDb;
    pics.Exec("CREATE TABLE pics(key TEXT PRIMARY KEY, num INTEGER, img BLOB)");
    EngineTable engine(folder, "Pics", cacheBytes);
    engine.Create(PicturesDefinition(blockSize));
    TDataCursor& cursor = engine.Open();
    std::vector<std::uint8_t> image = engine.Image();

    auto engineAppend = [&](std::uint32_t i) {
        image = engine.Image();
        engine.PutText(image, 0, KeyOf(i));
        engine.PutInt(image, 1, static_cast<std::int32_t>(i));
        FillBlob(i, blob);
        EngineAppendWithBlob(cursor, image, 3, blob);
    };
    auto sqliteInsert = pics.Prepare("INSERT INTO pics(key, num, img) VALUES(?, ?, ?)");
    auto sqliteAppend = [&](std::uint32_t i) {
        const std::string key = KeyOf(i);
        FillBlob(i, blob);
        sqlite3_bind_text(sqliteInsert, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(sqliteInsert, 2, static_cast<int>(i));
        sqlite3_bind_blob(sqliteInsert, 3, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
        pics.Done(sqliteInsert);
    };

    // append
    Figure append{"append " + std::to_string(records) + " records + 64 KiB BLOB"};
    append.engine = Milliseconds([&] {
        for (std::uint32_t i = 0; i < records; ++i) engineAppend(i);
    });
    append.sqlite = Milliseconds([&] {
        for (std::uint32_t i = 0; i < records; ++i) sqliteAppend(i);
    });
    Print(append);

    // lookup
    std::uint64_t checkEngine = 0;
    std::uint64_t checkSqlite = 0;
    Figure lookup{std::to_string(records) + " point look-ups by key"};
    lookup.engine = Milliseconds([&] {
        std::vector<std::uint8_t> probe = engine.Image();
        std::vector<std::uint8_t> found = engine.Image();
        for (std::uint32_t i : order) {
            std::fill(probe.begin(), probe.end(), 0);
            engine.PutText(probe, 0, KeyOf(i));
            if (!cursor.FindKey(false, probe.data(), found.data(), 1, 0, false))
                throw std::runtime_error("engine: key not found");
            checkEngine += bytes::GetU32(found.data(), cursor.Fields()[1].offset + 1u);
        }
    });
    auto sqliteFind = pics.Prepare("SELECT num FROM pics WHERE key = ?");
    lookup.sqlite = Milliseconds([&] {
        for (std::uint32_t i : order) {
            const std::string key = KeyOf(i);
            sqlite3_bind_text(sqliteFind, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
            if (sqlite3_step(sqliteFind) != SQLITE_ROW) throw std::runtime_error("sqlite: key not found");
            checkSqlite += static_cast<std::uint64_t>(sqlite3_column_int(sqliteFind, 0));
            sqlite3_reset(sqliteFind);
        }
    });
    if (checkEngine != checkSqlite) throw std::runtime_error("look-ups found different records");
    Print(lookup);

    // scan
    Figure scan{"full scan reading every BLOB"};
    checkEngine = checkSqlite = 0;
    scan.engine = Milliseconds([&] {
        std::vector<std::uint8_t> record = engine.Image();
        TDataTable& table = cursor.Table();
        cursor.SetToBegin();
        // As the program fills its list: the reads of about a dozen records
        // under one query read lock (the lock taken and the change check made
        // once per run; other processes' writers wait only for the run), as
        // SQLite's statement reads under one read transaction.
        for (bool more = true; more;) {
            table.BeginQueryRead();
            for (int n = 0; n < kReadRun && (more = cursor.GetNextRecord(record.data()) == 0); ++n) {
                EngineReadBlob(cursor, record, 3, blob);
                checkEngine += blob.size() + blob[blob.size() / 2];
            }
            table.EndQueryRead();
        }
    });
    auto sqliteScan = pics.Prepare("SELECT img FROM pics ORDER BY key");
    scan.sqlite = Milliseconds([&] {
        while (sqlite3_step(sqliteScan) == SQLITE_ROW) {
            const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(sqliteScan, 0));
            const int length = sqlite3_column_bytes(sqliteScan, 0);
            checkSqlite += static_cast<std::uint64_t>(length) + data[length / 2];
        }
        sqlite3_reset(sqliteScan);
    });
    if (checkEngine != checkSqlite) throw std::runtime_error("scans read different BLOBs");
    Print(scan);

    // churn
    Figure churn{"delete every 2nd record by key, append again"};
    churn.engine = Milliseconds([&] {
        std::vector<std::uint8_t> probe = engine.Image();
        std::vector<std::uint8_t> found = engine.Image();
        for (std::uint32_t i = 0; i < records; i += 2) {
            std::fill(probe.begin(), probe.end(), 0);
            engine.PutText(probe, 0, KeyOf(i));
            if (!cursor.FindKey(false, probe.data(), found.data(), 1, 0, false))
                throw std::runtime_error("engine: key not found");
            EngineDelete(cursor, found);
        }
        for (std::uint32_t i = 0; i < records; i += 2) engineAppend(i);
    });
    auto sqliteDelete = pics.Prepare("DELETE FROM pics WHERE key = ?");
    churn.sqlite = Milliseconds([&] {
        for (std::uint32_t i = 0; i < records; i += 2) {
            const std::string key = KeyOf(i);
            sqlite3_bind_text(sqliteDelete, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
            pics.Done(sqliteDelete);
        }
        for (std::uint32_t i = 0; i < records; i += 2) sqliteAppend(i);
    });
    Print(churn);
    engine.Close();

    // count
    auto smallOwner = std::make_unique<Sqlite>(folder / "small.db", cacheBytes);
    Sqlite& smallDb = *smallOwner;
    smallDb.Exec("CREATE TABLE small(cat TEXT, num INTEGER)");
    smallDb.Exec("CREATE INDEX bycat ON small(cat)");
    EngineTable smallEngine(folder, "Small", cacheBytes);
    smallEngine.Create(SmallDefinition());
    double fillEngine = Milliseconds([&] {
        // Filled under an exclusive open, which writes at the close: a bulk
        // load, timed apart from the counts.
        TDataCursor& c = smallEngine.Open(true);
        std::vector<std::uint8_t> row = smallEngine.Image();
        for (std::uint32_t i = 0; i < small; ++i) {
            std::fill(row.begin(), row.end(), 0);
            smallEngine.PutText(row, 0, CategoryOf(i));
            smallEngine.PutInt(row, 1, static_cast<std::int32_t>(i));
            EngineAppend(c, row);
        }
        smallEngine.Close();
    });
    double fillSqlite = Milliseconds([&] {
        smallDb.Exec("BEGIN");
        auto insert = smallDb.Prepare("INSERT INTO small(cat, num) VALUES(?, ?)");
        for (std::uint32_t i = 0; i < small; ++i) {
            const std::string cat = CategoryOf(i);
            sqlite3_bind_text(insert, 1, cat.data(), static_cast<int>(cat.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 2, static_cast<int>(i));
            smallDb.Done(insert);
        }
        smallDb.Exec("COMMIT");
    });
    Print({"(fill " + std::to_string(small) + " small records, one batch)", fillEngine, fillSqlite});

    Figure count{"count one category of " + std::to_string(small) + " (each)"};
    checkEngine = checkSqlite = 0;
    TDataCursor& smallCursor = smallEngine.Open();
    smallCursor.SetIndexName("ByCat");
    count.engine = Milliseconds([&] {
        std::vector<std::uint8_t> bound = smallEngine.Image();
        for (int c = 0; c < kCategories; ++c) {
            std::fill(bound.begin(), bound.end(), 0);
            smallEngine.PutText(bound, 0, "Cat" + std::to_string(c));
            smallCursor.SetRange(false, bound.data(), 1, bound.data(), 1);
            checkEngine += smallCursor.GetRecordCount();
        }
        smallCursor.ResetRange();
    }) / kCategories;
    auto sqliteCount = smallDb.Prepare("SELECT count(*) FROM small WHERE cat = ?");
    count.sqlite = Milliseconds([&] {
        for (int c = 0; c < kCategories; ++c) {
            const std::string cat = "Cat" + std::to_string(c);
            sqlite3_bind_text(sqliteCount, 1, cat.data(), static_cast<int>(cat.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(sqliteCount) != SQLITE_ROW) throw std::runtime_error("sqlite: count");
            checkSqlite += static_cast<std::uint64_t>(sqlite3_column_int64(sqliteCount, 0));
            sqlite3_reset(sqliteCount);
        }
    }) / kCategories;
    if (checkEngine != checkSqlite || checkEngine != small) throw std::runtime_error("counts differ");
    Print(count);
    smallEngine.Close();

    // size: SQLite's WAL is folded into the database when the last connection closes.
    picsDb.reset();
    smallOwner.reset();
    const auto sqliteSize = [&](const char* name) {
        return FileSize(folder / name) + FileSize(folder / (std::string(name) + "-wal"));
    };
    const double mib = 1024.0 * 1024.0;
    Print({"size of the picture table", engine.FilesSize(folder) / mib, sqliteSize("pics.db") / mib, "MiB"});
    Print({"size of the small table", smallEngine.FilesSize(folder) / mib, sqliteSize("small.db") / mib, "MiB"});
    return 0;
}

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_engine_vs_sqlite: %s\n", e.what());
        return 1;
    }
}
