#pragma once

#include <QAbstractListModel>

#include <functional>

namespace pixhold::imaging {
class TImageList;
class TPH;
}  // namespace pixhold::imaging

namespace pixhold::app {

// The main list's owner-supplied data: the list holds no entries of its own,
// only an item count; captions come from ImageNames and pictures from the
// image list, on demand. Entries at or beyond the names are blank.
class TImageListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TImageListModel(const imaging::TImageList& images, QObject* parent = nullptr);

    // The helper whose names are shown; none (blank entries) until it exists.
    void SetHelper(const imaging::TPH* ph) { ph_ = ph; }

    int ItemCount() const { return count_; }
    // Sets the item count; the view forgets everything it showed.
    void SetItemCount(int count);
    // Appends rows up to `count` without disturbing the rows shown (scroll
    // position and selection stay); nothing when there are as many already.
    void GrowTo(int count);
    // Deletes one item: removeData takes its name (and picture) away while the
    // view knows the row is going; the rows after it move up.
    void DeleteItem(int row, const std::function<void()>& removeData);
    // Pictures are answered only in the icon style.
    void SetShowPictures(bool show);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const imaging::TPH* ph_ = nullptr;
    const imaging::TImageList& images_;
    int count_ = 0;
    bool showPictures_ = true;
};

}  // namespace pixhold::app
