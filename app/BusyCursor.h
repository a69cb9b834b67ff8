#pragma once

#include <QApplication>
#include <QCursor>

namespace pixhold::app {

// The hourglass while an operation runs; the previous cursor comes back on
// every way out, errors included.
class TBusyCursor {
public:
    TBusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

}  // namespace pixhold::app
