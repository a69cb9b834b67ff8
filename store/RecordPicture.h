#pragma once

#include "ByteSpan.h"
#include "ImageTypes.h"

#include <string>

namespace pixhold::imaging {
class TPicture;
}

namespace pixhold::store {

class IDataModuleHost;

// The stored picture of one image record as read from the table: its type
// code and the bytes of its Image field. Read on the user-interface thread,
// decodable on any thread.
struct TRecordImage {
    imaging::TImageType Type = imaging::TImageType::Unknown;
    imaging::TByteVector Bytes;
};

// Empties the picture and decodes the record's bytes into it by their type
// code (bytes of another kind are decoded by what they hold); empty bytes
// leave the picture empty. Raises the decoder's error.
void LoadRecordImage(imaging::TPicture& picture, const TRecordImage& image);

// The record thumbnail of the picture (71 x 71, JPEG quality 50) written to a
// new file "_TC....jpg" in the user's temporary folder; the picture is left
// unchanged. A write failure is shown in a message box with the caption
// "Write error"; the path is returned either way and the caller loads the
// file and deletes it.
std::string MakeThumbnailFile(const imaging::TPicture& picture, IDataModuleHost& host);

}  // namespace pixhold::store
