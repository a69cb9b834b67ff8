#pragma once

#include "ByteSpan.h"

#include <functional>
#include <string>
#include <vector>

namespace pixhold::engine {
class TCofferTable;
}

namespace pixhold::store {

// One picture file made ready to be stored: its bytes and its record
// thumbnail. Made on any thread (no engine, no window).
struct TPreparedFile {
    bool Missing = false;       // no file at the path
    imaging::TByteVector Bytes;
    imaging::TByteVector Thumb;
    std::string Error;          // the decoder's (or the file's) error text
};
TPreparedFile PrepareImportFile(const std::string& path);

// What to do when the table has a record of the file's name already (in any category).
enum class TDuplicateChoice { Replace, Number, Skip };

// Stores a prepared file as a record of the open image table: the name (cut
// to 250 characters), the category (cut to 10), the bytes unchanged, the
// thumbnail and the type code. A duplicate name is decided by `onDuplicate`:
// the found record is overwritten (its category included), or the name is
// numbered (photo1.jpg, photo2.jpg, ... the first not in the table), or the
// file is skipped. Returns the name stored, empty when skipped. Raises the
// decoder's error for a file that could not be prepared.
std::string StoreImportRecord(engine::TCofferTable& table, const std::string& fileName,
                              const std::string& category, const TPreparedFile& prepared,
                              const std::function<TDuplicateChoice(const std::string& name)>& onDuplicate);

// `name` with the first occurrence of `base` (any letter case) replaced by
// base followed by n: ("photo.jpg", "photo", 2) gives "photo2.jpg".
std::string NumberedName(const std::string& name, const std::string& base, int n);

// The name part of a path.
std::string FileNameOf(const std::string& path);
// Entries of a folder in name order without regard to letter case (as the
// folder listings of desktop file systems give them; ties in byte order): the
// ordinary files, or the folders (not "." and ".."; names starting with "."
// are hidden and not returned either).
std::vector<std::string> FolderEntries(const std::string& folder, bool folders);
// The text cut to at most that many characters (never inside a character).
std::string CutText(const std::string& text, int characters);

}  // namespace pixhold::store
