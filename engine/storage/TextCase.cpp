#include "TextCase.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "FileName.h"

namespace pixhold::engine {

std::string FoldCase(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).foldCase().toUTF8String(out);
    return out;
}

bool SameFolded(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b), U_FOLD_CASE_DEFAULT) == 0;
}

bool SameTrimmedName(const std::string& a, const std::string& b) { return SameFolded(TrimBlanks(a), TrimBlanks(b)); }

}  // namespace pixhold::engine
