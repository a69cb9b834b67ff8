#pragma once

#include "HelpViewer.h"

#include <QPointer>
#include <QString>

class QWidget;

namespace pixhold::app {

class IPrompt;


// The program's help: a current help file and the requests windows make of
// it (contents, index, a topic by number). One viewer window is reused.
class THelp {
public:
    THelp(IPrompt& prompt, QWidget* owner) : prompt_(prompt), owner_(owner) {}
    ~THelp();
    THelp(const THelp&) = delete;
    THelp& operator=(const THelp&) = delete;

    void SetHelpFile(const QString& path) { helpFile_ = path; }
    const QString& HelpFile() const { return helpFile_; }

    // Topic finder on the contents page (data 1) or the index page (data 0).
    void ShowContents();
    void ShowIndex();
    void ShowTopic(int topic);

    // The viewer window, once a request has opened it.
    TfrmHelp* Viewer() const { return viewer_.data(); }

private:
    enum class TRequest { Contents, Index, Topic };
    void Request(TRequest request, int topic);

    IPrompt& prompt_;
    QWidget* owner_;
    QString helpFile_;
    QPointer<TfrmHelp> viewer_;
};

}  // namespace pixhold::app
