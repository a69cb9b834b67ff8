#include "About.h"

#include "Artwork.h"
#include "WebPage.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace pixhold::app {

TAboutBox::TAboutBox(TWebPageOpener& webPage, std::function<void()> showHelp, QWidget* parent)
    : QDialog(parent), webPage_(webPage), showHelp_(std::move(showHelp)) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About Pixhold"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(QFont(QStringLiteral("Arial"), 9));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("ProgramIcon"));
    picture->setPixmap(ProgramPicture(64, 69));

    ProductName = new QLabel(this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSize(14);
    ProductName->setFont(bold);
    Version = new QLabel(this);
    Version->setObjectName(QStringLiteral("Version"));
    Build = new QLabel(this);
    Build->setObjectName(QStringLiteral("lblBuild"));
    WebAddress = new QLabel(this);
    WebAddress->setObjectName(QStringLiteral("lblWebAddress"));
    WebAddress->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(MakerHomePage));
    WebAddress->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    WebAddress->setOpenExternalLinks(false);
    connect(WebAddress, &QLabel::linkActivated, this,
            [this](const QString& link) { webPage_.OpenWebPage(link, false); });

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(ProductName);
    text->addWidget(Version);
    text->addWidget(Build);
    text->addSpacing(8);
    text->addWidget(WebAddress);
    auto* grid = new QGridLayout(this);
    grid->addWidget(picture, 0, 0, Qt::AlignTop);
    grid->addLayout(text, 0, 1);
    grid->addWidget(ok, 1, 0, 1, 2, Qt::AlignHCenter);
    grid->setSizeConstraint(QLayout::SetFixedSize);  // fixed dialog border
}

QString TAboutBox::VersionLine() {
    return QStringLiteral("Version ") + QLocale::system().toString(1.01, 'f', 2);
}

void TAboutBox::showEvent(QShowEvent* event) {
    ProductName->setText(QStringLiteral("Pixhold™"));
    Version->setText(VersionLine());
    Build->setText(QStringLiteral("Build 1.012"));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // Esc closes with OK: there is nothing to cancel.
    if (event->key() == Qt::Key_Escape) {
        accept();
        return;
    }
    if (event->key() == Qt::Key_F1 && showHelp_) {
        showHelp_();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace pixhold::app
