#pragma once

#include "ImageList.h"
#include "ThumbSize.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace pixhold::imaging {

// The image helper: the names and thumbnails behind the main list, and the
// targets of move and category commands. One instance, owned by the main window.
class TPH {
public:
    static constexpr int ThumbSize = imaging::ThumbSize;

    // Rebuilds the list after FillImageList has emptied it: appends to
    // ImageNames, ThumbBitmaps and the image list. The image store installs the
    // real one (database and folder mode); tests install their own.
    using TFillSource = std::function<void(TPH&, TImageList&)>;

    TPH() = default;
    TPH(const TPH&) = delete;
    TPH& operator=(const TPH&) = delete;

    // Empties ImageNames, ThumbBitmaps and the image list, resets ViewerIndex,
    // then lets the fill source rebuild them. Errors of the source are not
    // caught: the list stays as far as it was filled.
    void FillImageList(TImageList& list);
    void ClearThumbBitmaps();

    void SetFillSource(TFillSource source) { fillSource_ = std::move(source); }
    bool HasFillSource() const { return static_cast<bool>(fillSource_); }

    QStringList ImageNames;              // names in list order
    // One thumbnail per name, shared with the image list (kept encoded);
    // empty in quick browse.
    std::vector<TThumbHandle> ThumbBitmaps;
    QString TargetTable;
    QString TargetCategory;
    int ViewerIndex = 0;

private:
    TFillSource fillSource_;
};

}  // namespace pixhold::imaging
