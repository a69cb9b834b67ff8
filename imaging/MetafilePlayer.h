#pragma once

#include "ByteSpan.h"
#include "MetafileRecords.h"

#include <QRectF>

class QPainter;

namespace pixhold::imaging::metafile {

// Plays the records of a metafile through QPainter, the picture's frame
// stretched into `target` (docs/metafile-format.md lists the records and how
// each is drawn). The data must have passed ReadEmfStructure or
// ReadWmfStructure; a record too short for its own fields is skipped, as is
// any record the player does not know.
void PlayEmf(TBytes data, const TEmfHeader& header, QPainter& painter, const QRectF& target);
void PlayWmf(TBytes data, const TWmfInfo& info, QPainter& painter, const QRectF& target);

}  // namespace pixhold::imaging::metafile
