#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pixhold::imaging {

// A picture that cannot be decoded, encoded or drawn. The message is what the
// program shows the user (the decoder's own text where a library gave one).
class EInvalidGraphic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A picture file that cannot be read or written.
class EPictureFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Pictures from strangers may claim any size in their headers: nothing larger
// than this is decoded, and the check comes before any large allocation.
inline constexpr std::uint64_t MaxPicturePixels = 256ull * 1000 * 1000;

// Raises EInvalidGraphic ("... is too large ...") when width x height exceeds
// MaxPicturePixels, or either is not positive. `kind` names the format in the
// message ("JPEG", "PNG", ...).
void CheckPictureSize(std::int64_t width, std::int64_t height, const char* kind);

}  // namespace pixhold::imaging
