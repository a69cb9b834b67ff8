#include "Help.h"

#include "ErrorReport.h"
#include "HelpFile.h"
#include "HelpViewer.h"

namespace pixhold::app {

THelp::~THelp() {
    // Owned here when it has no owner window; else the owner frees it.
    if (owner_ == nullptr) {
        delete viewer_.data();
    }
}

void THelp::ShowContents() {
    Request(TRequest::Contents, 0);
}

void THelp::ShowIndex() {
    Request(TRequest::Index, 0);
}

void THelp::ShowTopic(int topic) {
    Request(TRequest::Topic, topic);
}

void THelp::Request(TRequest request, int topic) {
    THelpFile file;
    try {
        file = THelpFile::Load(helpFile_);
    } catch (const EHelpFileError& e) {
        ReportError(prompt_, QString::fromUtf8(e.what()));
        return;
    }
    if (viewer_.isNull()) {
        viewer_ = new TfrmHelp(owner_);
    }
    viewer_->SetFile(std::move(file), helpFile_);
    switch (request) {
    case TRequest::Contents: viewer_->ShowPage({TfrmHelp::TPageKind::Contents, 0}); break;
    case TRequest::Index: viewer_->ShowPage({TfrmHelp::TPageKind::Index, 0}); break;
    case TRequest::Topic: viewer_->ShowPage({TfrmHelp::TPageKind::Topic, topic}); break;
    }
    viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
}

}  // namespace pixhold::app
