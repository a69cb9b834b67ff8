#include "Json.h"

#include <cstdint>
#include <cstdio>

namespace pixhold::tools {

namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(i + k) & 0x3Fu);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not valid.
    static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kMinimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else if (u >= 0x80) {
            const std::size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            out.append(text.substr(i, length));
            i += length;
            continue;
        } else {
            out += c;
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string PlainText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        const std::size_t length = u >= 0x80 ? Utf8Length(text, i) : 1;
        if (u == '\\') {
            out += "\\\\";
        } else if (length == 0 || u < 0x20 || u == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", u);
            out += escape;
        } else {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        ++i;
    }
    return out;
}

}  // namespace pixhold::tools
