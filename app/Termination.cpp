#include "Termination.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace pixhold::app {

namespace {

constexpr std::array<int, 3> Signals{SIGTERM, SIGINT, SIGHUP};

// Written by the signal handler, so of the only type it may write.
volatile std::sig_atomic_t requested = 0;
volatile std::sig_atomic_t firstSignal = 0;
// The self-pipe: the handler writes, the event loop reads.
volatile std::sig_atomic_t pipeWrite = -1;
int pipeRead = -1;

std::array<struct sigaction, Signals.size()> previous{};
std::array<bool, Signals.size()> installed{};

extern "C" void OnSignal(int number) {
    const int savedErrno = errno;
    if (firstSignal == 0) firstSignal = number;
    requested = 1;
    const int fd = pipeWrite;
    if (fd >= 0) {
        const char byte = 1;
        // Non-blocking: when the pipe is full the loop has enough to wake up.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

// The save that runs when the process ends through exit() instead of
// returning from main(); heap-held so that no static destructor can run first.
std::function<void()>* exitSave = nullptr;
std::thread::id exitSaveThread;
bool exitHandlerRegistered = false;

extern "C" void RunExitSave() {
    if (exitSave == nullptr || std::this_thread::get_id() != exitSaveThread) return;
    std::function<void()> save = std::move(*exitSave);
    delete exitSave;
    exitSave = nullptr;
    try {
        if (save) save();
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
    } catch (...) {
        // Nothing more can be done while the process ends.
    }
}

}  // namespace

TTerminationWatch::TTerminationWatch(QObject* parent) : QObject(parent) {
    requested = 0;
    firstSignal = 0;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        pipeRead = fds[0];
        pipeWrite = fds[1];
        notifier_ = new QSocketNotifier(pipeRead, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { ReadPipe(); });
    } else {
        std::cerr << "Pixhold: no pipe for the termination signals; they end the program at once\n";
    }

    for (std::size_t i = 0; i < Signals.size(); ++i) {
        installed[i] = false;
        if (notifier_ == nullptr) break;
        struct sigaction old {};
        if (::sigaction(Signals[i], nullptr, &old) != 0) continue;
        // Ignored by whoever started the program (nohup, a script's
        // background job): that is their choice.
        if ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        for (const int other : Signals) sigaddset(&action.sa_mask, other);
        // Interrupted system calls go on, so a signal cannot break off a
        // write of the settings or of a table.
        action.sa_flags = SA_RESTART;
        if (::sigaction(Signals[i], &action, &previous[i]) == 0) installed[i] = true;
    }

    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
        if (auto* gui = qobject_cast<QGuiApplication*>(app)) {
            connect(gui, &QGuiApplication::commitDataRequest, this,
                    [this](QSessionManager& manager) { CommitData(manager); }, Qt::DirectConnection);
        }
    }
}

TTerminationWatch::~TTerminationWatch() {
    SaveAtUnexpectedExit({});
    for (std::size_t i = 0; i < Signals.size(); ++i) {
        if (installed[i]) ::sigaction(Signals[i], &previous[i], nullptr);
        installed[i] = false;
    }
    delete notifier_;
    notifier_ = nullptr;
    const int fd = pipeWrite;
    pipeWrite = -1;
    if (fd >= 0) ::close(fd);
    if (pipeRead >= 0) ::close(pipeRead);
    pipeRead = -1;
    // Without a watch nothing asks the program to end.
    requested = 0;
    firstSignal = 0;
}

bool TTerminationWatch::EndRequested() {
    return requested != 0;
}

int TTerminationWatch::FirstSignal() {
    return firstSignal;
}

void TTerminationWatch::SaveAtUnexpectedExit(std::function<void()> save) {
    delete exitSave;
    exitSave = nullptr;
    if (!save) return;
    exitSave = new std::function<void()>(std::move(save));
    exitSaveThread = std::this_thread::get_id();
    if (!exitHandlerRegistered) exitHandlerRegistered = std::atexit(RunExitSave) == 0;
}

void TTerminationWatch::IgnoreFromNowOn() {
    for (std::size_t i = 0; i < Signals.size(); ++i) {
        if (!installed[i]) continue;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(Signals[i], &ignore, nullptr);
        installed[i] = false;
    }
}

bool TTerminationWatch::eventFilter(QObject* watched, QEvent* event) {
    // The application's Quit: the session manager ending the session, or the
    // last window closed. Both end every event loop, nested ones included.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        requested = 1;
        EndEventLoops();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TTerminationWatch::ReadPipe() {
    char buffer[64];
    while (::read(pipeRead, buffer, sizeof buffer) > 0) {
    }
    EndEventLoops();
}

void TTerminationWatch::CommitData(QSessionManager&) {
    if (OnCommitData) OnCommitData();
}

void TTerminationWatch::EndEventLoops() {
    // Once is enough: the loops that run are told to end, and those that
    // start afterwards (a question asked while a dialog returns) end at once.
    if (ended_) return;
    ended_ = true;
    QCoreApplication::exit(0);
}

}  // namespace pixhold::app
