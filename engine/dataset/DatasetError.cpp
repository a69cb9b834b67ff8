#include "DatasetError.h"

namespace pixhold::engine {

std::string Format(const char* pattern, const std::string& first, const std::string& second) {
    std::string text(pattern);
    const std::string* args[] = {&first, &second};
    std::size_t from = 0;
    for (const std::string* arg : args) {
        const std::size_t at = text.find("%s", from);
        if (at == std::string::npos) break;
        text.replace(at, 2, *arg);
        from = at + arg->size();
    }
    return text;
}

void RaiseDatasetError(const char* text) { throw EDatasetError(text); }

void RaiseDatasetError(const char* pattern, const std::string& first, const std::string& second) {
    throw EDatasetError(Format(pattern, first, second));
}

}  // namespace pixhold::engine
