#include "DataFolderMove.h"

#include "TableFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace pixhold::store {

namespace {

namespace fs = std::filesystem;

// The extensions of a table's files, in the order they move, as the moved
// files are named.
constexpr const char* kTableExtensions[] = {".Dat", ".Idx", ".BLB"};
// A copy is made under this suffix and takes its final name once all three are complete.
constexpr const char* kPartSuffix = ".moving";
constexpr const char* kThumbsTable = "Thumbs";
constexpr std::size_t kCopyBlock = 1 << 16;

std::string ErrnoText() { return std::strerror(errno); }

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The files of the folder whose names match in any letter case (the exact
// name first).
std::vector<std::string> FilesNamed(const std::string& folder, const std::string& name) {
    std::vector<std::string> found;
    std::error_code ec;
    if (fs::is_regular_file(folder + name, ec)) found.push_back(name);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        std::error_code typeError;
        if (file != name && SameIgnoringCase(file, name) && it->is_regular_file(typeError)) found.push_back(file);
    }
    return found;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Closes a descriptor on every way out.
class TFd {
public:
    TFd(TMoveFileSystem& files, int fd) : files_(files), fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0) files_.Close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the result (a delayed write error shows here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return files_.Close(fd);
    }

private:
    TMoveFileSystem& files_;
    int fd_;
};

bool WriteAll(TMoveFileSystem& files, int fd, const char* data, std::size_t count) {
    while (count > 0) {
        const long n = files.Write(fd, data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads up to count bytes, fewer only at the end of the file; -1 on error.
long ReadFull(TMoveFileSystem& files, int fd, char* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const long n = files.Read(fd, data + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

// Copies a file to a new file, flushes the copy to the disk and reads both
// back to compare them. Raises with a clear text on any failure.
void CopyDurably(TMoveFileSystem& files, const std::string& from, const std::string& to) {
    auto fail = [&](const std::string& what) {
        throw std::runtime_error("Cannot copy " + from + " to " + to + ": " + what);
    };
    {
        TFd in(files, files.Open(from, O_RDONLY | O_CLOEXEC, 0));
        if (in.get() < 0) fail(ErrnoText());
        TFd out(files, files.Open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (out.get() < 0) fail(ErrnoText());
        std::vector<char> buffer(kCopyBlock);
        for (;;) {
            const long n = ReadFull(files, in.get(), buffer.data(), buffer.size());
            if (n < 0) fail(ErrnoText());
            if (n == 0) break;
            if (!WriteAll(files, out.get(), buffer.data(), static_cast<std::size_t>(n))) fail(ErrnoText());
        }
        if (!files.Sync(out.get())) fail(ErrnoText());
        if (!out.Close()) fail(ErrnoText());
    }
    TFd a(files, files.Open(from, O_RDONLY | O_CLOEXEC, 0));
    TFd b(files, files.Open(to, O_RDONLY | O_CLOEXEC, 0));
    if (a.get() < 0 || b.get() < 0) fail(ErrnoText());
    std::vector<char> x(kCopyBlock), y(kCopyBlock);
    for (;;) {
        const long n = ReadFull(files, a.get(), x.data(), x.size());
        const long m = ReadFull(files, b.get(), y.data(), y.size());
        if (n < 0 || m < 0) fail(ErrnoText());
        if (n != m || std::memcmp(x.data(), y.data(), static_cast<std::size_t>(n)) != 0) {
            fail("the copy differs from the original");
        }
        if (n == 0) break;
    }
}

// Flushes a folder's entries (new, renamed and removed names) to the disk.
bool SyncFolder(TMoveFileSystem& files, const std::string& folder) {
    TFd fd(files, files.Open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    return fd.get() >= 0 && files.Sync(fd.get());
}

}  // namespace

int TMoveFileSystem::Open(const std::string& path, int flags, int mode) { return ::open(path.c_str(), flags, mode); }
long TMoveFileSystem::Read(int fd, void* buffer, std::size_t count) { return ::read(fd, buffer, count); }
long TMoveFileSystem::Write(int fd, const void* buffer, std::size_t count) { return ::write(fd, buffer, count); }
bool TMoveFileSystem::Sync(int fd) { return ::fsync(fd) == 0; }
bool TMoveFileSystem::Close(int fd) { return ::close(fd) == 0; }
bool TMoveFileSystem::Rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}
bool TMoveFileSystem::Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }
bool TMoveFileSystem::MakeFolders(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        errno = ec.value();
        return false;
    }
    return fs::is_directory(path, ec);
}

TMoveFileSystem& SystemFileSystem() {
    static TMoveFileSystem files;
    return files;
}

TTableFilesMove MoveTableFiles(const std::string& oldBase, const std::string& newBase, TMoveFileSystem& files) {
    TTableFilesMove result;
    const std::string oldFolder = FolderOf(oldBase), oldName = NameOf(oldBase);
    const std::string newFolder = FolderOf(newBase), newName = NameOf(newBase);

    std::vector<std::string> sources, targets, parts;
    for (const char* extension : kTableExtensions) {
        const std::vector<std::string> found = FilesNamed(oldFolder, oldName + extension);
        if (found.empty()) {
            result.Error = oldBase + extension + " is missing";
            return result;
        }
        sources.push_back(oldFolder + found.front());
        targets.push_back(newFolder + newName + extension);
        parts.push_back(targets.back() + kPartSuffix);
        for (const std::string& existing : FilesNamed(newFolder, newName + extension)) {
            if (SameFile(sources.back(), newFolder + existing)) {
                result.Error = sources.back() + " and " + newFolder + existing + " are the same file";
                return result;
            }
        }
    }

    // Until the old files go, a failure only has to take the new ones away again.
    std::size_t placed = 0;
    auto undo = [&] {
        for (std::size_t i = 0; i < placed; ++i) files.Remove(targets[i]);
        for (const std::string& part : parts) files.Remove(part);
    };
    try {
        for (std::size_t i = 0; i < sources.size(); ++i) CopyDurably(files, sources[i], parts[i]);
        for (; placed < parts.size(); ++placed) {
            if (!files.Rename(parts[placed], targets[placed])) {
                throw std::runtime_error("Cannot rename " + parts[placed] + " to " + targets[placed] + ": " +
                                         ErrnoText());
            }
        }
        // Files of the same names in another letter case would stand for the
        // table too (names in a data folder match in any case).
        for (std::size_t i = 0; i < targets.size(); ++i) {
            for (const std::string& other : FilesNamed(newFolder, NameOf(targets[i]))) {
                if (other == NameOf(targets[i])) continue;
                if (!files.Remove(newFolder + other)) {
                    throw std::runtime_error("Cannot remove " + newFolder + other + ": " + ErrnoText());
                }
            }
        }
        if (!SyncFolder(files, newFolder)) {
            throw std::runtime_error("Cannot flush the folder " + newFolder + ": " + ErrnoText());
        }
    } catch (const std::exception& error) {
        undo();
        result.Error = error.what();
        return result;
    }
    result.Moved = true;

    // The table is complete in the new place; the old files go in order, and a
    // failure keeps the rest of them.
    for (const std::string& source : sources) {
        if (!files.Remove(source)) {
            result.OldFilesLeft = true;
            result.Error = "Cannot remove " + source + ": " + ErrnoText();
            break;
        }
    }
    SyncFolder(files, oldFolder);
    return result;
}

TDataFolderMove MoveDataTables(const std::string& oldFolder, const std::string& newFolder, TMoveFileSystem& files) {
    TDataFolderMove result;
    std::vector<std::string> tables;
    // The cache moves when it is complete; an incomplete one stays behind
    // without stopping the image tables (start-up makes a new one).
    int thumbsFiles = 0;
    for (const char* extension : kTableExtensions) {
        if (!FilesNamed(oldFolder, std::string(kThumbsTable) + extension).empty()) ++thumbsFiles;
    }
    if (thumbsFiles == static_cast<int>(std::size(kTableExtensions))) {
        tables.emplace_back(kThumbsTable);
    } else if (thumbsFiles > 0) {
        result.StayedBehind.emplace_back(kThumbsTable);
    }
    for (const QString& table : ListImageTables(oldFolder)) tables.push_back(table.toStdString());

    if (!files.MakeFolders(newFolder)) {
        result.Error = "Cannot create the folder " + newFolder + ": " + ErrnoText();
        result.StayedBehind.insert(result.StayedBehind.end(), tables.begin(), tables.end());
        return result;
    }
    if (SameFile(oldFolder, newFolder)) return {};  // two names of one folder: already there

    for (std::size_t i = 0; i < tables.size(); ++i) {
        const TTableFilesMove moved = MoveTableFiles(oldFolder + tables[i], newFolder + tables[i], files);
        if (!moved.Moved) {
            result.Error = moved.Error;
            result.StayedBehind.insert(result.StayedBehind.end(), tables.begin() + static_cast<std::ptrdiff_t>(i),
                                       tables.end());
            return result;
        }
        result.Moved.push_back(tables[i]);
        if (moved.OldFilesLeft) {
            result.OldFilesLeft.push_back(tables[i]);
            if (result.Error.empty()) result.Error = moved.Error;
        }
    }
    return result;
}

}  // namespace pixhold::store
