#include "ImageTypes.h"

#include <cctype>
#include <string>

namespace pixhold::imaging {

namespace {

struct TExtensionType {
    const char* Extension;
    TImageType Type;
};

constexpr TExtensionType ExtensionTypes[] = {
    {".jpg", TImageType::Jpeg}, {".jpeg", TImageType::Jpeg}, {".gif", TImageType::Gif},
    {".bmp", TImageType::Bitmap}, {".ico", TImageType::Icon}, {".wmf", TImageType::Wmf},
    {".emf", TImageType::Emf},  {".png", TImageType::Png},
};

}  // namespace

TImageType ImageTypeOfExtension(std::string_view fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return TImageType::Unknown;
    std::string extension(name.substr(dot));
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const TExtensionType& entry : ExtensionTypes) {
        if (extension == entry.Extension) return entry.Type;
    }
    return TImageType::Unknown;
}

}  // namespace pixhold::imaging
