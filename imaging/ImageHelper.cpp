#include "ImageHelper.h"

namespace pixhold::imaging {

void TPH::FillImageList(TImageList& list) {
    ImageNames.clear();
    ViewerIndex = 0;
    list.Clear();
    ClearThumbBitmaps();
    if (fillSource_) {
        fillSource_(*this, list);
    }
}

void TPH::ClearThumbBitmaps() {
    ThumbBitmaps.clear();
}

}  // namespace pixhold::imaging
