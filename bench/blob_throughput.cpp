// Throughput of storing and reading back one whole BLOB value, next to a plain
// write and read of the same bytes to a file in the same folder.
//
//   bench_blob_throughput [folder] [repetitions]
//
// The folder defaults to a fresh one under $TMPDIR (or /tmp). Each figure is
// the best of the repetitions, in MB/s (10^6 bytes per second) of value bytes.
// Only the transfer is timed: the plain side is one pwrite or pread of the
// whole value on an open file; the BLOB side is WriteValue with FlushBlocks and
// WriteHeader on a created file, and ReadValue on a freshly opened file (empty
// cache). Nothing is flushed to the disk itself: both sides measure the way
// into and out of the operating system's cache, which is where the engine's
// own work shows. The "layout" columns move the same bytes split as the block
// layout splits them (18-byte header, data area) with pwritev/preadv and no
// engine work at all: the share of the plain figure that the layout leaves.

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

// The plain side: one write and one read of the whole value on an open file.
void PlainWrite(int fd, const std::vector<std::uint8_t>& bytes) {
    Check(::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()), "write");
}

void PlainRead(int fd, std::vector<std::uint8_t>& bytes) {
    Check(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()), "read");
}

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

struct Figures {
    double plainWrite = 0, blobWrite = 0, plainRead = 0, blobRead = 0, layoutWrite = 0, layoutRead = 0;
};

Figures Measure(const fs::path& folder, std::size_t size, std::uint32_t blockSize, int repetitions) {
    std::vector<std::uint8_t> value(size);
    std::mt19937 random(static_cast<std::uint32_t>(size + blockSize));
    for (auto& b : value) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> readBack(size);
    std::vector<std::uint8_t> blobBack;

    const std::string plainPath = (folder / "plain.bin").string();
    const std::string blobPath = (folder / "bench.Blb").string();
    double best[6] = {1e9, 1e9, 1e9, 1e9, 1e9, 1e9};
    BlockLayout layout(value.data(), size, blockSize);
    BlockLayout layoutBack(readBack.data(), size, blockSize);
    BenchOwner owner;
    NoCursor cursor;

    for (int r = 0; r < repetitions; ++r) {
        fs::remove(plainPath);
        fs::remove(blobPath);
        // Opening and closing stay outside the timing on both sides.
        const int fd = ::open(plainPath.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
        Check(fd >= 0, "open");
        best[0] = std::min(best[0], Seconds([&] { PlainWrite(fd, value); }));
        best[2] = std::min(best[2], Seconds([&] { PlainRead(fd, readBack); }));
        ::close(fd);
        Check(readBack == value, "plain read back");
        fs::remove(plainPath);
        const int vfd = ::open(plainPath.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
        Check(vfd >= 0, "open");
        best[4] = std::min(best[4], Seconds([&] {
                               layout.Transfer([vfd](const iovec* v, int n, off_t at) { return ::pwritev(vfd, v, n, at); });
                           }));
        best[5] = std::min(best[5], Seconds([&] {
                               layoutBack.Transfer([vfd](const iovec* v, int n, off_t at) { return ::preadv(vfd, v, n, at); });
                           }));
        ::close(vfd);

        std::uint32_t first = 0;
        {
            TBlobFile file(owner);
            file.Name = blobPath;
            file.SetBlockSize(blockSize);
            file.CreateFile();
            file.WriteHeader();
            best[1] = std::min(best[1], Seconds([&] {
                                   file.WriteValue(&cursor, first, 1, value.data(), value.size());
                                   file.FlushBlocks();
                                   file.WriteHeader();
                               }));
            file.CloseFile();
        }
        {
            TBlobFile file(owner);
            file.Name = blobPath;
            file.SetBlockSize(blockSize);
            file.OpenFile();
            best[3] = std::min(best[3], Seconds([&] { Check(file.ReadValue(&cursor, first, 1, blobBack), "value read"); }));
            file.CloseFile();
        }
        Check(blobBack == value, "value read back");
    }
    fs::remove(plainPath);
    fs::remove(blobPath);
    auto rate = [size](double seconds) { return static_cast<double>(size) / seconds / 1e6; };
    return {rate(best[0]), rate(best[1]), rate(best[2]), rate(best[3]), rate(best[4]), rate(best[5])};
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
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    std::printf("folder %s, best of %d, MB/s\n", folder.string().c_str(), repetitions);
    std::printf("%-8s %6s | %9s %9s %6s %9s | %9s %9s %6s %9s\n", "value", "block", "plain wr", "blob wr", "ratio",
                "layout wr", "plain rd", "blob rd", "ratio", "layout rd");
    for (std::uint32_t blockSize : {512u, 4096u}) {
        for (std::size_t mib : {1u, 4u, 16u}) {
            const Figures f = Measure(folder, mib << 20, blockSize, repetitions);
            std::printf("%3zu MiB  %6u | %9.0f %9.0f %5.0f%% %8.0f%% | %9.0f %9.0f %5.0f%% %8.0f%%\n", mib, blockSize,
                        f.plainWrite, f.blobWrite, 100.0 * f.blobWrite / f.plainWrite,
                        100.0 * f.layoutWrite / f.plainWrite, f.plainRead, f.blobRead,
                        100.0 * f.blobRead / f.plainRead, 100.0 * f.layoutRead / f.plainRead);
        }
    }
    if (ownFolder) fs::remove_all(folder);
    return 0;
}
