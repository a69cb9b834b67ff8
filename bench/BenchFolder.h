#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace pixhold::bench {

// The benchmark's folder: the first argument when given, else a fresh name
// under $TMPDIR (or /tmp) starting with `prefix`.
inline std::filesystem::path BenchFolder(int argc, char** argv, const std::string& prefix) {
    if (argc > 1 && argv[1][0] != '\0') return argv[1];
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    return base / (prefix + std::to_string(std::random_device{}()));
}

}  // namespace pixhold::bench
