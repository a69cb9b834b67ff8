#pragma once

// Shared pieces of the GIF decoder and encoder around giflib. giflib reports
// failures by return codes (never by exiting or jumping), so each call is
// checked and turned into EInvalidGraphic here.

#include "GraphicError.h"

#include <gif_lib.h>

#include <string>

namespace pixhold::imaging::gif {

// giflib's text for an error code.
inline std::string ErrorText(int code) {
    const char* text = GifErrorString(code);
    return text != nullptr ? std::string(text) : "giflib error " + std::to_string(code);
}

}  // namespace pixhold::imaging::gif
