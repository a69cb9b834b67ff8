#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace pixhold::imaging {
class TPicture;
}

namespace pixhold::viewer {

// The viewer's picture control: draws a picture it does not own, at its own
// size or stretched to the control with a smooth filter. It never changes the
// picture; a stretched rendering is made once per size and kept for painting.
// Animated GIFs play with their own frame delays and loop count.
class TPictureView : public QWidget {
    Q_OBJECT
public:
    explicit TPictureView(QWidget* parent = nullptr);

    // The picture to show (nothing when null). `prescaled` may hold the
    // picture already stretched for the size the control will get.
    void SetPicture(const imaging::TPicture* picture, QImage prescaled = {});
    // Call after the shown picture was changed in place.
    void PictureChanged();
    // Shows a preview in place of the picture until SetPicture or
    // PictureChanged: `reduced` (the picture decoded at a reduced size) is
    // always stretched to the control; `display` may hold it already
    // stretched for the size the control will get.
    void SetPreview(QImage reduced, QImage display = {});
    bool ShowingPreview() const { return preview_; }

    void SetStretch(bool stretch);
    bool Stretch() const { return stretch_; }

    // The frame of an animated picture on show, and whether it still plays.
    int FrameIndex() const { return frame_; }
    bool Animating() const { return timer_.isActive(); }
    // What the control would paint at its current size (for tests).
    QImage Shown() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void StartAnimation();
    void NextFrame();
    const QImage& Source() const;

    const imaging::TPicture* picture_ = nullptr;
    bool stretch_ = false;
    bool preview_ = false;
    QImage render_;               // the picture rendered at its own size
    mutable QImage scaled_;       // the source stretched to the control's size
    mutable qint64 scaledKey_ = 0;
    QTimer timer_;
    int frame_ = 0;
    int loopsDone_ = 0;
};

// The rubber band: a dotted outline that inverts what lies under it, so that
// it shows on any picture. A press on it is reported through `pressed`.
class TBandShape : public QWidget {
    Q_OBJECT
public:
    explicit TBandShape(QWidget* parent = nullptr);

Q_SIGNALS:
    void pressed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace pixhold::viewer
