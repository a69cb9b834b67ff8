#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pixhold::engine {

// The locale of a table's text: a Windows locale identifier (language in the
// low 16 bits, sort in bits 16 and up), mapped to an ICU locale name. A
// language of 0 stands for 1033 (en-US). Texts are UTF-8.
class TableLocale {
public:
    // The locale as given; use IsInstalled first when it comes from a file.
    explicit TableLocale(std::uint32_t locale);

    // Whether ICU knows the locale. 0 (the default locale) is always installed.
    static bool IsInstalled(std::uint32_t locale);
    // The ICU locale name of a locale identifier ("en_US" for 1033); empty when
    // ICU has no mapping.
    static std::string IcuName(std::uint32_t locale);

    std::uint32_t Id() const { return id_; }
    const std::string& Name() const { return name_; }

    // Upper- and lower-case mapping by the locale's rules.
    std::string ToUpper(std::string_view text) const;
    std::string ToLower(std::string_view text) const;

private:
    std::uint32_t id_;
    std::string name_;
};

}  // namespace pixhold::engine
