#pragma once

// Shared by the GIF decoder and encoder. giflib reports failures by return
// codes (never by exiting or jumping); the callers check every call and raise
// EInvalidGraphic with giflib's text.

#include <gif_lib.h>

#include <string>

namespace pixhold::imaging::gif {

// giflib's text for an error code.
inline std::string ErrorText(int code) {
    const char* text = GifErrorString(code);
    return text != nullptr ? std::string(text) : "giflib error " + std::to_string(code);
}

}  // namespace pixhold::imaging::gif
