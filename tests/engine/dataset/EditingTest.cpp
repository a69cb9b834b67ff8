#include <optional>
#include <random>

#include "ChildProcess.h"
#include "CofferBlobStream.h"
#include "DataTable.h"
#include "DatasetTestSupport.h"
#include "FileHandler.h"

namespace pixhold::engine::datasettest {
namespace {

// Editing, BLOB streams, key search and navigation on an image table.
class EditingTest : public DatasetFixture {
protected:
    // The image table's fields and indexes, as CreateTable alone makes them.
    void SetUp() override {
        auto table = Table("Default.dat");
        DefineImageTable(*table);
        table->CreateTable();
    }

    std::unique_ptr<TCofferTable> OpenData() {
        auto table = Table("default.Dat");
        table->Open();
        return table;
    }

};

TEST_F(EditingTest, PicturesAreStoredAndReadBackByteForByte) {
    auto data = OpenData();
    const std::vector<std::uint8_t> big = Bytes(150000, 1);
    const std::vector<std::uint8_t> small = Bytes(10, 2);
    AddPicture(*data, "big.jpg", "", big);
    AddPicture(*data, "small.png", "", small, 6);
    AddPicture(*data, "empty.gif", "", {}, 1);
    ASSERT_EQ(data->RecordCount(), 3u);
    for (data->First(); !data->Eof(); data->Next()) {
        const std::string name = data->FieldByName("FileName").AsString();
        auto stream = data->CreateBlobStream(data->FieldByName("Image"), TBlobStreamMode::bmRead);
        const std::vector<std::uint8_t> expected = name == "big.jpg" ? big : name == "small.png" ? small
                                                                                               : std::vector<std::uint8_t>{};
        EXPECT_EQ(stream->Size(), expected.size()) << name;
        EXPECT_EQ(stream->ReadAll(), expected) << name;
        EXPECT_EQ(data->FieldByName("Thumb").AsBytes(), Bytes(300, 7)) << name;
    }
    // Reading past the end gives the bytes that exist, then nothing.
    ASSERT_TRUE(data->FindKey({"big.jpg"}));
    auto stream = data->CreateBlobStream(data->FieldByName("Image"), TBlobStreamMode::bmRead);
    stream->Seek(-100, TSeekOrigin::soEnd);
    std::vector<std::uint8_t> tail(1000);
    EXPECT_EQ(stream->Read(tail.data(), tail.size()), 100u);
    EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 100, big.end() - 100));
    EXPECT_EQ(stream->Read(tail.data(), tail.size()), 0u);
}

TEST_F(EditingTest, WritingABlobInAnEditStartsItEmptyAndCancelKeepsTheOldBytes) {
    auto data = OpenData();
    AddPicture(*data, "a.jpg", "", Bytes(5000, 3));
    data->Edit();
    {
        auto stream = data->CreateBlobStream(data->FieldByName("Image"), TBlobStreamMode::bmWrite);
        EXPECT_EQ(stream->Size(), 0u);
        stream->Write("xyz", 3);
    }
    EXPECT_EQ(data->FieldByName("Image").AsString(), "xyz");
    data->Cancel();
    EXPECT_EQ(data->FieldByName("Image").AsBytes(), Bytes(5000, 3));
    data->Edit();
    data->FieldByName("Image").SetAsString("new");
    data->Post();
    EXPECT_EQ(data->FieldByName("Image").AsString(), "new");
}

TEST_F(EditingTest, FindKeyByFileNameAloneOrWithCategory) {
    auto dest = Table("Default.dat");
    dest->Open();
    AddPicture(*dest, "a.jpg", "dogs", Bytes(10, 1));
    AddPicture(*dest, "a.jpg", "cats", Bytes(10, 2));
    AddPicture(*dest, "b.jpg", "", Bytes(10, 3));
    AddPicture(*dest, "b.jpg", "cats", Bytes(10, 4));
    struct Case {
        std::vector<std::string> key;
        bool found;
        std::string category;
    };
    const std::vector<Case> cases = {
        {{"a.jpg"}, true, "cats"},           // the lowest category of that name
        {{"b.jpg"}, true, ""},               // no category sorts first
        {{"a.jpg", "dogs"}, true, "dogs"},
        {{"a.jpg", "birds"}, false, ""},
        {{"b.jpg", ""}, true, ""},           // the empty category is null, as stored
        {{"c.jpg"}, false, ""},
        {{"A.JPG"}, false, ""},              // the index compares with case
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dest->FindKey(c.key), c.found) << c.key[0];
        if (c.found) {
            EXPECT_EQ(dest->FieldByName("FileName").AsString(), c.key[0]);
            EXPECT_EQ(dest->FieldByName("Category").AsString(), c.category) << c.key[0];
        }
    }
    EXPECT_EQ(ErrorText([&] { dest->FindKey({"a", "b", "c"}); }), "Field index out of range.");
    dest->SetIndexName("Category");
    EXPECT_TRUE(dest->FindKey({"dogs"}));
    EXPECT_EQ(dest->FieldByName("FileName").AsString(), "a.jpg");
}

TEST_F(EditingTest, DuplicateKeyFailsThePostAndKeepsTheInsert) {
    auto data = OpenData();
    AddPicture(*data, "a.jpg", "", Bytes(10, 1));
    data->Append();
    data->FieldByName("FileName").SetAsString("a.jpg");
    int postErrors = 0;
    data->OnPostError = [&](TCofferDataSet&, const std::exception& error, TDataAction& action) {
        ++postErrors;
        EXPECT_EQ(dynamic_cast<const ECofferEngineError&>(error).ErrorCode(), err::DuplicateKey);
        EXPECT_EQ(action, TDataAction::daFail);
    };
    EXPECT_EQ(ErrorCode([&] { data->Post(); }), err::DuplicateKey);
    EXPECT_EQ(postErrors, 1);
    EXPECT_EQ(data->State(), TDataSetState::dsInsert);
    data->FieldByName("Category").SetAsString("other");
    data->Post();
    data->SetFiltered(false);
    EXPECT_EQ(data->RecordCount(), 2u);
}

TEST_F(EditingTest, TextsAreTrimmedCutAndEmptyIsNull) {
    auto data = OpenData();
    data->Append();
    data->FieldByName("FileName").SetAsString(std::string(300, 'x'));
    data->FieldByName("Category").SetAsString("   ");
    EXPECT_TRUE(data->FieldByName("Category").IsNull());
    data->FieldByName("Category").SetAsString("abcdefghijklmnop  ");
    EXPECT_EQ(data->FieldByName("Category").AsString(), "abcdefghij");
    data->FieldByName("Category").Clear();
    data->Post();
    EXPECT_EQ(data->FieldByName("FileName").AsString(), std::string(250, 'x'));
    EXPECT_TRUE(data->FieldByName("Category").IsNull());
    EXPECT_EQ(data->RecordCount(), 1u);
}

TEST_F(EditingTest, DeleteLeavesTheFollowingOrPrecedingRecordCurrent) {
    auto data = OpenData();
    for (const char* name : {"a", "b", "c"}) AddPicture(*data, name, "", Bytes(10, 1));
    data->First();
    data->Next();  // b
    data->Delete();
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "c");
    data->Delete();
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "a");
    data->Delete();
    EXPECT_TRUE(data->Eof());
    EXPECT_TRUE(data->Bof());
    EXPECT_EQ(ErrorText([&] { data->Delete(); }), "Cannot perform this operation on an empty dataset");
}

TEST_F(EditingTest, NavigationBookmarksAndRecordNumbers) {
    auto data = OpenData();
    for (const char* name : {"e", "b", "d", "a", "c"}) AddPicture(*data, name, "", Bytes(10, 1));
    data->First();
    EXPECT_TRUE(data->Bof());
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "a");
    data->Prior();
    EXPECT_TRUE(data->Bof());
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "a");
    data->Last();
    EXPECT_TRUE(data->Eof());
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "e");
    data->Next();
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "e");
    data->Prior();
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "d");
    EXPECT_EQ(data->RecNo(), 4u);
    const TBookmark mark = data->GetBookmark();
    data->SetRecNo(2);
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "b");
    data->GotoBookmark(mark);
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "d");
    int scrolls = 0;
    data->AfterScroll = [&](TCofferDataSet&) { ++scrolls; };
    data->Refresh();
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "d");
    data->Next();
    EXPECT_EQ(scrolls, 1);
}

TEST_F(EditingTest, ErrorActionsOfEditPostAndDelete) {
    auto a = OpenData();
    AddPicture(*a, "a.jpg", "", Bytes(10, 1));
    auto b = OpenData();
    a->Edit();  // holds the record lock
    int calls = 0;
    b->OnEditError = [&](TCofferDataSet&, const std::exception& error, TDataAction& action) {
        ++calls;
        EXPECT_EQ(dynamic_cast<const ECofferEngineError&>(error).ErrorCode(), err::RecordLocked);
        action = calls == 1 ? TDataAction::daFail : TDataAction::daAbort;
    };
    EXPECT_EQ(ErrorCode([&] { b->Edit(); }), err::RecordLocked);
    EXPECT_THROW(b->Edit(), EAbort);
    EXPECT_EQ(b->State(), TDataSetState::dsBrowse);
    // Retry: the handler lets the other handle go and tries again.
    b->OnEditError = [&](TCofferDataSet&, const std::exception&, TDataAction& action) {
        a->Cancel();
        action = TDataAction::daRetry;
    };
    b->Edit();
    EXPECT_EQ(b->State(), TDataSetState::dsEdit);
    b->FieldByName("Type").SetAsInteger(5);
    b->Post();
    a->Refresh();
    EXPECT_EQ(a->FieldByName("Type").AsInteger(), 5);
}

TEST_F(EditingTest, EditUnderALockHeldByAnotherProcess) {
    {
        auto data = Table("Default.dat");
        data->Open();
        AddPicture(*data, "locked.jpg", "", Bytes(10, 1));
    }
    db_->Close();
    const std::string folder = dir_.folder();
    pixhold::test::ChildProcess child([folder](pixhold::test::ChildProcess::Channel& parent) {
        TCofferSession session("ChildSession1");
        session.SetSessionName("ChildSession");
        TCofferTable table;
        table.SetSessionName("ChildSession");
        table.SetDatabaseName(folder);
        table.SetTableName("Default.dat");
        table.Open();
        table.Edit();
        parent.Send('L');
        parent.Receive();  // release
        table.Cancel();
        parent.Send('R');
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'L');
    db_->Open();
    auto data = OpenData();
    std::vector<int> codes;
    data->OnEditError = [&](TCofferDataSet&, const std::exception& error, TDataAction& action) {
        const auto* engineError = dynamic_cast<const ECofferEngineError*>(&error);
        codes.push_back(engineError != nullptr ? engineError->ErrorCode() : 0);
        if (codes.size() == 1) {
            child.Send('r');
            EXPECT_EQ(child.Receive(), 'R');
        }
        action = TDataAction::daRetry;
    };
    data->Edit();
    EXPECT_EQ(codes, std::vector<int>{err::RecordLocked});
    EXPECT_EQ(data->State(), TDataSetState::dsEdit);
    data->FieldByName("Category").SetAsString("mine");
    data->Post();
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

// A run of reads holds the table still: another process's write waits for
// the end of the run (and gives up when the run outlasts its retries), a
// write of this process inside the run goes through, and nothing stays
// locked after it.
TEST_F(EditingTest, ReadRunHoldsOtherWritersOffUntilItEnds) {
    {
        auto data = OpenData();
        AddPicture(*data, "first.jpg", "", Bytes(10, 1));
    }
    // The child starts while this process holds nothing of the table.
    db_->Close();
    const std::string folder = dir_.folder();
    pixhold::test::ChildProcess child([folder](pixhold::test::ChildProcess::Channel& parent) {
        // The file locks give up after a few attempts, not after minutes.
        ScopedLockRetries quick{{3, 1}};
        TCofferSession session("ChildSession1");
        session.SetSessionName("ChildSession");
        session.SetLockRetryCount(1);
        session.SetLockWaitTime(5);
        TCofferTable table;
        table.SetSessionName("ChildSession");
        table.SetDatabaseName(folder);
        table.SetTableName("Default.dat");
        table.Open();
        auto attempt = [&table](const std::string& name) {
            try {
                AddPicture(table, name, "", Bytes(10, 2));
                return 'S';
            } catch (const std::exception&) {
                table.Cancel();
                return 'F';
            }
        };
        parent.Send('O');
        parent.Receive();
        parent.Send(attempt("during.jpg"));
        parent.Receive();
        parent.Send(attempt("after.jpg"));
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'O');
    db_->Open();
    auto data = OpenData();
    std::optional<TDataSetReadRun> run(std::in_place, *data);
    ASSERT_TRUE(data->FindKey({"first.jpg"}));
    child.Send('a');
    EXPECT_EQ(child.Receive(), 'F') << "another process wrote while the run held the table";
    AddPicture(*data, "mine.jpg", "", Bytes(10, 3));
    ASSERT_TRUE(data->FindKey({"first.jpg"})) << "the run goes on after a write of its own";
    run.reset();
    child.Send('g');
    EXPECT_EQ(child.Receive(), 'S') << "the table stayed locked after the run";
    EXPECT_EQ(child.Wait(), 0);
    data->Refresh();
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"after.jpg/", "first.jpg/", "mine.jpg/"}));
}

}  // namespace
}  // namespace pixhold::engine::datasettest
