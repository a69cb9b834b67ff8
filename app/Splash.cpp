#include "Splash.h"

#include "Artwork.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace pixhold::app {

TfrmSplash::TfrmSplash(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    // An ordinary window without frame: an error box shown during start-up
    // must not end up behind it.
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Loading Pixhold"));
    setFixedSize(393, 212);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(5);
    panel->setGeometry(rect());
    panel->setAutoFillBackground(true);
    panel->setPalette(white);

    auto* picture = new QLabel(panel);
    picture->setObjectName(QStringLiteral("imgProgram"));
    picture->setScaledContents(true);
    picture->setPixmap(ProgramPicture(105, 113));
    picture->setGeometry(20, (height() - 113) / 2, 105, 113);

    auto* title = new QLabel(QStringLiteral("Pixhold™"), panel);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(35);
    font.setBold(true);
    title->setFont(font);
    QPalette green = title->palette();
    green.setColor(QPalette::WindowText, QColor(0, 128, 0));
    title->setPalette(green);
    title->setAlignment(Qt::AlignCenter);
    title->setGeometry(135, 60, 240, 60);

    auto* small = new QLabel(panel);
    small->setObjectName(QStringLiteral("imgMaker"));
    small->setPixmap(SmallPicture(32));
    small->setGeometry(width() - 32 - 14, height() - 32 - 14, 32, 32);
}

void TfrmSplash::ShowNow() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    show();
    repaint();
    // Let the window system map and paint it before start-up goes on.
    QApplication::processEvents();
}

}  // namespace pixhold::app
