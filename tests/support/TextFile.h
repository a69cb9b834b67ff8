#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pixhold::test {

// Whole files as bytes in a string, for tests that write a file by hand or
// check what was written.
inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace pixhold::test
