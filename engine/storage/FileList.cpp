#include "FileList.h"

#include <algorithm>
#include <atomic>
#include <sys/stat.h>
#include <vector>

#include "AbstractFile.h"
#include "EngineError.h"
#include "FaultPlan.h"
#include "FileName.h"
#include "MemoryFile.h"
#include "OsError.h"
#include "PhysicalFile.h"

namespace pixhold::engine {
namespace {

constexpr int Neg(std::uint16_t code) { return -static_cast<int>(code); }

std::unique_ptr<TAbstractFile> MakeFile(const std::string& name, bool inMemory) {
    if (inMemory) return std::make_unique<TMemoryFile>(name);
    return std::make_unique<TPhysicalFile>(name);
}

}  // namespace

namespace {
// The process-wide list, and false once it has been destroyed at exit, so that
// file handlers that outlive it (static ones) do not reach into a dead list.
const TFileList* gProcessList = nullptr;
std::atomic<bool> gListAlive{false};
}  // namespace

TFileList::TFileList() = default;
TFileList::~TFileList() {
    if (this == gProcessList) gListAlive = false;
}

TFileList& FileList() {
    static TFileList list;
    static const bool registered = [] {
        gProcessList = &list;
        gListAlive = true;
        return true;
    }();
    (void)registered;
    return list;
}

bool FileListAlive() { return gListAlive.load(); }

TAbstractFile* TFileList::Find(const std::string& name, bool inMemory) {
    for (const auto& file : files_)
        if (file->InMemory() == inMemory && SameFileName(file->Name(), name)) return file.get();
    return nullptr;
}

void TFileList::Remove(TAbstractFile* file) {
    files_.erase(std::remove_if(files_.begin(), files_.end(), [file](const auto& f) { return f.get() == file; }),
                 files_.end());
}

std::size_t TFileList::Count() {
    std::lock_guard lock(section_);
    return files_.size();
}

int TFileList::CreateFile(const std::string& name, bool inMemory, bool temporary, TFileOpening& result) {
    std::lock_guard lock(section_);
    result = {};
    // A created file is not open exclusively inside the process (other openings
    // share it); the operating-system file shuts other processes out until its
    // last handle closes.
    if (TAbstractFile* found = Find(name, inMemory)) {
        if (found->HandleCount() > 0) return Neg(err::AccessDenied);
        found->SetExclusive(false);
        found->SetTemporary(temporary);
        const int rc = found->CreateFile();
        if (rc < 0) return rc;
        result = {found, static_cast<std::uint32_t>(rc), false, false};
        return rc;
    }
    auto file = MakeFile(name, inMemory);
    file->SetExclusive(false);
    file->SetTemporary(temporary);
    const int rc = file->CreateFile();
    if (rc < 0) return rc;
    result = {file.get(), static_cast<std::uint32_t>(rc), false, false};
    files_.push_back(std::move(file));
    return rc;
}

int TFileList::OpenFile(const std::string& name, bool inMemory, bool temporary, bool exclusive,
                        TFileOpening& result) {
    std::lock_guard lock(section_);
    result = {};
    TAbstractFile* file = Find(name, inMemory);
    std::unique_ptr<TAbstractFile> fresh;
    if (file != nullptr && file->HandleCount() > 0) {
        if (file->Exclusive() || exclusive) return Neg(err::AccessDenied);
    } else if (file != nullptr) {
        file->SetExclusive(exclusive);
        file->SetTemporary(temporary);
    } else {
        if (inMemory) return Neg(err::TableNotFound);
        fresh = MakeFile(name, false);
        fresh->SetExclusive(exclusive);
        fresh->SetTemporary(temporary);
        file = fresh.get();
    }
    const int rc = file->OpenFile();
    if (rc < 0) return rc;
    result = {file, static_cast<std::uint32_t>(rc), file->ReadOnlyOpen(), file->ReadOnlyAttribute()};
    if (fresh) files_.push_back(std::move(fresh));
    return rc;
}

int TFileList::CloseFile(TAbstractFile* file, bool inMemory, std::uint32_t handle) {
    std::lock_guard lock(section_);
    const auto it = std::find_if(files_.begin(), files_.end(), [file](const auto& f) { return f.get() == file; });
    if (it == files_.end() || file->InMemory() != inMemory || file->HandleCount() == 0)
        return Neg(err::TableNotFound);
    const int rc = file->CloseFile(handle);
    if (rc < 0) return rc;
    // An in-memory file keeps its contents until it is deleted.
    if (file->HandleCount() == 0 && !inMemory) Remove(file);
    return 0;
}

int TFileList::RenameFile(const std::string& name, bool inMemory, const std::string& newName) {
    std::lock_guard lock(section_);
    if (TAbstractFile* found = Find(name, inMemory)) {
        if (found->HandleCount() > 0) return Neg(err::AccessDenied);
        // Never let a rename replace a file that is open in this process.
        TAbstractFile* target = Find(newName, inMemory);
        if (target == found) target = nullptr;
        if (target != nullptr && target->HandleCount() > 0) return Neg(err::AccessDenied);
        const int rc = found->RenameFile(newName);
        // An in-memory file renamed onto another replaces it.
        if (rc == 0 && target != nullptr && inMemory) Remove(target);
        return rc;
    }
    if (inMemory) return Neg(err::TableNotFound);
    struct stat st {};
    if (::stat(ResolveFileName(name).c_str(), &st) != 0) return NegatedOsError();
    if (TAbstractFile* target = Find(newName, false); target != nullptr && target->HandleCount() > 0)
        return Neg(err::AccessDenied);
    TPhysicalFile transient(name);
    return transient.RenameFile(newName);
}

int TFileList::DeleteFile(const std::string& name, bool inMemory) {
    std::lock_guard lock(section_);
    if (TAbstractFile* found = Find(name, inMemory)) {
        if (found->HandleCount() > 0) return Neg(err::AccessDenied);
        const int rc = found->DeleteFile();
        if (rc < 0) return rc;
        Remove(found);
        return 0;
    }
    if (inMemory) return Neg(err::TableNotFound);
    TPhysicalFile transient(name);
    return transient.DeleteFile();
}

bool TFileList::FileExists(const std::string& name, bool inMemory) {
    std::lock_guard lock(section_);
    if (Find(name, inMemory) != nullptr) return true;
    if (inMemory) return false;
    struct stat st {};
    return ::stat(ResolveFileName(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int TFileList::Copy(TAbstractFile& from, std::uint32_t fromHandle, TAbstractFile& to, std::uint32_t toHandle) {
    TFileAccess fromAccess(from);
    TFileAccess toAccess(to);
    if (const auto rc = from.Seek(fromHandle, SeekOrigin::Begin, 0); rc < 0) return static_cast<int>(rc);
    if (const auto rc = to.Seek(toHandle, SeekOrigin::Begin, 0); rc < 0) return static_cast<int>(rc);
    std::vector<unsigned char> buffer(kCopyBlock);
    std::int64_t got = 0;
    do {
        got = from.Read(fromHandle, buffer.data(), buffer.size());
        if (got < 0) return static_cast<int>(got);
        if (got > 0) {
            const auto put = to.Write(toHandle, buffer.data(), static_cast<std::size_t>(got));
            if (put < 0) return static_cast<int>(put);
            if (put != got) return Neg(err::WriteError);
        }
    } while (got == static_cast<std::int64_t>(kCopyBlock));
    return 0;
}

int TFileList::CopyToFile(TAbstractFile* file, std::uint32_t handle, const std::string& target, bool inMemory) {
    std::lock_guard lock(section_);
    if (file == nullptr) return Neg(err::InvalidFileHandle);
    TFileOpening opening;
    const int rc = CreateFile(target, inMemory, false, opening);
    if (rc < 0) return rc;
    const int copied = Copy(*file, handle, *opening.file, opening.handle);
    const int closed = CloseFile(opening.file, inMemory, opening.handle);
    return copied < 0 ? copied : closed;
}

int TFileList::CopyFromFile(TAbstractFile* file, std::uint32_t handle, const std::string& source, bool inMemory) {
    std::lock_guard lock(section_);
    if (file == nullptr) return Neg(err::InvalidFileHandle);
    TFileOpening opening;
    const int rc = OpenFile(source, inMemory, false, true, opening);
    if (rc < 0) return rc;
    int copied = Copy(*opening.file, opening.handle, *file, handle);
    if (copied == 0) {
        // Cut off whatever the old contents had beyond the copied ones.
        TFileAccess access(*file);
        if (file->Write(handle, nullptr, 0) < 0) copied = Neg(err::WriteError);
    }
    const int closed = CloseFile(opening.file, inMemory, opening.handle);
    return copied < 0 ? copied : closed;
}

void TFileList::SetFaultPlan(std::shared_ptr<TFaultPlan> plan) {
    std::lock_guard lock(faultMutex_);
    faultPlan_ = std::move(plan);
    faultPlanSet_.store(faultPlan_ != nullptr, std::memory_order_release);
}

std::shared_ptr<TFaultPlan> TFileList::FaultPlan() const {
    if (!faultPlanSet_.load(std::memory_order_acquire)) return nullptr;
    std::lock_guard lock(faultMutex_);
    return faultPlan_;
}

}  // namespace pixhold::engine
