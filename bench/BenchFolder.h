#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace pixhold::bench {

// The benchmark's folder: the first argument when given, else a fresh name
// under $TMPDIR (or /tmp) starting with `prefix`. The program's settings
// move into it as well ($XDG_CONFIG_HOME), so that a run never reads or
// writes the user's "Pixhold.ini".
inline std::filesystem::path BenchFolder(int argc, char** argv, const std::string& prefix) {
    std::filesystem::path folder;
    if (argc > 1 && argv[1][0] != '\0') {
        folder = argv[1];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        const std::filesystem::path base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        folder = base / (prefix + std::to_string(std::random_device{}()));
    }
    ::setenv("XDG_CONFIG_HOME", (folder / "settings").c_str(), 1);
    return folder;
}

}  // namespace pixhold::bench
