#pragma once

// A data module on a data folder of its own, with a recording host.

#include "CofferBlobStream.h"
#include "Config.h"
#include "EngineError.h"
#include "RecordingHost.h"
#include "TempDir.h"
#include "fDM.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pixhold::store::test {

namespace fs = std::filesystem;

// The engine code of the error `action` raises, 0 when none, -1 for other errors.
inline int ErrorCode(const std::function<void()>& action) {
    try {
        action();
    } catch (const engine::ECofferEngineError& error) {
        return error.ErrorCode();
    } catch (...) {
        return -1;
    }
    return 0;
}

// The file of the folder whose name matches in any letter case; empty when none.
inline fs::path FindFile(const fs::path& folder, std::string name) {
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    name = lower(name);
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (lower(entry.path().filename().string()) == name) return entry.path();
    }
    return {};
}

// Overwrites `bytes` at `offset` of a file of the folder.
inline void Overwrite(const fs::path& file, std::uint64_t offset, const std::string& bytes) {
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> Picture(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 31 + seed * 7) % 251);
    return bytes;
}

// Appends one picture record the way the import does.
inline void AddPicture(engine::TCofferTable& table, const std::string& name, const std::string& category,
                       const std::vector<std::uint8_t>& image) {
    table.Append();
    table.FieldByName("FileName").SetAsString(name);
    table.FieldByName("Category").SetAsString(category);
    table.FieldByName("Type").SetAsInteger(0);
    {
        auto stream = table.CreateBlobStream(table.FieldByName("Image"), engine::TBlobStreamMode::bmWrite);
        stream->Write(image.data(), image.size());
    }
    table.Post();
}

// "FileName/Category" of every record the table shows.
inline std::vector<std::string> Names(engine::TCofferTable& table) {
    std::vector<std::string> names;
    for (table.First(); !table.Eof(); table.Next()) {
        names.push_back(table.FieldByName("FileName").AsString() + "/" + table.FieldByName("Category").AsString());
    }
    return names;
}

class DataModuleFixture : public ::testing::Test {
protected:
    // Each test starts from default settings: its settings file lives in a
    // folder of its own.
    DataModuleFixture() {
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) previousConfigHome_ = previous;
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        config = std::make_unique<TConfig>((dir / "program").string());
        config->DataFolder = DataFolder();
    }
    ~DataModuleFixture() override {
        dm.reset();
        config.reset();
        ::setenv("XDG_CONFIG_HOME", previousConfigHome_.c_str(), 1);
    }

    std::string DataFolder() const { return (dir / "pictures" / "data").string() + "/"; }

    // A new data module, started up; lock conflicts give up quickly.
    void Start() {
        dm.reset();
        dm = std::make_unique<TDM>(*config, host);
        dm->CofferSession1.SetLockRetryCount(2);
        dm->CofferSession1.SetLockWaitTime(5);
        dm->DataModuleCreate();
    }

    void Stop() { dm.reset(); }

    fs::path File(const std::string& name) const { return FindFile(DataFolder(), name); }

    pixhold::test::TempDir dir;
    std::string previousConfigHome_;
    std::unique_ptr<TConfig> config;
    TRecordingHost host;
    std::unique_ptr<TDM> dm;
};

// A second session with a database on the same data folder: another user.
class OtherUser {
public:
    explicit OtherUser(const std::string& folder) : session_("OtherSession"), db_(&session_) {
        session_.SetSessionName("OtherSession");
        session_.SetLockRetryCount(1);
        session_.SetLockWaitTime(5);
        db_.SetDatabaseName("OtherDB");
        db_.SetSessionName("OtherSession");
        db_.SetDirectory(folder);
        db_.Open();
    }

    std::unique_ptr<engine::TCofferTable> Table(const std::string& name) {
        auto table = std::make_unique<engine::TCofferTable>();
        table->SetSessionName("OtherSession");
        table->SetDatabaseName("OtherDB");
        table->SetTableName(name);
        return table;
    }
    engine::TCofferSession& Session() { return session_; }

private:
    engine::TCofferSession session_;
    engine::TCofferDatabase db_;
};

}  // namespace pixhold::store::test
