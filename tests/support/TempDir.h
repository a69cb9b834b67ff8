#pragma once

#include <filesystem>
#include <string>

namespace pixhold::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder with a trailing separator, as the engine and the settings expect.
    std::string folder() const;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace pixhold::test
