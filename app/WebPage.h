#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace pixhold::app {

class IPrompt;

// The product's page and the maker's home page.
inline const QString ProductWebPage = QStringLiteral("https://www.norvane.com/pixhold/");
inline const QString MakerHomePage = QStringLiteral("https://www.norvane.com/");

// Opens an address in the default browser, after "Connect to the Internet
// now?" when confirm is set. A browser that cannot be started is reported in a
// "Launch Error" box. Returns true when the browser was started.
class TWebPageOpener {
public:
    using TLauncher = std::function<bool(const QUrl&)>;

    // The launcher defaults to QDesktopServices::openUrl.
    explicit TWebPageOpener(IPrompt& prompt, TLauncher launcher = {});

    bool OpenWebPage(const QString& address, bool confirm);
    void SetLauncher(TLauncher launcher);

private:
    IPrompt& prompt_;
    TLauncher launcher_;
};

}  // namespace pixhold::app
