#include "ImageListModel.h"

#include "ImageHelper.h"
#include "ImageList.h"

#include <QPixmap>

#include <algorithm>

namespace pixhold::app {

TImageListModel::TImageListModel(const imaging::TImageList& images, QObject* parent)
    : QAbstractListModel(parent), images_(images) {}

void TImageListModel::SetItemCount(int count) {
    beginResetModel();
    count_ = std::max(0, count);
    endResetModel();
}

void TImageListModel::GrowTo(int count) {
    if (count <= count_) return;
    beginInsertRows(QModelIndex(), count_, count - 1);
    count_ = count;
    endInsertRows();
}

void TImageListModel::DeleteItem(int row, const std::function<void()>& removeData) {
    if (row < 0 || row >= count_) {
        removeData();
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    removeData();
    --count_;
    endRemoveRows();
}

void TImageListModel::SetShowPictures(bool show) {
    if (show == showPictures_) {
        return;
    }
    showPictures_ = show;
    if (count_ > 0) {
        Q_EMIT dataChanged(index(0), index(count_ - 1), {Qt::DecorationRole});
    }
}

int TImageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_;
}

QVariant TImageListModel::data(const QModelIndex& index, int role) const {
    if (ph_ == nullptr || !index.isValid() || index.row() >= count_) {
        return {};
    }
    const auto row = static_cast<qsizetype>(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (row < ph_->ImageNames.size()) {
            return ph_->ImageNames[row];
        }
        break;
    case Qt::DecorationRole:
        // The image index of an entry is its own index.
        if (showPictures_ && row < ph_->ImageNames.size() &&
            static_cast<std::size_t>(row) < images_.Count()) {
            return QPixmap::fromImage(images_.Picture(static_cast<std::size_t>(row)));
        }
        break;
    default:
        break;
    }
    return {};
}

}  // namespace pixhold::app
