#include <atomic>
#include <chrono>
#include <thread>

#include "DatasetTestSupport.h"

namespace pixhold::engine::datasettest {
namespace {

TCofferSessionList& Sessions() { return TCofferSessionList::Instance(); }

TEST(SessionListTest, DefaultSessionIsFoundByEmptyNameAndOthersByNameWithoutCase) {
    EXPECT_EQ(Sessions().FindSession("")->SessionName(), "Default");
    TCofferSession session("Session1");
    session.SetSessionName("PHSession");
    EXPECT_EQ(Sessions().FindSession("phsession"), &session);
    EXPECT_EQ(&Sessions().GetSession("PHSESSION"), &session);
    EXPECT_EQ(Sessions().FindSession("Nobody"), nullptr);
    EXPECT_EQ(ErrorText([] { Sessions().GetSession("Nobody"); }), "Session name Nobody is not valid.");
}

TEST(SessionListTest, FreedSessionsLeaveTheList) {
    const std::size_t before = Sessions().Count();
    {
        TCofferSession session("Temp");
        EXPECT_EQ(Sessions().Count(), before + 1);
    }
    EXPECT_EQ(Sessions().Count(), before);
}

TEST(SessionTest, PropertiesStartAtTheirDocumentedValues) {
    TCofferSession s("S");
    EXPECT_FALSE(s.Active());
    EXPECT_TRUE(s.KeepConnections());
    EXPECT_EQ(s.LockRetryCount(), 15);
    EXPECT_EQ(s.LockWaitTime(), 100);
    EXPECT_EQ(s.LockProtocol(), TLockProtocol::lpPessimistic);
    EXPECT_EQ(s.ProgressSteps(), 20);
    EXPECT_EQ(s.SessionType(), TSessionType::stLocal);
    EXPECT_EQ(s.RemoteAddress(), "127.0.0.1");
    EXPECT_EQ(s.RemotePort(), 12005);
    EXPECT_EQ(s.EngineVersion(), "3.30");
    EXPECT_EQ(s.BufferLimits(), (TBufferLimits{16384, 8192, 16384, 32768, 8192}));
}

TEST(SessionTest, ActivationWithoutNameFailsAndLeavesTheSessionInactive) {
    TCofferSession s("S");
    EXPECT_EQ(ErrorText([&] { s.Open(); }), "Session name is missing.");
    EXPECT_FALSE(s.Active());
}

TEST(SessionTest, StartupHandlerRunsFirstAndMayNameTheSession) {
    TCofferSession s("S");
    int calls = 0;
    s.OnStartup = [&](TCofferSession& session) {
        ++calls;
        session.SetSessionName("Named");
    };
    s.Open();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(s.Active());
    EXPECT_TRUE(Sessions().DefaultSession().Active());
}

TEST(SessionTest, SettingsReachTheEngineSessionAtActivationAndWhenChanged) {
    TCofferSession s("S");
    s.SetSessionName("Settings");
    s.SetLockRetryCount(3);
    s.SetLockWaitTime(7);
    s.SetLockProtocol(TLockProtocol::lpOptimistic);
    s.SetStrictChangeDetection(true);
    s.SetForceBufferFlush(true);
    s.SetPrivateDir("/tmp/somewhere");
    s.Open();
    TDataSession& engine = s.EngineSession();
    EXPECT_NE(&engine, &Sessions().ProcessEngineSession());
    EXPECT_EQ(engine.LockRetryCount(), 3);
    EXPECT_EQ(engine.LockWaitTime(), 7);
    EXPECT_EQ(engine.LockProtocol(), TLockProtocol::lpOptimistic);
    EXPECT_TRUE(engine.StrictChangeDetection());
    EXPECT_TRUE(engine.ForceBufferFlush());
    EXPECT_EQ(engine.GetPrivateDir(), "/tmp/somewhere/");

    s.SetLockRetryCount(9);
    s.SetProgressSteps(50);
    EXPECT_EQ(engine.LockRetryCount(), 9);
    EXPECT_EQ(engine.ProgressSteps(), 50);
    // Above 100 is ignored.
    s.SetProgressSteps(150);
    EXPECT_EQ(s.ProgressSteps(), 50);
    EXPECT_EQ(engine.ProgressSteps(), 50);
}

TEST(SessionTest, NameTypeAndRemoteSettingsCannotChangeWhileActive) {
    TCofferSession s("S");
    s.SetSessionName("Busy");
    s.Open();
    const std::string text = "Cannot perform this operation on an active session.";
    EXPECT_EQ(ErrorText([&] { s.SetSessionName("Other"); }), text);
    EXPECT_EQ(ErrorText([&] { s.SetSessionType(TSessionType::stRemote); }), text);
    EXPECT_EQ(ErrorText([&] { s.SetRemoteHost("h"); }), text);
    EXPECT_EQ(ErrorText([&] { s.SetRemotePort(1); }), text);
    s.Close();
    s.SetSessionName("Other");
    EXPECT_EQ(s.SessionName(), "Other");
}

TEST(SessionTest, RemoteSessionIsRefused) {
    TCofferSession s("S");
    s.SetSessionName("Far");
    s.SetSessionType(TSessionType::stRemote);
    EXPECT_FALSE(ErrorText([&] { s.Open(); }).empty());
    EXPECT_FALSE(s.Active());
}

TEST(SessionTest, PasswordsAreKeptOnceExactlyAndEmptyOnesIgnored) {
    TCofferSession s("S");
    s.SetSessionName("Pwd");
    s.AddPassword("secret");  // activates the session first
    ASSERT_TRUE(s.Active());
    s.AddPassword("secret");
    s.AddPassword("");
    s.AddPassword("Secret");
    EXPECT_EQ(s.EngineSession().PasswordCount(), 2u);
    s.RemovePassword("SECRET");
    EXPECT_EQ(s.EngineSession().PasswordCount(), 2u);
    s.RemovePassword("Secret");
    EXPECT_TRUE(s.EngineSession().HasPassword("secret"));
    EXPECT_FALSE(s.EngineSession().HasPassword("Secret"));
    s.RemoveAllPasswords();
    EXPECT_EQ(s.EngineSession().PasswordCount(), 0u);
}

TEST(SessionTest, PasswordRequestAsksTheHandlerOrTheInstalledDialog) {
    TCofferSession s("S");
    s.SetSessionName("Ask");
    EXPECT_FALSE(s.RequestPassword());  // nobody to ask
    int dialogs = 0;
    Sessions().PasswordDialog = [&](TCofferSession&) {
        ++dialogs;
        return true;
    };
    EXPECT_TRUE(s.RequestPassword());
    s.OnPassword = [](TCofferSession& session, bool& continueOpen) {
        EXPECT_FALSE(continueOpen);
        session.AddPassword("typed");
        continueOpen = true;
    };
    EXPECT_TRUE(s.RequestPassword());
    EXPECT_EQ(dialogs, 1);  // the handler takes precedence
    EXPECT_TRUE(s.EngineSession().HasPassword("typed"));
    Sessions().PasswordDialog = nullptr;
}

TEST(SessionTest, AutomaticNameIsComponentNameAndNumber) {
    int owner = 0;
    TCofferSession s("Session", &owner);
    s.SetAutoSessionName(true);
    EXPECT_EQ(s.SessionName().rfind("Session_", 0), 0u);
    EXPECT_EQ(ErrorText([&] { s.SetSessionName("Mine"); }),
              "Cannot perform this operation on the active auto-session.");
    TCofferSession second("Other", &owner);
    EXPECT_EQ(ErrorText([&] { second.SetAutoSessionName(true); }), "This auto-session already exists.");
    // The number is given back: a new auto-session gets the same name.
    const std::string name = s.SessionName();
    s.SetAutoSessionName(false);
    TCofferSession third("Session");
    third.SetAutoSessionName(true);
    EXPECT_EQ(third.SessionName(), name);
}

// The automatic name is given to the datasets of the owner (not to others'),
// and an auto-session is the only session of its owner.
TEST(SessionTest, AnAutomaticNameReachesTheOwnersDatasetsAndStandsAlone) {
    int owner = 0;
    int stranger = 0;
    TCofferTable mine(&owner);
    TCofferTable theirs(&stranger);
    mine.SetSessionName("Before");
    theirs.SetSessionName("Before");
    {
        TCofferSession s("Auto", &owner);
        s.SetAutoSessionName(true);
        EXPECT_EQ(mine.SessionName(), s.SessionName());
        EXPECT_EQ(theirs.SessionName(), "Before");
        s.SetAutoSessionName(false);
        TCofferSession plain("Plain", &owner);
        EXPECT_EQ(ErrorText([&] { s.SetAutoSessionName(true); }),
                  "The active auto-session can be the only active session.");
        EXPECT_FALSE(s.AutoSessionName());
    }
    // With those sessions gone, the owner's next auto-session names the dataset again.
    TCofferSession later("Later", &owner);
    later.SetAutoSessionName(true);
    EXPECT_EQ(mine.SessionName(), later.SessionName());
}

TEST(EngineLockTest, ReentersWithinASessionAndSerialisesOtherThreads) {
    TCofferSession s("S");
    s.SetSessionName("Locker");
    s.LockEngine();
    s.LockEngine();
    EXPECT_EQ(s.LockDepth(), 2);
    EXPECT_TRUE(s.Active());  // entering activates
    EXPECT_EQ(Sessions().CurrentSession(), &s);

    std::atomic<bool> entered{false};
    std::thread other([&] {
        TEngineLock lock(Sessions().DefaultSession());
        entered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    s.UnlockEngine();
    EXPECT_FALSE(entered.load());  // still held once
    s.UnlockEngine();
    other.join();
    EXPECT_TRUE(entered.load());
    EXPECT_EQ(s.LockDepth(), 0);
}

TEST(EngineLockTest, ProcessEngineSessionNeedsTheStartedEngine) {
    TCofferSession& defaultSession = Sessions().DefaultSession();
    defaultSession.Close();
    EXPECT_EQ(ErrorCode([] { Sessions().ProcessEngineSession(); }), err::NotInitialized);
    defaultSession.Open();
    EXPECT_NO_THROW(Sessions().ProcessEngineSession());
}

}  // namespace
}  // namespace pixhold::engine::datasettest

#include "CofferTable.h"
#include "TempDir.h"

namespace pixhold::engine::datasettest {
namespace {

// Two threads, each with a session of its own, write to tables of one folder
// at the same time; the engine lock keeps their engine calls apart.
TEST(EngineLockTest, SessionsOnTwoThreadsWriteSafely) {
    pixhold::test::TempDir dir;
    auto work = [&dir](const std::string& name) {
        TCofferSession session(name);
        session.SetSessionName(name);
        TCofferTable table;
        table.SetSessionName(name);
        table.SetDatabaseName(dir.folder());
        table.SetTableName(name + ".dat");
        table.FieldDefs.Add({"N", TFieldType::ftInteger, 0, true});
        table.FieldDefs.Add({"B", TFieldType::ftBlob, 0, false});
        table.IndexDefs.Add({"", "N", ixopt::Primary, 0});
        table.CreateTable();
        table.Open();
        for (int i = 0; i < 40; ++i) {
            table.Append();
            table.FieldByName("N").SetAsInteger(i);
            table.FieldByName("B").SetAsString(std::string(500 + i, 'x'));
            table.Post();
        }
        std::size_t count = 0;
        for (table.First(); !table.Eof(); table.Next()) count += table.FieldByName("B").AsString().size() > 0;
        return count;
    };
    std::size_t a = 0;
    std::size_t b = 0;
    std::thread first([&] { a = work("ThreadA"); });
    std::thread second([&] { b = work("ThreadB"); });
    first.join();
    second.join();
    EXPECT_EQ(a, 40u);
    EXPECT_EQ(b, 40u);
}

}  // namespace
}  // namespace pixhold::engine::datasettest
