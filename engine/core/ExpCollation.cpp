#include "ExpCollation.h"

#include <algorithm>
#include <cstring>
#include <unicode/ucol.h>

#include "DataFile.h"

namespace pixhold::engine {
namespace {

UCollator* OpenCollator(const std::string& name, bool caseInsensitive) {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open(name.c_str(), &status);
    if (U_FAILURE(status) || collator == nullptr) {
        status = U_ZERO_ERROR;
        collator = ucol_open("", &status);  // the root collation
        if (U_FAILURE(status)) return nullptr;
    }
    // Primary strength ignores accents and case; the case level brings case back.
    ucol_setStrength(collator, UCOL_PRIMARY);
    ucol_setAttribute(collator, UCOL_CASE_LEVEL, caseInsensitive ? UCOL_OFF : UCOL_ON, &status);
    return collator;
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int CompareBytes(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    const int r = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
    if (r != 0) return Sign(r);
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

TExpCollation::TExpCollation(std::uint32_t tableLocale)
    : locale_((tableLocale & 0xFFFF) == 0 ? datafile::kDefaultLocale : tableLocale) {
    if ((tableLocale & 0xFFFF) == 0) return;
    const std::string name = TableLocale::IcuName(tableLocale);
    caseSensitive_ = OpenCollator(name, false);
    caseInsensitive_ = OpenCollator(name, true);
}

TExpCollation::~TExpCollation() {
    if (caseSensitive_ != nullptr) ucol_close(caseSensitive_);
    if (caseInsensitive_ != nullptr) ucol_close(caseInsensitive_);
}

int TExpCollation::Compare(std::string_view a, std::string_view b, bool caseInsensitive) const {
    UCollator* collator = caseInsensitive ? caseInsensitive_ : caseSensitive_;
    if (collator == nullptr) {
        if (!caseInsensitive) return CompareBytes(a, b);
        return CompareBytes(locale_.ToUpper(a), locale_.ToUpper(b));
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(collator, a.data(), static_cast<std::int32_t>(a.size()), b.data(),
                                                static_cast<std::int32_t>(b.size()), &status);
    if (U_FAILURE(status)) return CompareBytes(a, b);
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

std::size_t Utf8CharLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
    } else if (lead >= 0xE0) {
        length = lead < 0xF0 ? 3 : 1;
    } else if (lead >= 0xC0) {
        length = 2;
    }
    if (at + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
    return length;
}

std::size_t Utf8CharCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); at += Utf8CharLength(text, at)) ++count;
    return count;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t n = 0; n < count && at < text.size(); ++n) at += Utf8CharLength(text, at);
    return text.substr(0, at);
}

}  // namespace pixhold::engine
