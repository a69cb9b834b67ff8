#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FileHandler.h"
#include "FileTestHelpers.h"
#include "TempDir.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;
using pixhold::test::ChildProcess;
using pixhold::test::TempDir;

namespace {

struct Region {
    std::int64_t first;
    std::int64_t length;
    std::int64_t last() const { return first + length - 1; }
};

// Whether another process sees the byte locked (probing from its own opening).
bool LockedForOthers(int fd, std::int64_t offset) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = static_cast<off_t>(offset);
    probe.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

// Random locks and unlocks through two openings of one file, against a list
// of held regions: a lock is granted exactly when it overlaps no held region,
// an unlock exactly when it names a held region. For a file on disk another
// process must then see exactly the held bytes locked.
class LockModel : public ::testing::TestWithParam<bool> {};

TEST_P(LockModel, RandomLocksAndUnlocksMatchTheHeldRegions) {
    TempDir dir;
    const std::string path = (dir / "Model.Idx").string();
    TFileHandler a;
    TFileHandler b;
    Describe(a, path, GetParam());
    Describe(b, path, GetParam());
    a.CreateFile();
    b.OpenFile();
    TFileHandler* openings[] = {&a, &b};

    std::vector<Region> held;
    std::mt19937 random(1234);
    // A small window so that regions collide often, placed where the lock map lives.
    const std::int64_t base = lockmap::WriteLockOffset;
    for (int step = 0; step < 3000; ++step) {
        TFileHandler& h = *openings[random() % 2];
        if (random() % 2 == 0 || held.empty()) {
            const Region r{base + static_cast<std::int64_t>(random() % 300),
                           static_cast<std::int64_t>(random() % 20 + 1)};
            bool free = true;
            for (const auto& x : held)
                if (r.first <= x.last() && x.first <= r.last()) free = false;
            ASSERT_EQ(h.LockRegion(true, r.first, r.length), free) << "lock at step " << step;
            if (free) held.push_back(r);
        } else {
            // Mostly a held region, sometimes one a byte off.
            const std::size_t i = random() % held.size();
            Region r = held[i];
            const int skew = static_cast<int>(random() % 4);
            if (skew == 1) r.length += 1;
            if (skew == 2 && r.length > 1) r.length -= 1;
            const bool exact = r.length == held[i].length;
            ASSERT_EQ(h.LockRegion(false, r.first, r.length), exact) << "unlock at step " << step;
            if (exact) held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    if (!GetParam()) {
        ChildProcess child([&](ChildProcess::Channel&) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return 2;
            for (std::int64_t offset = base - 2; offset < base + 330; ++offset) {
                bool inHeld = false;
                for (const auto& x : held)
                    if (x.first <= offset && offset <= x.last()) inHeld = true;
                if (LockedForOthers(fd, offset) != inHeld) return 1;
            }
            return 0;
        });
        EXPECT_EQ(child.Wait(), 0) << "another process sees other bytes locked than the ones held";
    }
    b.CloseFile();
    a.CloseFile();
    a.DeleteFile();
}

INSTANTIATE_TEST_SUITE_P(Kinds, LockModel, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Memory" : "Physical"; });

}  // namespace
