// Throughput of storing and reading back one whole BLOB value, next to a plain
// write and read of the same bytes to a file in the same folder.
//
//   bench_blob_throughput [folder] [repetitions]
//
// The folder defaults to a fresh one under $TMPDIR (or /tmp); repetitions to
// 15. Figures are MB/s (10^6 bytes per second) of value bytes, the best and
// the median of the repetitions. Only the transfer is timed: the plain side is
// one pwrite of the whole value on an open file, and for reading whichever is
// faster (by its median) of one pread of the whole value and preads of 1 MiB,
// 256 KiB, 64 KiB or 16 KiB one after the other; the BLOB side is WriteValue with FlushBlocks and
// WriteHeader on a created file, and ReadValue on a freshly opened file (empty
// block cache). Every side writes a new file
// and reads it back at once, and the sides take turns in an order that changes
// with every repetition.
//
// Two rounds are measured. "To and from the disk": every write ends with the
// file's operating-system buffers flushed to the disk (fsync, as the engine
// does with ForceBufferFlush), and before every read the file's pages are
// dropped from the operating system's cache, so the bytes come from the disk.
// "Through the cache": nothing is flushed or dropped on any side, so all
// sides measure the way into and out of the operating system's cache, at
// memory-copy speed, which is where the engine's own work shows most.
//
// The "layout" columns move the same bytes split as the block layout splits
// them (18-byte header, data area) with pwritev/preadv and no engine work at
// all: the share of the plain figure that the block layout itself leaves.

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "BlobFile.h"
#include "TableContext.h"

namespace fs = std::filesystem;
using namespace pixhold::engine;

namespace {

class BenchOwner : public TTableOwner {
public:
    bool TransactionLockHeld() const override { return false; }
    bool WrittenTo() const override { return written_; }
    void MarkWrittenTo() override { written_ = true; }

private:
    bool written_ = false;
};

class NoCursor : public TCursorContext {
public:
    void LogMessage(const std::string&) override {}
};

double Seconds(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "failed: %s\n", what);
        std::exit(1);
    }
}

// Drops the file's pages from the operating system's cache (they are clean
// once flushed), so that the next read comes from the disk.
void DropCachedPages(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    Check(fd >= 0, "open to drop cached pages");
    Check(::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0, "drop cached pages");
    ::close(fd);
}

// The plain side: one write and one read of the whole value on an open file.
void PlainWrite(int fd, const std::vector<std::uint8_t>& bytes) {
    Check(::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()), "write");
}

void PlainRead(int fd, std::vector<std::uint8_t>& bytes) {
    Check(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()), "read");
}

// The same read as reads of `run` bytes one after the other. From the disk
// these are often faster than one read of everything (the kernel reads ahead
// while the bytes are copied), so the plain figure is the best of several.
void PlainReadInRuns(int fd, std::vector<std::uint8_t>& bytes, std::size_t run) {
    for (std::size_t at = 0; at < bytes.size(); at += run) {
        const std::size_t count = std::min(run, bytes.size() - at);
        Check(::pread(fd, bytes.data() + at, count, static_cast<off_t>(at)) == static_cast<ssize_t>(count), "read");
    }
}
constexpr std::size_t kPlainReadRuns[] = {1 << 20, 256 << 10, 64 << 10, 16 << 10};

// The same bytes laid out as blocks (an 18-byte header before every data
// area) moved with pwritev/preadv straight from and into the value: what the
// block layout itself costs the operating system, without any engine work.
struct BlockLayout {
    std::vector<std::uint8_t> headers;
    std::vector<iovec> pieces;

    BlockLayout(std::uint8_t* value, std::size_t size, std::uint32_t blockSize) {
        const std::size_t dataSize = blockSize - 18;
        const std::size_t blocks = (size + dataSize - 1) / dataSize;
        headers.assign(blocks * 18, 0);
        for (std::size_t i = 0; i < blocks; ++i) {
            pieces.push_back({headers.data() + i * 18, 18});
            pieces.push_back({value + i * dataSize, std::min(dataSize, size - i * dataSize)});
        }
    }
    template <typename Call>
    void Transfer(Call call) {
        off_t at = 0;
        for (std::size_t i = 0; i < pieces.size(); i += IOV_MAX) {
            const int n = static_cast<int>(std::min<std::size_t>(IOV_MAX, pieces.size() - i));
            const ssize_t moved = call(pieces.data() + i, n, at);
            Check(moved > 0, "vectored transfer");
            at += moved;
        }
    }
};

// Best and median seconds of the repetitions of one transfer.
struct Timings {
    std::vector<double> seconds;
    double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double Median() const {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

enum Side { kPlainWrite, kPlainRead, kBlobWrite, kBlobRead, kLayoutWrite, kLayoutRead, kSides };

struct Figures {
    Timings t[kSides];
    Timings plainRuns[std::size(kPlainReadRuns)];  // kPlainRead in runs of each size
};

Figures Measure(const fs::path& folder, std::size_t size, std::uint32_t blockSize, int repetitions,
                bool throughDisk) {
    std::vector<std::uint8_t> value(size);
    std::mt19937 random(static_cast<std::uint32_t>(size + blockSize));
    for (auto& b : value) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> readBack(size);
    std::vector<std::uint8_t> layoutBack(size);
    std::vector<std::uint8_t> blobBack;

    const std::string plainPath = (folder / "plain.bin").string();
    const std::string layoutPath = (folder / "layout.bin").string();
    const std::string blobPath = (folder / "bench.Blb").string();
    BlockLayout layout(value.data(), size, blockSize);
    BlockLayout layoutIn(layoutBack.data(), size, blockSize);
    BenchOwner owner;
    NoCursor cursor;
    Figures f;

    // Each side writes a new file and reads it back at once; opening and
    // closing stay outside the timing on every side.
    auto plain = [&] {
        fs::remove(plainPath);
        const int fd = ::open(plainPath.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
        Check(fd >= 0, "open");
        f.t[kPlainWrite].seconds.push_back(Seconds([&] {
            PlainWrite(fd, value);
            if (throughDisk) Check(::fsync(fd) == 0, "fsync");
        }));
        if (throughDisk) DropCachedPages(plainPath);
        f.t[kPlainRead].seconds.push_back(Seconds([&] { PlainRead(fd, readBack); }));
        Check(readBack == value, "plain read back");
        for (std::size_t r = 0; r < std::size(kPlainReadRuns); ++r) {
            std::fill(readBack.begin(), readBack.end(), 0);
            if (throughDisk) DropCachedPages(plainPath);
            f.plainRuns[r].seconds.push_back(Seconds([&] { PlainReadInRuns(fd, readBack, kPlainReadRuns[r]); }));
            Check(readBack == value, "plain read back in runs");
        }
        ::close(fd);
    };
    auto blockLayout = [&] {
        fs::remove(layoutPath);
        const int fd = ::open(layoutPath.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
        Check(fd >= 0, "open");
        f.t[kLayoutWrite].seconds.push_back(Seconds([&] {
            layout.Transfer([fd](const iovec* v, int n, off_t at) { return ::pwritev(fd, v, n, at); });
            if (throughDisk) Check(::fsync(fd) == 0, "fsync");
        }));
        if (throughDisk) DropCachedPages(layoutPath);
        f.t[kLayoutRead].seconds.push_back(Seconds([&] {
            layoutIn.Transfer([fd](const iovec* v, int n, off_t at) { return ::preadv(fd, v, n, at); });
        }));
        ::close(fd);
        Check(layoutBack == value, "layout read back");
    };
    auto blob = [&] {
        fs::remove(blobPath);
        std::uint32_t first = 0;
        {
            TBlobFile file(owner);
            file.Name = blobPath;
            file.SetBlockSize(blockSize);
            file.CreateFile();
            file.WriteHeader();
            f.t[kBlobWrite].seconds.push_back(Seconds([&] {
                file.WriteValue(&cursor, first, 1, value.data(), value.size());
                file.FlushBlocks();
                file.WriteHeader();
                if (throughDisk) file.FlushFile();
            }));
            file.CloseFile();
        }
        {
            TBlobFile file(owner);
            file.Name = blobPath;
            file.SetBlockSize(blockSize);
            file.OpenFile();
            // Dropped after the open, whose header read would otherwise bring
            // in the start of the file ahead of the timing.
            if (throughDisk) DropCachedPages(blobPath);
            f.t[kBlobRead].seconds.push_back(
                Seconds([&] { Check(file.ReadValue(&cursor, first, 1, blobBack), "value read"); }));
            file.CloseFile();
        }
        Check(blobBack == value, "value read back");
    };
    // The order turns with every repetition, so that no side always follows
    // the same one.
    const std::function<void()> sides[] = {plain, blob, blockLayout};
    for (int r = 0; r < repetitions; ++r) {
        for (int k = 0; k < 3; ++k) sides[(r + k) % 3]();
    }
    fs::remove(plainPath);
    fs::remove(layoutPath);
    fs::remove(blobPath);
    return f;
}

void PrintTable(const char* title, const std::vector<std::pair<std::string, Figures>>& rows,
                double (Timings::*pick)() const, std::size_t (*sizeOf)(const std::string&)) {
    std::printf("%s\n", title);
    std::printf("%-8s %6s | %9s %9s %6s %9s | %9s %9s %6s %9s\n", "value", "block", "plain wr", "blob wr", "ratio",
                "layout wr", "plain rd", "blob rd", "ratio", "layout rd");
    for (const auto& [label, f] : rows) {
        const double size = static_cast<double>(sizeOf(label));
        double rate[kSides];
        for (int i = 0; i < kSides; ++i) rate[i] = size / (f.t[i].*pick)() / 1e6;
        // The plain read is the way of reading with the best median; taking the
        // best single time over all ways would give the plain side more draws.
        const Timings* plainRead = &f.t[kPlainRead];
        for (const Timings& runs : f.plainRuns) {
            if (runs.Median() < plainRead->Median()) plainRead = &runs;
        }
        rate[kPlainRead] = size / (plainRead->*pick)() / 1e6;
        std::printf("%s | %9.0f %9.0f %5.0f%% %8.0f%% | %9.0f %9.0f %5.0f%% %8.0f%%\n", label.c_str(),
                    rate[kPlainWrite], rate[kBlobWrite], 100.0 * rate[kBlobWrite] / rate[kPlainWrite],
                    100.0 * rate[kLayoutWrite] / rate[kPlainWrite], rate[kPlainRead], rate[kBlobRead],
                    100.0 * rate[kBlobRead] / rate[kPlainRead], 100.0 * rate[kLayoutRead] / rate[kPlainRead]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    fs::path folder;
    bool ownFolder = false;
    if (argc > 1 && argv[1][0] != '\0') {
        folder = argv[1];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/blobbench-XXXXXX";
        Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        folder = pattern;
        ownFolder = true;
    }
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;

    std::printf("folder %s, %d repetitions, MB/s of value bytes\n", folder.string().c_str(), repetitions);
    auto sizeOf = [](const std::string& label) { return static_cast<std::size_t>(std::atoi(label.c_str())) << 20; };
    for (const bool throughDisk : {true, false}) {
        std::vector<std::pair<std::string, Figures>> rows;
        for (std::uint32_t blockSize : {512u, 4096u}) {
            for (std::size_t mib : {1u, 4u, 16u}) {
                char label[32];
                std::snprintf(label, sizeof label, "%3zu MiB  %6u", mib, blockSize);
                rows.emplace_back(label, Measure(folder, mib << 20, blockSize, repetitions, throughDisk));
            }
        }
        std::printf("\n%s\n", throughDisk ? "To and from the disk (writes flushed, reads from the disk)"
                                          : "Through the operating system's cache (nothing flushed)");
        PrintTable("best of the repetitions", rows, &Timings::Best, sizeOf);
        PrintTable("median of the repetitions", rows, &Timings::Median, sizeOf);
    }
    if (ownFolder) fs::remove_all(folder);
    return 0;
}
