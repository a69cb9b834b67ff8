#pragma once

#include <cstdint>
#include <vector>

namespace pixhold::fuzz {

using TInput = std::vector<std::uint8_t>;

// A small, fully specified random generator (splitmix64), so that a run is
// the same on every machine and standard library for the same seed.
class TRandom {
public:
    explicit TRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    // 0 to n - 1 (0 when n is 0).
    std::size_t Below(std::size_t n) { return n ? static_cast<std::size_t>(Next() % n) : 0; }
    bool OneIn(unsigned n) { return Below(n) == 0; }

private:
    std::uint64_t state_;
};

// Deterministic changes to an input: bit flips, interesting byte, 16- and
// 32-bit values in either byte order, small additions, random bytes,
// truncation, deletion, duplication and insertion of chunks, and splicing with
// another input. Each call applies a short stack of them.
class TMutator {
public:
    explicit TMutator(std::size_t maxSize) : maxSize_(maxSize) {}
    // `other` is a second input to splice with (may be the same one).
    TInput Mutate(const TInput& input, const TInput& other, TRandom& random) const;

private:
    void MutateOnce(TInput& data, const TInput& other, TRandom& random) const;
    std::size_t maxSize_;
};

}  // namespace pixhold::fuzz
