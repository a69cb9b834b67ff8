#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pixhold::engine {

class TAbstractFile;
class TFaultPlan;

// The result of TFileList::OpenFile and CreateFile.
struct TFileOpening {
    TAbstractFile* file = nullptr;
    std::uint32_t handle = 0;
    bool readOnly = false;
    bool readOnlyAttribute = false;
};

// The process-wide registry of open files: every opening of one file in the
// process shares one file object (and so one descriptor or memory buffer).
// Files are found by name, trimmed and compared without regard to letter case,
// among files of the same kind only. Operations return 0 or a logical handle
// on success and a negated engine error code on failure, and hold the list's
// lock for their whole duration (a file's access lock is only ever taken
// inside it, never the other way round).
class TFileList {
public:
    TFileList();
    ~TFileList();
    TFileList(const TFileList&) = delete;
    TFileList& operator=(const TFileList&) = delete;

    [[nodiscard]] int CreateFile(const std::string& name, bool inMemory, bool temporary, TFileOpening& result);
    [[nodiscard]] int OpenFile(const std::string& name, bool inMemory, bool temporary, bool exclusive, TFileOpening& result);
    [[nodiscard]] int CloseFile(TAbstractFile* file, bool inMemory, std::uint32_t handle);
    [[nodiscard]] int RenameFile(const std::string& name, bool inMemory, const std::string& newName);
    [[nodiscard]] int DeleteFile(const std::string& name, bool inMemory);
    bool FileExists(const std::string& name, bool inMemory);
    // Copies the whole of `file` into a new file `target` of the given kind.
    [[nodiscard]] int CopyToFile(TAbstractFile* file, std::uint32_t handle, const std::string& target, bool inMemory);
    // Replaces the contents of `file` with those of the file `source`.
    [[nodiscard]] int CopyFromFile(TAbstractFile* file, std::uint32_t handle, const std::string& source, bool inMemory);

    // Number of file objects in the list (in-memory files stay until deleted).
    std::size_t Count();

    // Test support: the fault plan every file consults (null for none).
    void SetFaultPlan(std::shared_ptr<TFaultPlan> plan);
    std::shared_ptr<TFaultPlan> FaultPlan() const;

    static constexpr std::size_t kCopyBlock = 65536;

private:
    TAbstractFile* Find(const std::string& name, bool inMemory);
    void Remove(TAbstractFile* file);
    [[nodiscard]] int Copy(TAbstractFile& from, std::uint32_t fromHandle, TAbstractFile& to, std::uint32_t toHandle);

    std::recursive_mutex section_;
    std::vector<std::unique_ptr<TAbstractFile>> files_;
    mutable std::mutex faultMutex_;
    std::shared_ptr<TFaultPlan> faultPlan_;
    // Whether a plan is installed: every read and write asks, and outside
    // the fault tests the answer is no without taking the mutex.
    std::atomic<bool> faultPlanSet_{false};
};

// The one file list of the process.
TFileList& FileList();
// Whether that list still exists (it is destroyed, freeing its files, at exit).
bool FileListAlive();

}  // namespace pixhold::engine
