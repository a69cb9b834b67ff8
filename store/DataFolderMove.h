#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pixhold::store {

// The file-system calls a data-folder move makes, one virtual function each,
// so that tests can make any of them fail. The defaults are the system's.
// Calls that fail return -1 (or false) and leave errno set.
class TMoveFileSystem {
public:
    virtual ~TMoveFileSystem() = default;
    virtual int Open(const std::string& path, int flags, int mode);
    virtual long Read(int fd, void* buffer, std::size_t count);
    virtual long Write(int fd, const void* buffer, std::size_t count);
    virtual bool Sync(int fd);
    virtual bool Close(int fd);
    virtual bool Rename(const std::string& from, const std::string& to);
    virtual bool Remove(const std::string& path);
    // Creates the folder with every missing parent.
    virtual bool MakeFolders(const std::string& path);
};

TMoveFileSystem& SystemFileSystem();

// What moving one table's three files did.
struct TTableFilesMove {
    bool Moved = false;         // the three files are complete in the new place
    bool OldFilesLeft = false;  // moved, but not every old file could be removed
    std::string Error;          // why it was not moved, or why old files are left
};

// Moves old + ".Dat", ".Idx" and ".BLB" (found in any letter case) to new +
// ".Dat", ".Idx" and ".BLB", replacing files of those names. Each file is
// copied, flushed to the disk and compared with its original before any of
// them takes its final name; only then are the old files removed. Works
// across file systems. Whatever fails, the table stays whole in one of the
// two places: not moved, it is untouched in the old place.
TTableFilesMove MoveTableFiles(const std::string& oldBase, const std::string& newBase,
                               TMoveFileSystem& files = SystemFileSystem());

// What moving a data folder's tables did; names are the tables' display names.
struct TDataFolderMove {
    std::vector<std::string> Moved;
    // Not moved, each whole in the old folder: the table that failed and every
    // table after it (the move stops at the first failure).
    std::vector<std::string> StayedBehind;
    // Moved, but some of their old files are still in the old folder.
    std::vector<std::string> OldFilesLeft;
    std::string Error;  // the failure that stopped the move
};

// Moves the thumbnail cache "Thumbs" and every image table of the old folder
// (ListImageTables) into the new folder, creating it with its parents. Both
// folders end with a separator. Two names of one folder move nothing.
TDataFolderMove MoveDataTables(const std::string& oldFolder, const std::string& newFolder,
                               TMoveFileSystem& files = SystemFileSystem());

}  // namespace pixhold::store
