#pragma once

#include "ImageTypes.h"
#include "Picture.h"

#include <QRect>

#include <string>
#include <string_view>

namespace pixhold::imaging {

class IPictureMessages;

// A picture control without a window: the picture, whether the control
// sizes itself to the picture or stretches it, and its place in its parent.
struct TImageControl {
    TPicture Picture;
    bool AutoSize = false;
    bool Stretch = false;
    QRect Bounds;  // left, top, width and height in the parent

    int Width() const { return AutoSize ? Picture.Width() : Bounds.width(); }
    int Height() const { return AutoSize ? Picture.Height() : Bounds.height(); }
};

// True when the name's extension, lower-cased, is one of the eight picture kinds.
bool IsPictureFile(std::string_view name);

// The extension of entry `index` (from 0) of the save-as type lists, or "".
std::string ExtensionOfFileType(int index);

// The save dialog's filter, and the stored-picture save-as list (the first seven).
extern const char* const SaveAsFilter;
extern const char* const SaveAsTypes[7];

// Replaces the picture by a bitmap of the same content, by the type code of
// the entry's name: 0 a JPEG drawn into a bitmap ("Invalid graphic file" when
// it cannot be drawn; the picture keeps an empty bitmap of its size), 1 the
// picture reduced to at most 256 colours by the GIF palette rule unless it
// holds a GIF, 2 stays, 3/4/5 an icon or metafile drawn into a bitmap (a
// bitmap stays), 6 a PNG drawn into a bitmap; other codes change nothing.
void PictureToBitmap(TPicture& picture, TImageType code, IPictureMessages& messages);

// Makes the picture hold the kind named by the name's extension: JPEG
// (quality 90), GIF (the palette rule) or PNG from the picture's bitmap;
// other kinds stay as they are (they are encoded when written).
void ConvertPictureToFormat(TPicture& picture, std::string_view name);

}  // namespace pixhold::imaging
