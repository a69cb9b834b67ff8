#include "DatasetTestSupport.h"

#include "DataDirectory.h"

namespace pixhold::engine::datasettest {
namespace {

using DatabaseTest = DatasetFixture;

TEST_F(DatabaseTest, ConnectingOpensTheEngineDirectoryOfTheFolder) {
    EXPECT_TRUE(db_->Connected());
    EXPECT_EQ(db_->Handle().Path(), dir_.folder());
    EXPECT_EQ(session_->FindDatabase("ph"), db_.get());
    db_->Close();
    EXPECT_FALSE(db_->Connected());
    EXPECT_EQ(session_->EngineSession().DirectoryCount(), 0u);
}

TEST_F(DatabaseTest, DirectoryAndNameCannotChangeWhileConnected) {
    const std::string text = "Cannot perform this operation on an open database.";
    EXPECT_EQ(ErrorText([&] { db_->SetDirectory("/tmp"); }), text);
    EXPECT_EQ(ErrorText([&] { db_->SetDatabaseName("Other"); }), text);
    db_->Close();
    db_->SetDirectory("/tmp");
    EXPECT_EQ(db_->Directory(), "/tmp");
}

TEST_F(DatabaseTest, NameRules) {
    TCofferDatabase other(session_.get());
    EXPECT_EQ(ErrorText([&] { other.Open(); }), "Database name is missing.");
    EXPECT_EQ(ErrorText([&] { other.SetDatabaseName("C:\\pics"); }), "Database name C:/pics is not valid.");
    EXPECT_EQ(ErrorText([&] { other.SetDatabaseName("a/b"); }), "Database name a/b is not valid.");
    other.SetDatabaseName("ph");
    other.SetDirectory(dir_.folder());
    EXPECT_EQ(ErrorText([&] { other.Open(); }), "Database name ph already exists.");
    EXPECT_FALSE(other.Connected());
    other.SetDatabaseName("Pics");
    other.SetSessionName("NoSuchSession");
    EXPECT_EQ(ErrorText([&] { other.Open(); }), "Session name NoSuchSession is not valid.");
}

TEST_F(DatabaseTest, SharedHandlesUseOneDirectory) {
    db_->Close();
    db_->SetHandleShared(true);
    db_->Open();
    TCofferDatabase second(session_.get());
    second.SetDatabaseName("PH");
    second.SetHandleShared(true);
    second.Open();
    EXPECT_EQ(&second.Handle(), &db_->Handle());
    db_->Close();  // the other keeps the directory
    EXPECT_EQ(second.Handle().Path(), dir_.folder());
}

TEST_F(DatabaseTest, BeforeConnectRunsFirst) {
    db_->Close();
    db_->SetDirectory("");
    db_->BeforeConnect = [this](TCofferDatabase& database) { database.SetDirectory(dir_.folder()); };
    db_->Open();
    EXPECT_EQ(db_->Handle().Path(), dir_.folder());
}

TEST_F(DatabaseTest, TransactionErrors) {
    db_->StartTransaction();
    EXPECT_EQ(ErrorText([&] { db_->StartTransaction(); }), "Database PH already has an active transaction.");
    db_->Commit();
    EXPECT_EQ(ErrorText([&] { db_->Commit(); }), "Database PH has no active transaction.");
    EXPECT_EQ(ErrorText([&] { db_->Rollback(); }), "Database PH has no active transaction.");
    db_->Close();
    EXPECT_EQ(ErrorText([&] { db_->StartTransaction(); }), "Cannot perform this operation on a closed database.");
}

TEST_F(DatabaseTest, SessionDeactivationDisconnectsItsDatabases) {
    session_->Close();
    EXPECT_FALSE(db_->Connected());
}

}  // namespace
}  // namespace pixhold::engine::datasettest

namespace pixhold::engine::datasettest {
namespace {

TEST_F(DatabaseTest, DatabaseMadeWithoutSessionJoinsTheNamedOneForItsDatasets) {
    db_->Close();
    db_->SetDatabaseName("Old");
    TCofferDatabase db;  // joins the default session
    db.SetDatabaseName("PH2");
    db.SetSessionName("PHSession");
    db.SetDirectory(dir_.folder());
    EXPECT_EQ(session_->FindDatabase("PH2"), &db);
    TCofferTable table;
    table.SetSessionName("PHSession");
    table.SetDatabaseName("PH2");
    table.SetTableName("None.dat");
    EXPECT_FALSE(table.TableExists());
    EXPECT_TRUE(db.Connected());  // acquired, not a temporary database on a folder "PH2"
}

}  // namespace
}  // namespace pixhold::engine::datasettest
