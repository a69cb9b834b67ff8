#include "Cipher.h"

#include <cstring>

namespace pixhold::engine {

void ScrambleBuffer(void* buffer, std::size_t length, std::uint8_t rising, std::uint8_t falling) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    // The keystream byte i is (rising + i) ^ (falling - i), both modulo 256,
    // so it repeats every 256 bytes: one period is made once and laid over
    // the buffer eight bytes at a time (pages and BLOB blocks are read and
    // written through here, so this runs on every transfer of a ciphered table).
    constexpr std::size_t kPeriod = 256;
    std::uint8_t key[kPeriod];
    std::uint8_t r = rising;
    std::uint8_t f = falling;
    for (std::size_t i = 0; i < kPeriod; ++i) {
        key[i] = static_cast<std::uint8_t>(r ^ f);
        ++r;  // wraps modulo 256
        --f;
    }
    std::size_t done = 0;
    while (length - done >= kPeriod) {
        for (std::size_t i = 0; i < kPeriod; i += 8) {
            std::uint64_t word;
            std::uint64_t mask;
            std::memcpy(&word, bytes + done + i, 8);
            std::memcpy(&mask, key + i, 8);
            word ^= mask;
            std::memcpy(bytes + done + i, &word, 8);
        }
        done += kPeriod;
    }
    for (std::size_t i = 0; done + i < length; ++i) bytes[done + i] ^= key[i];
}

}  // namespace pixhold::engine
