#pragma once

#include "ByteSpan.h"

#include <string>

namespace pixhold::imaging {

// Picture files are read whole (a picture larger than this is refused before
// it is read) and replaced only once the new bytes are completely on disk.
inline constexpr std::uint64_t MaxPictureFileBytes = 1ull << 31;

// The bytes of a file; raises EPictureFileError with a clear text when it
// cannot be read.
TByteVector ReadPictureFile(const std::string& path);
// The first `count` bytes of a file (fewer when it is shorter), with the
// same errors.
TByteVector ReadPictureFileHead(const std::string& path, std::size_t count);
// Writes the bytes to a new file beside `path`, flushes it to the disk and
// renames it over `path`, so a failure never leaves a half-written picture in
// place of the old one. Raises EPictureFileError.
void WritePictureFile(const std::string& path, TBytes bytes);

}  // namespace pixhold::imaging
