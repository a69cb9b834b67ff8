// Record editing through a cursor: records with a 250-character key and a
// 64 KiB BLOB appended, looked up by key, read back in index order, changed
// and deleted, each step timed on its own.
//
//   bench_record_editing [folder] [records]
//
// The folder defaults to a fresh one under $TMPDIR (or /tmp); records to
// 10,000. The cursor shares the table (not exclusive), so every change is
// written out under the write lock as the program's own edits are. Nothing is
// flushed to the disk itself: the figures measure the way into and out of the
// operating system's cache. MB/s counts BLOB bytes (10^6 bytes per second).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "RecordBuffer.h"

namespace fs = std::filesystem;
using namespace pixhold::engine;

namespace {

constexpr std::size_t kKeyLength = 250;
constexpr std::size_t kBlobLength = 64 * 1024;
constexpr std::uint16_t kName = 1;
constexpr std::uint16_t kNum = 2;
constexpr std::uint16_t kData = 3;

double Seconds(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A 250-character key whose leading characters spread the records over the
// index (keys arrive in no particular order).
std::string KeyOf(std::uint32_t i) {
    const std::uint32_t h = i * 2654435761u;
    char head[32];
    std::snprintf(head, sizeof head, "%08x-%06u-", h, i);
    std::string key(head);
    while (key.size() < kKeyLength) key += static_cast<char>('a' + (key.size() * 7 + i) % 26);
    return key;
}

void FillBlob(std::vector<std::uint8_t>& blob, std::uint32_t seed) {
    std::uint32_t x = seed * 747796405u + 2891336453u;
    for (std::uint8_t& b : blob) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
}

void Check(int code, const char* what) {
    if (code != 0) {
        std::fprintf(stderr, "%s: code %d\n", what, code);
        std::exit(1);
    }
}

void Report(const char* step, std::uint32_t records, double seconds, std::uint64_t blobBytes) {
    std::printf("%-34s %8u records %8.2f s %10.0f records/s", step, records, seconds, records / seconds);
    if (blobBytes != 0) std::printf(" %8.1f MB/s", static_cast<double>(blobBytes) / 1e6 / seconds);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = pixhold::bench::BenchFolder(argc, argv, "pixhold-edit-bench-");
    const std::uint32_t count = argc > 2 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 10000;
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::string dir = folder.string();
    if (dir.back() != '/') dir += '/';

    try {
        TDataSession session;
        TDataDirectory* directory = session.OpenDataDirectory("Bench", dir);
        TableDefinition d;
        FieldDescriptor name;
        name.name = "Name";
        name.type = fieldtype::String;
        name.size = static_cast<std::uint8_t>(kKeyLength);
        FieldDescriptor num;
        num.name = "Num";
        num.type = fieldtype::Integer;
        FieldDescriptor data;
        data.name = "Data";
        data.type = fieldtype::Blob;
        d.fields = {name, num, data};
        IndexDescriptor primary;
        primary.unique = true;
        primary.fieldCount = 1;
        primary.fieldNumbers[0] = kName;
        d.indexes.push_back(primary);
        TDataTable* created = nullptr;
        if (directory->CreateTable("Pictures", false, d, created) < 0) throw std::runtime_error("create failed");
        (void)directory->CloseTable(created);

        TDataCursor cursor(*directory);
        cursor.TableName = "Pictures";
        cursor.OpenCursor();
        const auto& fields = cursor.Fields();
        std::vector<std::uint8_t> buffer(cursor.RecordSize());
        std::vector<std::uint8_t> blob(kBlobLength);
        std::uint32_t length = 0;
        std::printf("%u records, key %zu characters, BLOB %zu bytes, folder %s\n", count, kKeyLength, kBlobLength,
                    dir.c_str());

        // Appends; the BLOB contents are made outside the timed part.
        double seconds = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            FillBlob(blob, i);
            seconds += Seconds([&] {
                cursor.InitRecord(buffer.data());
                recordbuffer::SetText(fields[kName - 1], buffer.data(), KeyOf(i));
                const std::uint8_t n[4] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                           static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 24)};
                recordbuffer::SetValue(fields[kNum - 1], buffer.data(), n);
                Check(cursor.OpenBlob(kData, buffer.data(), TBlobOpenMode::Write, length), "OpenBlob");
                Check(cursor.PutBlob(kData, buffer.data(), 0, kBlobLength, blob.data()), "PutBlob");
                cursor.AppendRecord(buffer.data(), false);
            });
        }
        Report("append", count, seconds, std::uint64_t{count} * kBlobLength);

        // Each record looked up by its key, in a shuffled order.
        std::vector<std::uint32_t> order(count);
        std::iota(order.begin(), order.end(), 0u);
        std::shuffle(order.begin(), order.end(), std::mt19937(42));
        std::vector<std::uint8_t> probe(cursor.RecordSize(), 0);
        seconds = Seconds([&] {
            for (std::uint32_t i : order) {
                recordbuffer::SetText(fields[kName - 1], probe.data(), KeyOf(i));
                if (!cursor.FindKey(false, probe.data(), buffer.data(), 1, 0, false)) throw std::runtime_error("lost key");
            }
        });
        Report("look up by key", count, seconds, 0);

        // Every BLOB read back, in index order.
        std::uint64_t bytes = 0;
        std::uint32_t seen = 0;
        seconds = Seconds([&] {
            cursor.SetToBegin();
            while (cursor.GetNextRecord(buffer.data()) == 0) {
                Check(cursor.OpenBlob(kData, buffer.data(), TBlobOpenMode::Read, length), "OpenBlob");
                std::uint32_t read = 0;
                Check(cursor.GetBlob(kData, buffer.data(), 0, length, blob.data(), read), "GetBlob");
                bytes += read;
                cursor.FreeBlob(kData, buffer.data());
                ++seen;
            }
        });
        if (seen != count || bytes != std::uint64_t{count} * kBlobLength) throw std::runtime_error("read back short");
        Report("read every BLOB in index order", seen, seconds, bytes);

        // 1,000 records changed: a new number and a new BLOB each.
        const std::uint32_t changes = std::min<std::uint32_t>(1000, count);
        seconds = 0;
        for (std::uint32_t k = 0; k < changes; ++k) {
            const std::uint32_t i = order[k];
            FillBlob(blob, i + count);
            seconds += Seconds([&] {
                recordbuffer::SetText(fields[kName - 1], probe.data(), KeyOf(i));
                if (!cursor.FindKey(false, probe.data(), buffer.data(), 1, 0, false)) throw std::runtime_error("lost key");
                Check(cursor.GetCurrentRecord(buffer.data(), true), "edit");
                const std::uint8_t n[4] = {1, 2, 3, 4};
                recordbuffer::SetValue(fields[kNum - 1], buffer.data(), n);
                Check(cursor.OpenBlob(kData, buffer.data(), TBlobOpenMode::Write, length), "OpenBlob");
                Check(cursor.PutBlob(kData, buffer.data(), 0, kBlobLength, blob.data()), "PutBlob");
                cursor.ModifyRecord(buffer.data(), true, false);
            });
        }
        Report("change (new BLOB)", changes, seconds, std::uint64_t{changes} * kBlobLength);

        // Half of the records deleted.
        const std::uint32_t deletes = count / 2;
        seconds = Seconds([&] {
            for (std::uint32_t k = 0; k < deletes; ++k) {
                recordbuffer::SetText(fields[kName - 1], probe.data(), KeyOf(order[count - 1 - k]));
                if (!cursor.FindKey(false, probe.data(), buffer.data(), 1, 0, false)) throw std::runtime_error("lost key");
                cursor.DeleteRecord(buffer.data(), false);
            }
        });
        Report("delete", deletes, seconds, std::uint64_t{deletes} * kBlobLength);
        if (cursor.GetRecordCount() != count - deletes) throw std::runtime_error("wrong count");
        cursor.CloseCursor();
        session.CloseDataDirectory(directory);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        fs::remove_all(folder);
        return 1;
    }
    if (argc <= 1) fs::remove_all(folder);
    return 0;
}
