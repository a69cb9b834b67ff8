#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>
#include <vector>

namespace pixhold::imaging {

// The main list's image list: 71 x 71 pictures, not masked, white background.
// Picture i belongs to list entry i.
class TImageList {
public:
    static constexpr int Width = 71;
    static constexpr int Height = 71;

    // Adds a copy of the picture, fitted onto a white 71 x 71 square when its
    // size differs; returns its index.
    std::size_t Add(const QImage& picture);
    // Removes picture i; an index out of range is ignored.
    void Delete(std::size_t i);
    void Clear();

    std::size_t Count() const { return pictures_.size(); }
    // Picture i, or a null image when i is out of range.
    QImage Picture(std::size_t i) const;

private:
    std::vector<QImage> pictures_;
};

}  // namespace pixhold::imaging
