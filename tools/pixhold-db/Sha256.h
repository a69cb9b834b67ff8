#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pixhold::tools {

// SHA-256 (FIPS 180-4), fed in pieces. The dump prints BLOBs by their digest.
class Sha256 {
public:
    Sha256();
    void Update(const std::uint8_t* data, std::size_t length);
    // The digest; the object must not be fed afterwards.
    std::array<std::uint8_t, 32> Finish();
    // Lower-case hexadecimal digest of a whole buffer.
    static std::string Hex(const std::uint8_t* data, std::size_t length);

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingLength_ = 0;
    std::uint64_t totalBytes_ = 0;
};

}  // namespace pixhold::tools
