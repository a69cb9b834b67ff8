#include "ImageList.h"

#include <QPainter>

#include <algorithm>

namespace pixhold::imaging {

std::size_t TImageList::Add(const QImage& picture) {
    QImage square(Width, Height, QImage::Format_RGB32);
    square.fill(Qt::white);
    if (!picture.isNull()) {
        QPainter painter(&square);
        if (picture.size() == square.size()) {
            painter.drawImage(0, 0, picture);
        } else {
            // Larger or smaller pictures keep their top-left corner, as a
            // fixed-size image list does.
            painter.drawImage(QPoint(0, 0), picture,
                              QRect(0, 0, std::min(picture.width(), Width),
                                    std::min(picture.height(), Height)));
        }
    }
    pictures_.push_back(square);
    return pictures_.size() - 1;
}

void TImageList::Delete(std::size_t i) {
    if (i < pictures_.size()) {
        pictures_.erase(pictures_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void TImageList::Clear() {
    pictures_.clear();
}

QImage TImageList::Picture(std::size_t i) const {
    return i < pictures_.size() ? pictures_[i] : QImage();
}

}  // namespace pixhold::imaging
