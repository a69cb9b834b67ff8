#include "HelpViewer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace pixhold::app {

TfrmHelp::TfrmHelp(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // An open help window must not keep the program running after the main window closes.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(520, 440);

    auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
    auto* index = new QPushButton(QStringLiteral("&Index"), this);
    back_ = new QPushButton(QStringLiteral("&Back"), this);
    keyword_ = new QLineEdit(this);
    keyword_->setPlaceholderText(QStringLiteral("Type a keyword"));
    keyword_->setObjectName(QStringLiteral("edtKeyword"));
    browser_ = new QTextBrowser(this);
    browser_->setOpenLinks(false);
    browser_->setObjectName(QStringLiteral("txtHelp"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(index);
    buttons->addWidget(back_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(keyword_);
    layout->addWidget(browser_);

    connect(contents, &QPushButton::clicked, this, [this] { ShowPage({TPageKind::Contents, 0}); });
    connect(index, &QPushButton::clicked, this, [this] { ShowPage({TPageKind::Index, 0}); });
    connect(back_, &QPushButton::clicked, this, &TfrmHelp::Back);
    connect(browser_, &QTextBrowser::anchorClicked, this, &TfrmHelp::LinkClicked);
    connect(keyword_, &QLineEdit::textEdited, this, &TfrmHelp::KeywordEdited);
    connect(keyword_, &QLineEdit::returnPressed, this, &TfrmHelp::KeywordAccepted);
    Render();
}

void TfrmHelp::SetFile(THelpFile file, const QString& path) {
    if (path != path_) {
        history_.clear();
        shown_ = false;
    }
    file_ = std::move(file);
    path_ = path;
    setWindowTitle(file_.Title.isEmpty() ? QStringLiteral("Help") : file_.Title);
}

void TfrmHelp::ShowPage(TPage page) {
    if (shown_ && page != current_) {
        history_.push_back(current_);
    }
    shown_ = true;
    current_ = page;
    if (page.Kind != TPageKind::Index) {
        keyword_->clear();
    }
    Render();
    if (page.Kind == TPageKind::Index) {
        keyword_->setFocus();  // keyword search: type at once
    }
}

QString TfrmHelp::PageText() const {
    return browser_->toPlainText();
}

void TfrmHelp::Render() {
    keyword_->setVisible(current_.Kind == TPageKind::Index);
    back_->setEnabled(!history_.empty());
    switch (current_.Kind) {
    case TPageKind::Contents: browser_->setHtml(file_.ContentsHtml()); break;
    case TPageKind::Index: browser_->setHtml(file_.IndexHtml(keyword_->text())); break;
    case TPageKind::Topic: browser_->setHtml(file_.TopicHtml(current_.Topic)); break;
    }
}

void TfrmHelp::LinkClicked(const QUrl& url) {
    const QString target = url.toString();
    if (target == QLatin1String("contents")) {
        ShowPage({TPageKind::Contents, 0});
    } else if (target == QLatin1String("index")) {
        ShowPage({TPageKind::Index, 0});
    } else if (target.startsWith(QLatin1String("topic:"))) {
        ShowPage({TPageKind::Topic, target.mid(6).toInt()});
    }
}

void TfrmHelp::Back() {
    if (!history_.empty()) {
        current_ = history_.back();
        history_.pop_back();
        Render();
    }
}

void TfrmHelp::KeywordEdited() {
    Render();
}

void TfrmHelp::KeywordAccepted() {
    const auto found = file_.FindKeywords(keyword_->text());
    if (found.size() == 1 && found.front()->Topics.size() == 1) {
        ShowPage({TPageKind::Topic, found.front()->Topics.front()});
    }
}

}  // namespace pixhold::app
