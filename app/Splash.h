#pragma once

#include <QWidget>

namespace pixhold::app {

// The start-up window: shown and painted before anything slow happens, closed
// once the data module is up. Never shown again.
class TfrmSplash : public QWidget {
    Q_OBJECT
public:
    static constexpr int HelpContext = 50;

    explicit TfrmSplash(QWidget* parent = nullptr);

    // Shows the window centred and paints it at once.
    void ShowNow();
};

}  // namespace pixhold::app
