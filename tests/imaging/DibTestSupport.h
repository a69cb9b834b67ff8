#pragma once

// Fixtures and outside programs shared by the BMP and icon codec tests.

#include "ByteSpan.h"

#include <QColor>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace pixhold::imaging::test {

inline std::filesystem::path FixturePath(const std::string& folder, const std::string& name) {
    return std::filesystem::path(PIXHOLD_SOURCE_DIR) / "tests/imaging/fixtures" / folder / name;
}

inline TByteVector ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("missing fixture " + path.string());
    return TByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, TBytes bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The output of a command, or nothing when it failed.
inline std::optional<TByteVector> RunTool(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    TByteVector out;
    std::uint8_t buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
    if (::pclose(pipe) != 0) return std::nullopt;
    return out;
}

inline constexpr const char* ImageMagick = "/usr/bin/convert";
inline constexpr const char* DebianPython = "/usr/bin/python3";

inline bool HavePillow() {
    return std::filesystem::exists(DebianPython) &&
           RunTool(std::string(DebianPython) + " -c 'import PIL'").has_value();
}

// How ImageMagick decodes a file: RGBA bytes, 8 bits each, rows from the top.
inline std::optional<TByteVector> ImageMagickRgba(const std::filesystem::path& file) {
    if (!std::filesystem::exists(ImageMagick)) return std::nullopt;
    return RunTool(std::string(ImageMagick) + " '" + file.string() + "' -depth 8 RGBA:-");
}

// How Pillow decodes a file (the entry of `size` for icons): RGBA bytes.
inline std::optional<TByteVector> PillowRgba(const std::filesystem::path& file) {
    if (!HavePillow()) return std::nullopt;
    return RunTool(std::string(DebianPython) +
                   " -c 'import sys; from PIL import Image; "
                   "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert(\"RGBA\").tobytes())' '" +
                   file.string() + "'");
}

inline QRgb RgbaAt(const TByteVector& rgba, int width, int x, int y) {
    const std::size_t at = 4 * (static_cast<std::size_t>(y) * width + x);
    return qRgba(rgba[at], rgba[at + 1], rgba[at + 2], rgba[at + 3]);
}

// A fixture's file name as a test name.
inline std::string TestName(std::string name) {
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return name;
}

// The fixture patterns (make-fixtures.sh draws the same).
inline constexpr QRgb Colours8[8] = {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                                     0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF, 0xFFFFFFFF};
inline QRgb Colour8At(int x, int y) {
    return Colours8[(x + 2 * y) % 8];
}
inline QRgb MonoAt(int x, int y) {
    return (3 * x + y) % 5 < 2 ? 0xFFFFFFFF : 0xFF000000;
}
inline QRgb TrueAt(int x, int y) {
    return qRgb(x * 19 % 256, y * 37 % 256, (x * y * 11 + 5) % 256);
}
inline QRgb AlphaAt(int x, int y) {
    const QRgb c = TrueAt(x, y);
    return qRgba(qRed(c), qGreen(c), qBlue(c), (x * 20 + y * 3) % 256);
}

}  // namespace pixhold::imaging::test
