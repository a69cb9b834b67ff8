#include "DatasetTestSupport.h"

#include <random>

#include "CofferBlobStream.h"

namespace pixhold::engine::datasettest {

std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

int ErrorCode(const std::function<void()>& action) {
    try {
        action();
    } catch (const ECofferEngineError& error) {
        return error.ErrorCode();
    } catch (...) {
        return err::UnknownOsError;
    }
    return 0;
}

DatasetFixture::DatasetFixture() {
    session_ = std::make_unique<TCofferSession>("CofferSession1");
    session_->SetSessionName("PHSession");
    session_->SetKeepConnections(false);
    session_->SetLockRetryCount(2);
    session_->SetLockWaitTime(5);
    session_->SetPrivateDir(dir_.folder());
    db_ = std::make_unique<TCofferDatabase>(session_.get());
    db_->SetDatabaseName("PH");
    db_->SetSessionName("PHSession");
    db_->SetDirectory(dir_.folder());
    db_->Open();
}

DatasetFixture::~DatasetFixture() {
    db_.reset();
    session_.reset();
}

std::unique_ptr<TCofferTable> DatasetFixture::Table(const std::string& name) {
    auto table = std::make_unique<TCofferTable>();
    table->SetDatabaseName("PH");
    table->SetSessionName("PHSession");
    table->SetTableName(name);
    return table;
}

void DefineImageTable(TCofferTable& table) {
    table.FieldDefs.Clear();
    table.FieldDefs.Add({"FileName", TFieldType::ftString, 250, true});
    table.FieldDefs.Add({"Category", TFieldType::ftString, 10, false});
    table.FieldDefs.Add({"Thumb", TFieldType::ftGraphic, 0, false});
    table.FieldDefs.Add({"Image", TFieldType::ftGraphic, 0, false});
    table.FieldDefs.Add({"Type", TFieldType::ftSmallint, 0, false});
    table.IndexDefs.Clear();
    table.IndexDefs.Add({"", "FileName;Category", ixopt::Primary | ixopt::Unique, 0});
    table.IndexDefs.Add({"Category", "Category", 0, 0});
}

void DefineThumbsTable(TCofferTable& table) {
    table.FieldDefs.Clear();
    table.FieldDefs.Add({"FileName", TFieldType::ftString, 250, true});
    table.FieldDefs.Add({"Thumb", TFieldType::ftGraphic, 0, false});
    table.IndexDefs.Clear();
    table.IndexDefs.Add({"", "FileName", ixopt::Primary | ixopt::Unique, 0});
}

namespace {

void CopyToRestructureDefs(TCofferTable& table) {
    table.RestructureFieldDefs.Clear();
    int number = 0;
    for (const TFieldDef& def : table.FieldDefs.Items()) {
        TRestructureFieldDef field;
        field.name = def.name;
        field.dataType = def.dataType;
        field.fieldNo = ++number;
        field.required = def.required;
        field.size = def.size;
        table.RestructureFieldDefs.Add(field);
    }
    table.RestructureIndexDefs.Clear();
    for (const TIndexDef& def : table.IndexDefs.Items()) table.RestructureIndexDefs.Add(def);
}

}  // namespace

void DatasetFixture::CreateImageTable(const std::string& name) {
    auto table = Table(name);
    table->SetExclusive(true);
    DefineImageTable(*table);
    if (table->TableExists()) return;
    table->CreateTable();
    CopyToRestructureDefs(*table);
    table->RestructureTable(1033, 0, true, 0, 512, "Default image database", "", false, 0, 1);
}

void DatasetFixture::CreateThumbsTable() {
    auto table = Table("Thumbs.dat");
    table->SetExclusive(true);
    DefineThumbsTable(*table);
    if (table->TableExists()) return;
    table->CreateTable();
    CopyToRestructureDefs(*table);
    table->RestructureTable(1033, 0, true, -1, 512, "Image thumbnail database", kCachePassword, true, 0, 1);
}

std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

void AddPicture(TCofferTable& table, const std::string& name, const std::string& category,
                const std::vector<std::uint8_t>& image, int type) {
    table.Append();
    table.FieldByName("FileName").SetAsString(name);
    table.FieldByName("Category").SetAsString(category);
    table.FieldByName("Type").SetAsInteger(type);
    {
        auto stream = table.CreateBlobStream(table.FieldByName("Image"), TBlobStreamMode::bmWrite);
        stream->Write(image.data(), image.size());
    }
    {
        const std::vector<std::uint8_t> thumb = Bytes(300, 7);
        auto stream = table.CreateBlobStream(table.FieldByName("Thumb"), TBlobStreamMode::bmWrite);
        stream->Write(thumb.data(), thumb.size());
    }
    table.Post();
}

std::vector<std::string> Names(TCofferTable& table) {
    std::vector<std::string> names;
    for (table.First(); !table.Eof(); table.Next()) {
        names.push_back(table.FieldByName("FileName").AsString() + "/" + table.FieldByName("Category").AsString());
    }
    return names;
}

}  // namespace pixhold::engine::datasettest
