#include "IniFile.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pixhold::store {

namespace {

constexpr const char* Utf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

// Cuts to `limit` characters. Counted as UTF-8 characters so that a cut never
// splits one; a stray continuation byte counts as part of the character before.
std::string CutToCharacters(const std::string& s, std::size_t limit) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
        if (!continuation) {
            if (chars == limit) return s.substr(0, i);
            ++chars;
        }
    }
    return s;
}

bool IsQuoted(const std::string& s) {
    return s.size() >= 2 && s.front() == '"' && s.back() == '"';
}

// Blanks around a value are not part of it when it is read, and one pair of
// double quotes around it is removed; a value that would lose something that
// way is written inside quotes, so every value without a line break reads back
// as written.
std::string Unquote(const std::string& trimmed) {
    return IsQuoted(trimmed) ? trimmed.substr(1, trimmed.size() - 2) : trimmed;
}

std::string Quote(const std::string& value) {
    return (Trim(value) != value || IsQuoted(value)) ? '"' + value + '"' : value;
}

bool IsDigits(const std::string& s, std::size_t from, bool hex) {
    if (from >= s.size()) return false;
    for (std::size_t i = from; i < s.size(); ++i) {
        const char c = s[i];
        const bool dec = c >= '0' && c <= '9';
        const bool hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!dec && !(hex && hexLetter)) return false;
    }
    return true;
}

// Parses an integer text; returns false when it is not a number. Only whether
// the number is zero matters, so any length of digits is accepted.
bool ParseNonZero(const std::string& s, bool& nonZero) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool hex = false;
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (!IsDigits(s, i, hex)) return false;
    nonZero = s.find_first_not_of('0', i) != std::string::npos;
    return true;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here loses nothing that was
// written, so it is not reported.
void SyncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes `data` to a fresh file beside `target` and renames it over `target`.
bool ReplaceFile(const std::filesystem::path& target, const std::string& data) {
    std::filesystem::path temp;
    int fd = -1;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target;
        temp += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        ::fchmod(fd, old.st_mode & 07777);
    }
    bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
    return true;
}

}  // namespace

EIniWriteError::EIniWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path) {}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
    Load();
}

void TIniFile::Load() {
    const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        unreadable_ = errno != ENOENT && errno != ENOTDIR;
        return;
    }
    std::string data;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            unreadable_ = true;
            break;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (unreadable_) return;

    std::size_t pos = 0;
    if (data.compare(0, 3, Utf8Bom) == 0) {
        hasBom_ = true;
        pos = 3;
    }
    while (pos < data.size()) {
        std::size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        std::string text = data.substr(pos, end - pos);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        lines_.push_back(ParseLine(text));
        pos = end + 1;
    }
}

TIniFile::TLine TIniFile::ParseLine(const std::string& text) {
    TLine line;
    line.text = text;
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed[0] == ';') return line;
    if (trimmed[0] == '[') {
        const std::size_t close = trimmed.find(']');
        if (close != std::string::npos) {
            line.isSection = true;
            line.section = Trim(trimmed.substr(1, close - 1));
        }
        return line;
    }
    const std::size_t eq = trimmed.find('=');
    if (eq != std::string::npos && eq > 0) {
        line.isEntry = true;
        line.key = Trim(trimmed.substr(0, eq));
        line.value = Unquote(Trim(trimmed.substr(eq + 1)));
    }
    return line;
}

std::size_t TIniFile::FindSection(const std::string& section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].isSection && SameName(lines_[i].section, section)) return i;
    }
    return std::string::npos;
}

std::size_t TIniFile::FindKey(std::size_t header, const std::string& key) const {
    for (std::size_t i = header + 1; i < lines_.size() && !lines_[i].isSection; ++i) {
        if (lines_[i].isEntry && SameName(lines_[i].key, key)) return i;
    }
    return std::string::npos;
}

const TIniFile::TLine* TIniFile::FindEntry(const std::string& section, const std::string& key) const {
    const std::size_t header = FindSection(section);
    if (header == std::string::npos) return nullptr;
    const std::size_t at = FindKey(header, key);
    return at == std::string::npos ? nullptr : &lines_[at];
}

bool TIniFile::SectionExists(const std::string& section) const {
    return FindSection(section) != std::string::npos;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return FindEntry(section, key) != nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    const TLine* entry = FindEntry(section, key);
    if (entry == nullptr) return def;
    return CutToCharacters(entry->value, MaxValueLength);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    const TLine* entry = FindEntry(section, key);
    if (entry == nullptr) return def;
    bool nonZero = false;
    return ParseNonZero(CutToCharacters(entry->value, MaxValueLength), nonZero) ? nonZero : def;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    // Anything that would not read back as the same section, key or value.
    const auto hasBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
    const bool badSection = section.empty() || Trim(section) != section ||
                            section.find(']') != std::string::npos || hasBreak(section);
    const bool badKey = key.empty() || Trim(key) != key || key.find('=') != std::string::npos ||
                        key[0] == '[' || key[0] == ';' || hasBreak(key);
    if (badSection || badKey || hasBreak(value)) throw EIniWriteError(fileName_);

    TLine entry;
    entry.isEntry = true;
    entry.key = key;
    entry.value = value;
    entry.text = key + "=" + Quote(value);

    std::size_t header = FindSection(section);
    if (header == std::string::npos) {
        if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(TLine{});
        TLine head;
        head.isSection = true;
        head.section = section;
        head.text = "[" + section + "]";
        lines_.push_back(head);
        lines_.push_back(entry);
        return;
    }
    const std::size_t at = FindKey(header, key);
    if (at != std::string::npos) {
        lines_[at] = entry;
        return;
    }
    // After the section's last key, so trailing blank lines and comments that
    // lead into the next section stay where they are.
    std::size_t insertAt = header + 1;
    for (std::size_t i = header + 1; i < lines_.size() && !lines_[i].isSection; ++i) {
        if (lines_[i].isEntry) insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

std::string TIniFile::Contents() const {
    std::string out = hasBom_ ? Utf8Bom : "";
    for (const TLine& line : lines_) {
        out += line.text;
        out += '\n';
    }
    return out;
}

void TIniFile::UpdateFile() {
    UpdateFile(fileName_);
}

void TIniFile::UpdateFile(const std::string& fileName) const {
    if (unreadable_) throw EIniWriteError(fileName);
    std::filesystem::path target(fileName);
    std::error_code ec;
    // Through a symbolic link the file it points to is replaced, not the link.
    if (std::filesystem::is_symlink(target, ec)) {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec) target = resolved;
    }
    if (!ReplaceFile(target, Contents())) throw EIniWriteError(fileName);
}

}  // namespace pixhold::store
