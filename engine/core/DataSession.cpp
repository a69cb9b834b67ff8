#include "DataSession.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "DataDirectory.h"
#include "FileName.h"
#include "TableFileNames.h"

namespace pixhold::engine {

namespace {

constexpr std::size_t kMaxText = 255;
constexpr const char* kMemoryDirectoryName = "Memory";

std::string CurrentFolder() {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? std::string{} : current.string();
}

std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp != nullptr && *tmp != '\0') ? std::string(tmp) : std::string("/tmp");
}

}  // namespace

TDataSession::TDataSession()
    : defaultDir_(DirectoryPath(CurrentFolder())), privateDir_(DirectoryPath(TemporaryFolder())) {}

TDataSession::~TDataSession() {
    RemoveAllPasswords();
    // Directories go last to first, as they were opened.
    while (!directories_.empty()) directories_.pop_back();
}

TDataDirectory* TDataSession::OpenDataDirectory(const std::string& name, const std::string& directory) {
    std::string path = DirectoryPath(directory);
    if (path.empty() && !SameFileName(name, kMemoryDirectoryName)) path = defaultDir_;
    for (const auto& dir : directories_) {
        if (SameTableName(dir->Path(), path)) {
            dir->AddUse();
            return dir.get();
        }
    }
    directories_.push_back(std::make_unique<TDataDirectory>(*this, path));
    return directories_.back().get();
}

void TDataSession::CloseDataDirectory(TDataDirectory* directory) {
    const auto it = std::find_if(directories_.begin(), directories_.end(),
                                 [directory](const auto& d) { return d.get() == directory; });
    if (it == directories_.end()) return;
    if ((*it)->UseCount() == 0) return;
    if ((*it)->ReleaseUse() == 0) directories_.erase(it);
}

void TDataSession::AddPassword(const std::string& password) {
    if (password.empty() || HasPassword(password)) return;
    passwords_.push_back(password.substr(0, kMaxText));
}

void TDataSession::RemovePassword(const std::string& password) {
    const auto it = std::find(passwords_.begin(), passwords_.end(), password);
    if (it != passwords_.end()) passwords_.erase(it);
}

void TDataSession::RemoveAllPasswords() {
    while (!passwords_.empty()) passwords_.pop_back();
}

bool TDataSession::HasPassword(const std::string& password) const {
    return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

void TDataSession::SetPrivateDir(const std::string& path) { privateDir_ = DirectoryPath(path); }

std::string TDataSession::GetPrivateDir() const { return privateDir_.empty() ? defaultDir_ : privateDir_; }

}  // namespace pixhold::engine
