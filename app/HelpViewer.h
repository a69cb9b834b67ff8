#pragma once

#include "HelpFile.h"

#include <QDialog>

#include <vector>

class QLineEdit;
class QPushButton;
class QTextBrowser;
class QUrl;

namespace pixhold::app {

// The help viewer: shows the contents page, the index page with a keyword box,
// and topics of one help file. Links move between pages; Back returns.
class TfrmHelp : public QDialog {
    Q_OBJECT
public:
    enum class TPageKind { Contents, Index, Topic };
    struct TPage {
        TPageKind Kind = TPageKind::Contents;
        int Topic = 0;
        bool operator==(const TPage&) const = default;
    };

    explicit TfrmHelp(QWidget* parent = nullptr);

    void SetFile(THelpFile file, const QString& path);
    const QString& FilePath() const { return path_; }

    void ShowPage(TPage page);
    TPage CurrentPage() const { return current_; }
    // The page's text as shown (for checks).
    QString PageText() const;

private:
    void Render();
    void LinkClicked(const QUrl& url);
    void Back();
    void KeywordEdited();
    void KeywordAccepted();

    THelpFile file_;
    QString path_;
    TPage current_;
    bool shown_ = false;  // a page of this file has been shown
    std::vector<TPage> history_;
    QTextBrowser* browser_;
    QLineEdit* keyword_;
    QPushButton* back_;
};

}  // namespace pixhold::app
