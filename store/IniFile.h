#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace pixhold::store {

// A settings value could not be written; the text is "Unable to write to <path>".
class EIniWriteError : public std::runtime_error {
public:
    explicit EIniWriteError(const std::string& path);
};

// A profile (INI) file held in memory: "[Section]" lines, then "key=value"
// lines. Section and key names are matched without regard to letter case (ASCII).
// Every line that is not touched by a write is kept as it was, in order, so
// sections, keys and comments this program does not know survive a save.
//
// Reads come from the contents loaded at construction; writes change the memory
// copy only, and UpdateFile() replaces the file as a whole: it is written to a
// temporary file in the same folder, flushed and renamed over the old one, so a
// crash leaves either the old or the new file, never a half-written one.
class TIniFile {
public:
    // Longest value a read returns, in characters; longer values are cut.
    static constexpr std::size_t MaxValueLength = 2047;

    // Loads the file when it exists. A missing file is no error: every read then
    // yields its default.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    // The value with surrounding blanks and one pair of surrounding double
    // quotes removed, cut to MaxValueLength characters; `def` when the key is
    // missing. A key present with an empty value yields the empty text.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Read as an integer: a value beginning with "0x"/"0X" (after an optional
    // sign) is hexadecimal, otherwise decimal; any non-zero number is true; a
    // value that is not a number (or is empty) yields `def`.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    // Replaces the value of an existing key in place, or adds the key at the end
    // of its section, or adds the section at the end of the file. A value with
    // surrounding blanks or quotes is written inside double quotes so that it
    // reads back unchanged; any other value is written as it is. Throws
    // EIniWriteError when the text cannot be stored in a line-based file (a line
    // break in it, or a name that would not read back as the same name).
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    // Writes "1" or "0".
    void WriteBool(const std::string& section, const std::string& key, bool value);

    // Replaces the file on disk with the memory copy. Throws EIniWriteError when
    // that fails, and also when the file existed but could not be read at
    // construction (saving would otherwise destroy what could not be read).
    void UpdateFile();
    // Writes the memory copy to another file, by the same rules.
    void UpdateFile(const std::string& fileName) const;

private:
    struct TLine {
        std::string text;     // the line as it stands in the file, without line break
        std::string section;  // for a "[Section]" line: its name
        std::string key;      // for a "key=value" line: its key
        std::string value;    // for a "key=value" line: its value
        bool isSection = false;
        bool isEntry = false;
    };

    static TLine ParseLine(const std::string& text);
    // Index of the section's header line, or npos.
    std::size_t FindSection(const std::string& section) const;
    // Index of the key's line inside the section starting at `header`, or npos.
    std::size_t FindKey(std::size_t header, const std::string& key) const;
    const TLine* FindEntry(const std::string& section, const std::string& key) const;
    std::string Contents() const;
    void Load();

    std::string fileName_;
    std::vector<TLine> lines_;
    bool hasBom_ = false;
    bool unreadable_ = false;
};

}  // namespace pixhold::store
