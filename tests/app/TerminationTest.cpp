// How the program ends when the system or the desktop asks it to: signals and
// the application's Quit end every running event loop, also nested ones,
// once; later signals change nothing.

#include "Termination.h"

#include "DataModuleWindow.h"
#include "FormFixture.h"
#include "fDM.h"

#include "ChildProcess.h"
#include "TempDir.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include <unistd.h>

namespace pixhold::app {
namespace {

// Runs `body` inside the application's event loop and returns once that
// loop has ended. The loop ends only through the watch (a safety timer fails
// the test). The application's loop, not a loop of the test's own: an ended
// application loop lets later loops run again, as the next test needs.
void RunInLoop(const std::function<void()>& body) {
    bool timedOut = false;
    QObject context;
    QTimer::singleShot(0, &context, body);
    QTimer::singleShot(10000, &context, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    QCoreApplication::exec();
    EXPECT_FALSE(timedOut) << "the event loop did not end";
}

// A signal handler of the test's own, to see that the watch restores it.
volatile std::sig_atomic_t ownHandlerCalls = 0;
extern "C" void OwnHandler(int) { ownHandlerCalls = ownHandlerCalls + 1; }

// Every test starts with the three signals at their default action, as a
// program started from the desktop has them, whatever the test runner had;
// the runner's dispositions come back afterwards.
class TDefaultSignals {
public:
    TDefaultSignals() {
        for (std::size_t i = 0; i < Numbers.size(); ++i) {
            struct sigaction action {};
            action.sa_handler = SIG_DFL;
            sigemptyset(&action.sa_mask);
            ::sigaction(Numbers[i], &action, &saved_[i]);
        }
    }
    ~TDefaultSignals() {
        for (std::size_t i = 0; i < Numbers.size(); ++i) ::sigaction(Numbers[i], &saved_[i], nullptr);
    }
    TDefaultSignals(const TDefaultSignals&) = delete;
    TDefaultSignals& operator=(const TDefaultSignals&) = delete;

    static constexpr std::array<int, 3> Numbers{SIGTERM, SIGINT, SIGHUP};

private:
    std::array<struct sigaction, 3> saved_{};
};

class TerminationTest : public ::testing::TestWithParam<int> {
    TDefaultSignals defaults_;
};

class TerminationWatchTest : public ::testing::Test {
    TDefaultSignals defaults_;
};

TEST_P(TerminationTest, SignalEndsTheNestedAndTheOuterLoop) {
    const int number = GetParam();
    TTerminationWatch watch;
    EXPECT_FALSE(TTerminationWatch::EndRequested());
    bool innerEnded = false;
    bool laterLoopEndedAtOnce = false;
    RunInLoop([&] {
        // A dialog's loop inside a command, as when a message box is open.
        QEventLoop inner;
        QTimer::singleShot(0, [number] { std::raise(number); });
        inner.exec();
        innerEnded = true;
        // A question asked after the dialog returned does not wait either.
        QEventLoop later;
        QTimer::singleShot(5000, &later, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        later.exec();
        laterLoopEndedAtOnce = clock.elapsed() < 4000;
    });
    EXPECT_TRUE(innerEnded);
    EXPECT_TRUE(laterLoopEndedAtOnce);
    EXPECT_TRUE(TTerminationWatch::EndRequested());
    EXPECT_EQ(TTerminationWatch::FirstSignal(), number);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return param.param == SIGTERM ? "Term" : param.param == SIGINT ? "Int" : "Hup";
                         });

TEST_F(TerminationWatchTest, SignalBeforeAnyLoopIsSeenAtOnce) {
    TTerminationWatch watch;
    std::raise(SIGTERM);
    // main() asks before it starts the event loop.
    EXPECT_TRUE(TTerminationWatch::EndRequested());
    // The byte waits in the pipe; the first loop ends on it.
    RunInLoop([] {});
}

TEST_F(TerminationWatchTest, LaterSignalsDuringShutdownChangeNothing) {
    TTerminationWatch watch;
    RunInLoop([] { std::raise(SIGINT); });
    ASSERT_TRUE(TTerminationWatch::EndRequested());
    // Shut-down: more signals arrive while the settings are written. The
    // process lives on (the handler is still the watch's) and the first
    // signal stays the one recorded.
    for (int i = 0; i < 50; ++i) {
        std::raise(SIGTERM);
        std::raise(SIGHUP);
    }
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "pixhold-termination-probe";
    pixhold::test::WriteText(file, "written");
    EXPECT_EQ(pixhold::test::ReadText(file), "written");
    std::filesystem::remove(file);
    EXPECT_EQ(TTerminationWatch::FirstSignal(), SIGINT);
    QCoreApplication::processEvents();  // reading the pipe again does no harm
}

TEST_F(TerminationWatchTest, QuitEventEndsEveryLoop) {
    TTerminationWatch watch;
    bool innerEnded = false;
    RunInLoop([&] {
        QEventLoop inner;
        QTimer::singleShot(0, [] {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        });
        inner.exec();
        innerEnded = true;
    });
    EXPECT_TRUE(innerEnded);
    EXPECT_TRUE(TTerminationWatch::EndRequested());
    EXPECT_EQ(TTerminationWatch::FirstSignal(), 0);
}

TEST_F(TerminationWatchTest, SignalIgnoredAtStartStaysIgnored) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, nullptr), 0);
    {
        TTerminationWatch watch;
        std::raise(SIGHUP);  // nohup's choice: nothing happens
        QCoreApplication::processEvents();
        EXPECT_FALSE(TTerminationWatch::EndRequested());
    }
}

TEST_F(TerminationWatchTest, DestructionRestoresTheEarlierHandler) {
    struct sigaction own {};
    own.sa_handler = OwnHandler;
    sigemptyset(&own.sa_mask);
    ASSERT_EQ(::sigaction(SIGTERM, &own, nullptr), 0);
    { TTerminationWatch watch; }
    ownHandlerCalls = 0;
    std::raise(SIGTERM);
    EXPECT_EQ(ownHandlerCalls, 1);
}

TEST_F(TerminationWatchTest, AfterTheShutdownSignalsAreIgnored) {
    {
        TTerminationWatch watch;
        watch.IgnoreFromNowOn();
        for (const int number : TDefaultSignals::Numbers) std::raise(number);  // the process lives on
        EXPECT_FALSE(TTerminationWatch::EndRequested());
    }
    for (const int number : TDefaultSignals::Numbers) {
        struct sigaction after {};
        ::sigaction(number, nullptr, &after);
        EXPECT_EQ(after.sa_handler, SIG_IGN) << number << ": kept to the end of the process";
    }
}

// An import that runs when the program is asked to end stops before the next
// file, as Esc stops it: the shut-down does not wait for a long folder.
class TerminationDuringImportTest : public test::FormFixture {
    TDefaultSignals defaults_;
};

TEST_F(TerminationDuringImportTest, ImportStopsBeforeTheNextFile) {
    pixhold::test::TempDir data;
    pixhold::test::TempDir pictures;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        ASSERT_TRUE(picture.save(QString::fromStdString((pictures / name).string())));
    }
    form->Config().DataFolder = data.folder();
    TDataModuleWindow window(prompt, *form);
    store::TDM dm(form->Config(), window);
    dm.DataModuleCreate();
    auto records = [&dm] {
        int count = 0;
        for (dm.tblData.First(); !dm.tblData.Eof(); dm.tblData.Next()) ++count;
        return count;
    };

    {
        TTerminationWatch watch;
        dm.ImportPaths({(pictures / "a.png").string()});
        ASSERT_EQ(records(), 1) << "without a signal the import stores its files";

        std::raise(SIGTERM);
        EXPECT_TRUE(window.ImportCancelRequested());
        dm.ImportPaths({pictures.path().string()});
        EXPECT_EQ(records(), 1) << "nothing more after the signal";
    }
    EXPECT_FALSE(window.ImportCancelRequested()) << "the request ends with the watch";
}

// Qt ends the process through exit() when the display connection breaks;
// the armed save still runs then, and a disarmed one does not. (Each child
// leaves through _exit once the handlers that matter have run, before the
// leak checker looks at a process that did not clean up.)
extern "C" void QuietEnd() { ::_exit(0); }

TEST_F(TerminationWatchTest, SaveRunsWhenTheProcessEndsThroughExit) {
    pixhold::test::TempDir dir;
    const std::filesystem::path saved = dir / "saved";
    const std::filesystem::path disarmed = dir / "disarmed";
    TTerminationWatch watch;
    {
        pixhold::test::ChildProcess child([&](pixhold::test::ChildProcess::Channel&) {
            watch.SaveAtUnexpectedExit([&saved] {
                pixhold::test::WriteText(saved, "settings");
                ::_exit(0);
            });
            std::exit(3);
            return 1;
        });
        EXPECT_EQ(child.Wait(), 0);
    }
    {
        pixhold::test::ChildProcess child([&](pixhold::test::ChildProcess::Channel&) {
            std::atexit(QuietEnd);  // runs after the watch's handler
            watch.SaveAtUnexpectedExit([&disarmed] { pixhold::test::WriteText(disarmed, "settings"); });
            watch.SaveAtUnexpectedExit({});
            std::exit(3);
            return 1;
        });
        EXPECT_EQ(child.Wait(), 0);
    }
    EXPECT_TRUE(std::filesystem::exists(saved));
    EXPECT_FALSE(std::filesystem::exists(disarmed));
}

}  // namespace
}  // namespace pixhold::app
