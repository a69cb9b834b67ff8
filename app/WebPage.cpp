#include "WebPage.h"

#include "ErrorReport.h"
#include "Prompt.h"

#include <QDesktopServices>

namespace pixhold::app {

TWebPageOpener::TWebPageOpener(IPrompt& prompt, TLauncher launcher) : prompt_(prompt) {
    SetLauncher(std::move(launcher));
}

void TWebPageOpener::SetLauncher(TLauncher launcher) {
    launcher_ = std::move(launcher);
    if (!launcher_) {
        launcher_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    }
}

bool TWebPageOpener::OpenWebPage(const QString& address, bool confirm) {
    if (confirm && prompt_.Ask(AppTitle, QStringLiteral("Connect to the Internet now?"),
                               TButtons::YesNo, TMsgIcon::Confirmation) != TAnswer::Yes) {
        return false;
    }
    if (!launcher_(QUrl(address))) {
        prompt_.Message(QStringLiteral("Launch Error"),
                        QStringLiteral("Could not start your Internet browser"), TMsgIcon::None);
        return false;
    }
    return true;
}

}  // namespace pixhold::app
