#include "Cipher.h"

#include <cstring>

namespace pixhold::engine {

namespace {

// The keystream byte i is (rising + i) ^ (falling - i), both modulo 256, so it
// repeats every 256 bytes. One period is kept for the last seed pair used on
// this thread: pages and BLOB blocks pass through here on every transfer of a
// ciphered table, nearly always with the same seeds.
constexpr std::size_t kPeriod = 256;

struct TKeystream {
    bool made = false;
    std::uint8_t rising = 0;
    std::uint8_t falling = 0;
    std::uint8_t key[kPeriod];
};

const std::uint8_t* Period(std::uint8_t rising, std::uint8_t falling) {
    thread_local TKeystream stream;
    if (!stream.made || stream.rising != rising || stream.falling != falling) {
        std::uint8_t r = rising;
        std::uint8_t f = falling;
        for (std::size_t i = 0; i < kPeriod; ++i) {
            stream.key[i] = static_cast<std::uint8_t>(r ^ f);
            ++r;  // wraps modulo 256
            --f;
        }
        stream.rising = rising;
        stream.falling = falling;
        stream.made = true;
    }
    return stream.key;
}

}  // namespace

void ScrambleBuffer(void* buffer, std::size_t length, std::uint8_t rising, std::uint8_t falling) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (length < 64) {
        // Headers and short texts: the stream byte by byte.
        std::uint8_t r = rising;
        std::uint8_t f = falling;
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ r ^ f);
            ++r;
            --f;
        }
        return;
    }
    const std::uint8_t* key = Period(rising, falling);
    std::size_t done = 0;
    while (done < length) {
        const std::size_t piece = length - done < kPeriod ? length - done : kPeriod;
        std::size_t i = 0;
        for (; i + 8 <= piece; i += 8) {
            std::uint64_t word;
            std::uint64_t mask;
            std::memcpy(&word, bytes + done + i, 8);
            std::memcpy(&mask, key + i, 8);
            word ^= mask;
            std::memcpy(bytes + done + i, &word, 8);
        }
        for (; i < piece; ++i) bytes[done + i] ^= key[i];
        done += piece;
    }
}

}  // namespace pixhold::engine
