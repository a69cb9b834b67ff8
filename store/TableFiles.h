#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace pixhold::store {

// Names of the files in the data folder. File names there are matched without
// regard to letter case, as the tables were always kept on a file system that
// ignores it.

// Whether folder + name is an ordinary file, in any letter case; never for a
// name with a folder separator.
bool DataFileExists(const std::string& folder, const std::string& name);
// The path of that file as the folder spells it; empty when there is none.
std::string DataFilePath(const std::string& folder, const std::string& name);

// Clears the read-only attribute of a file (its owner may write it), so that
// it can be replaced or deleted. Nothing when the file is not there.
void ClearFileAttributes(const std::string& path);

// The name without folder and extension; the extension is the text from the
// last dot of the name on, and the name is cut at its first occurrence
// ("a.jpg.jpg" gives "a"). A name without extension is returned whole.
std::string FileBaseName(const std::string& path);

// The extension of the path's file name: its text from the last dot on;
// empty when the name has no dot.
std::string FileExtension(const std::string& path);
// The path before the first occurrence of its extension within the file
// name ("/p/a.jpg.jpg" gives "/p/a"); empty when the name has no extension.
// A folder whose name holds the same text is never cut.
std::string PathWithoutExtension(const std::string& path);

// Lower-cases the text, then upper-cases every letter that follows a
// character without case (digit, blank, punctuation) or starts the text:
// "my_pics2a" gives "My_Pics2A".
QString CapitalizeWords(const QString& text);

// The display names of the image tables in a folder: every name N with N.Blb,
// N.Idx and N.Dat present, other than the thumbnail cache, capitalised, in
// alphabetical order.
QStringList ListImageTables(const std::string& folder);

}  // namespace pixhold::store
