#pragma once

#include <QObject>

#include <functional>

class QSessionManager;
class QSocketNotifier;

namespace pixhold::app {

// Ends the program as Exit does when the system or the desktop asks it to:
// on SIGTERM, SIGINT and SIGHUP, and when the session manager ends the
// session. One instance, made right after the application object and kept
// until main() returns.
//
// The signal handler only raises a flag and writes a byte into a pipe; the
// event loop reads the pipe and ends every running event loop, those of open
// dialogs and message boxes included (they return as if cancelled), so main()
// goes on with its ordinary shut-down: viewers, data module and tables
// closed, settings saved. Further signals, also during the shut-down, reach
// the same handler and change nothing, so nothing interrupts the writing of
// the settings. A signal that was ignored when the program started (nohup,
// a background job of a script) stays ignored.
//
// The session manager: its request to save (commitDataRequest) runs
// OnCommitData at once, which saves the settings in case the session ends
// the program hard afterwards; its request to end reaches the application as
// a Quit event, which ends the event loops as a signal does.
class TTerminationWatch final : public QObject {
    Q_OBJECT
public:
    // Installs the signal handlers and watches the application object.
    explicit TTerminationWatch(QObject* parent = nullptr);
    // Restores the signal handlers found at construction (unless
    // IgnoreFromNowOn ran).
    ~TTerminationWatch() override;
    TTerminationWatch(const TTerminationWatch&) = delete;
    TTerminationWatch& operator=(const TTerminationWatch&) = delete;

    // True once something asked the program to end while the watch lives: a
    // signal (already in the handler, before any event loop has run), the
    // session's end, or the application's Quit. main() tests it before it
    // starts the event loop; an import tests it between two files.
    static bool EndRequested();
    // The first signal received, or 0.
    static int FirstSignal();

    // Runs when the session manager asks the program to save its data.
    std::function<void()> OnCommitData;

    // Runs `save` when the process ends through exit() without returning from
    // main() (Qt does so when the connection to the display breaks, for
    // example when the X server goes away with the session), on the thread
    // that called this. An empty function disarms it; so does destruction.
    void SaveAtUnexpectedExit(std::function<void()> save);

    // The shut-down is done and the process is about to end by itself: the
    // three signals are ignored from now on, so that one arriving in the last
    // moments does not turn a clean end into a death by signal.
    void IgnoreFromNowOn();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ReadPipe();
    void CommitData(QSessionManager& manager);
    void EndEventLoops();

    QSocketNotifier* notifier_ = nullptr;
    bool ended_ = false;
};

}  // namespace pixhold::app
