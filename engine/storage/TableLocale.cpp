#include "TableLocale.h"

#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

namespace pixhold::engine {
namespace {

constexpr std::uint32_t kEnglishUS = 1033;

// A language of 0 means the default locale.
std::uint32_t Effective(std::uint32_t locale) {
    return (locale & 0xFFFFu) == 0 ? kEnglishUS : locale;
}

}  // namespace

std::string TableLocale::IcuName(std::uint32_t locale) {
    char name[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        uloc_getLocaleForLCID(Effective(locale), name, static_cast<int32_t>(sizeof name), &status);
    if (U_FAILURE(status) || status == U_USING_FALLBACK_WARNING || length <= 0) return {};
    return std::string(name, static_cast<std::size_t>(length));
}

bool TableLocale::IsInstalled(std::uint32_t locale) { return !IcuName(locale).empty(); }

TableLocale::TableLocale(std::uint32_t locale) : id_(Effective(locale)), name_(IcuName(locale)) {}

std::string TableLocale::ToUpper(std::string_view text) const {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    s.toUpper(icu::Locale(name_.c_str()));
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::string TableLocale::ToLower(std::string_view text) const {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    s.toLower(icu::Locale(name_.c_str()));
    std::string out;
    s.toUTF8String(out);
    return out;
}

}  // namespace pixhold::engine
