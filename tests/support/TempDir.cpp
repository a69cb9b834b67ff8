#include "TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace pixhold::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pixhold-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files and folders made by tests must not block the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::folder() const {
    return path_.string() + "/";
}

}  // namespace pixhold::test
