#include "PictureView.h"

#include "Picture.h"

#include <QMouseEvent>
#include <QPainter>

namespace pixhold::viewer {

TPictureView::TPictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { NextFrame(); });
}

void TPictureView::SetPicture(const imaging::TPicture* picture, QImage prescaled) {
    picture_ = picture;
    PictureChanged();
    if (!prescaled.isNull()) {
        scaled_ = std::move(prescaled);
        scaledKey_ = render_.cacheKey();
    }
}

void TPictureView::SetPreview(QImage reduced, QImage display) {
    PictureChanged();
    preview_ = !reduced.isNull();
    render_ = std::move(reduced);
    if (preview_ && !display.isNull()) {
        scaled_ = std::move(display);
        scaledKey_ = render_.cacheKey();
    }
    update();
}

void TPictureView::PictureChanged() {
    preview_ = false;
    timer_.stop();
    frame_ = 0;
    loopsDone_ = 0;
    render_ = QImage();
    scaled_ = QImage();
    scaledKey_ = 0;
    const imaging::TGraphic* graphic = picture_ ? picture_->Graphic() : nullptr;
    if (graphic != nullptr && !graphic->Empty() && graphic->Kind() != imaging::TGraphicKind::Metafile) {
        render_ = graphic->Kind() == imaging::TGraphicKind::Gif
                      ? static_cast<const imaging::TGifGraphic*>(graphic)->Animation().Frames.front().Image
                      : graphic->Render();
    }
    StartAnimation();
    update();
}

void TPictureView::SetStretch(bool stretch) {
    if (stretch_ == stretch) return;
    stretch_ = stretch;
    update();
}

void TPictureView::StartAnimation() {
    const imaging::TGraphic* graphic = picture_ ? picture_->Graphic() : nullptr;
    if (graphic == nullptr || graphic->Kind() != imaging::TGraphicKind::Gif) return;
    const auto& animation = static_cast<const imaging::TGifGraphic*>(graphic)->Animation();
    if (animation.Frames.size() < 2) return;
    timer_.start(animation.Frames.front().PlayDelayMs());
}

void TPictureView::NextFrame() {
    const imaging::TGraphic* graphic = picture_ ? picture_->Graphic() : nullptr;
    if (graphic == nullptr || graphic->Kind() != imaging::TGraphicKind::Gif) return;
    const auto& animation = static_cast<const imaging::TGifGraphic*>(graphic)->Animation();
    const int count = static_cast<int>(animation.Frames.size());
    if (count < 2) return;
    int next = frame_ + 1;
    if (next >= count) {
        // One showing is over: 0 plays forever, N repeats N more times, no
        // loop block plays once; a finished animation rests on its last frame.
        const bool again = animation.LoopCount == 0 || (animation.LoopCount > 0 && loopsDone_ < animation.LoopCount);
        if (!again) return;
        ++loopsDone_;
        next = 0;
    }
    frame_ = next;
    render_ = animation.Frames[static_cast<std::size_t>(frame_)].Image;
    scaled_ = QImage();
    timer_.start(animation.Frames[static_cast<std::size_t>(frame_)].PlayDelayMs());
    update();
}

const QImage& TPictureView::Source() const {
    // A preview always fills the control, whose size is that of the picture
    // it stands for.
    if ((!stretch_ && !preview_) || render_.isNull() || render_.size() == size()) return render_;
    if (scaled_.isNull() || scaled_.size() != size() || scaledKey_ != render_.cacheKey()) {
        scaled_ = render_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaledKey_ = render_.cacheKey();
    }
    return scaled_;
}

QImage TPictureView::Shown() const {
    QImage image(size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    const imaging::TGraphic* graphic = picture_ && !preview_ ? picture_->Graphic() : nullptr;
    if (graphic != nullptr && graphic->Kind() == imaging::TGraphicKind::Metafile) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        graphic->Draw(painter, stretch_ ? QRectF(rect()) : QRectF(0, 0, graphic->Width(), graphic->Height()));
    } else {
        painter.drawImage(0, 0, Source());
    }
    return image;
}

void TPictureView::paintEvent(QPaintEvent*) {
    const imaging::TGraphic* graphic = picture_ && !preview_ ? picture_->Graphic() : nullptr;
    if (graphic == nullptr && !preview_) return;
    QPainter painter(this);
    if (graphic != nullptr && graphic->Kind() == imaging::TGraphicKind::Metafile) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        graphic->Draw(painter, stretch_ ? QRectF(rect()) : QRectF(0, 0, graphic->Width(), graphic->Height()));
        return;
    }
    painter.drawImage(0, 0, Source());
}

TBandShape::TBandShape(QWidget* parent) : QWidget(parent) {}

void TBandShape::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0) return;
    QPainter painter(this);
    // Not-xor with a black pen inverts the pixels under the dots.
    painter.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
    QPen pen(Qt::black);
    pen.setStyle(Qt::DotLine);
    pen.setWidth(1);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

void TBandShape::mousePressEvent(QMouseEvent* event) {
    event->accept();
    Q_EMIT pressed();
}

}  // namespace pixhold::viewer
