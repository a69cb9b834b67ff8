#include "Cipher.h"

namespace pixhold::engine {

void ScrambleBuffer(void* buffer, std::size_t length, std::uint8_t rising, std::uint8_t falling) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint8_t r = rising;
    std::uint8_t f = falling;
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ r ^ f);
        ++r;  // wraps modulo 256
        --f;
    }
}

}  // namespace pixhold::engine
