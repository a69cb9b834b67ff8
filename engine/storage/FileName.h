#pragma once

#include <string>

#include "TextCase.h"

namespace pixhold::engine {

// Whether two file names are the same file name: both trimmed, compared
// without regard to letter case (full Unicode case folding).
bool SameFileName(const std::string& a, const std::string& b);

// The path of the existing file that a name stands for, trimmed of surrounding
// blanks as the file list compares names. File names are matched
// without regard to letter case: when no entry of exactly that name exists, the
// folder is searched for one that differs only in case (the first in byte order
// if there are several). Only the last component is matched this way. Without
// a match the trimmed path is returned, so a new file gets the name as given.
std::string ResolveFileName(const std::string& path);

}  // namespace pixhold::engine
