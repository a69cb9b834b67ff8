#include "fDM.h"

#include <algorithm>
#include <filesystem>

#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "DatasetError.h"
#include "EngineError.h"
#include "ImageTableDefs.h"
#include "ShellFolders.h"
#include "TableFiles.h"

namespace pixhold::store {

namespace {

using engine::ECofferEngineError;
using engine::TCofferTable;
namespace err = engine::err;

constexpr const char* kSessionName = "PHSession";
constexpr const char* kDatabaseName = "PH";
constexpr const char* kInitialTable = "default.Dat";

// Open errors that mean damage a repair can mend: premature end of BLOB data,
// corrupt header, record, BLOB or index buffers, read and write errors, and
// invalid BLOB offsets, index field numbers and BLOB lengths.
constexpr std::uint16_t kRepairableCodes[] = {
    err::EndOfBlob,      err::HeaderCorrupt, err::RecordBuffersCorrupt,    err::BlobBuffersCorrupt,
    err::IndexPagesCorrupt, err::ReadError,  err::WriteError,              err::InvalidBlobOffset,
    err::InvalidIndexFieldNumber, err::InvalidBlobLength,
};

bool IsRepairable(std::uint16_t code) {
    return std::find(std::begin(kRepairableCodes), std::end(kRepairableCodes), code) != std::end(kRepairableCodes);
}

// How an open failed, decided inside the catch so that the mending runs
// outside it and its own errors pass on unchanged.
enum class TOpenFailure { None, Repair, Upgrade, Other };

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

const QString kWarningCaption = QStringLiteral("Warning");
const QString kErrorCaption = QStringLiteral("Error");

}  // namespace

TDM::TDM(TConfig& config, IDataModuleHost& host)
    : CofferSession1("CofferSession1", this),
      DB(&CofferSession1, this),
      tblData(this),
      tblThumbs(this),
      tblDest(this),
      config_(config),
      host_(host) {
    CofferSession1.SetSessionName(kSessionName);
    CofferSession1.SetSessionType(engine::TSessionType::stLocal);
    CofferSession1.SetLockProtocol(engine::TLockProtocol::lpPessimistic);
    CofferSession1.SetLockRetryCount(15);
    CofferSession1.SetLockWaitTime(100);
    CofferSession1.SetProgressSteps(20);
    CofferSession1.SetKeepConnections(false);
    CofferSession1.OnPassword = [this](engine::TCofferSession& sender, bool& continueOpen) {
        CofferSession1Password(sender, continueOpen);
    };

    DB.SetDatabaseName(kDatabaseName);
    DB.SetSessionName(kSessionName);

    SetUpTable(tblData, kInitialTable);
    tblData.OnEditError = [this](engine::TCofferDataSet& dataset, const std::exception& error,
                                 engine::TDataAction& action) { tblDataEditError(dataset, error, action); };
    SetUpTable(tblThumbs, kThumbsTableName);
    SetUpTable(tblDest, kInitialTable);
}

TDM::~TDM() {
    // Closing flushes; a failure there can no longer be shown to anyone.
    for (engine::TCofferTable* table : {&tblDest, &tblThumbs, &tblData}) {
        try {
            table->Close();
        } catch (...) {
        }
    }
    try {
        DB.Close();
        CofferSession1.Close();
    } catch (...) {
    }
}

void TDM::SetUpTable(TCofferTable& table, const std::string& name) {
    table.SetDatabaseName(kDatabaseName);
    table.SetSessionName(kSessionName);
    table.SetTableName(name);
    table.AutoDisplayLabels = false;
    table.CopyOnAppend = false;
}

void TDM::DataModuleCreate() {
    std::error_code ec;
    std::filesystem::create_directories(config_.DataFolder, ec);  // a failure shows when the database connects

    DB.Close();
    DB.SetDirectory(config_.DataFolder);
    DB.Open();

    CofferSession1.SetPrivateDir(TempFolder());
    CofferSession1.Open();
    host_.ProcessMessages();

    if (!DataFileExists(config_.DataFolder, "Default.dat")) CreateImageTable(kDatabaseName, "Default.dat");
    if (!DataFileExists(config_.DataFolder, kThumbsTableName)) CreateThumbsTable(kDatabaseName);
    if (!DataFileExists(config_.DataFolder, config_.CurrentTable + ".Dat")) config_.CurrentTable = "Default";

    OpenImageTable(config_.CurrentTable);

    CofferSession1.AddPassword(kCachePassword);
    OpenTableWithRepair(tblThumbs);

    host_.FillCategorySelector();
    if (!tblData.Active()) host_.CloseMainWindow();
    host_.ApplyViewStyle();
}

void TDM::CreateImageTable(const std::string& database, const std::string& table) {
    store::CreateImageTable(kSessionName, database, table);
}

void TDM::CreateThumbsTable(const std::string& database) {
    store::CreateThumbsTable(kSessionName, database);
}

void TDM::OpenTableWithRepair(TCofferTable& table) {
    TOpenFailure failure = TOpenFailure::None;
    QString message;
    try {
        table.Open();
    } catch (const ECofferEngineError& error) {
        if (IsRepairable(error.ErrorCode())) {
            failure = TOpenFailure::Repair;
        } else if (error.ErrorCode() == err::WrongVersion) {
            failure = TOpenFailure::Upgrade;
        } else {
            failure = TOpenFailure::Other;
            message = FromUtf8(error.what());
        }
    } catch (const std::exception& error) {
        failure = TOpenFailure::Other;
        message = FromUtf8(error.what());
    }

    switch (failure) {
        case TOpenFailure::None:
            return;
        case TOpenFailure::Repair:
            table.RepairTable(true);
            table.OptimizeTable();
            table.Open();
            return;
        case TOpenFailure::Upgrade:
            table.UpgradeTable();
            table.Open();
            return;
        case TOpenFailure::Other:
            host_.ShowMessage(kErrorCaption, message, TBoxIcon::None);
            return;
    }
}

std::vector<std::uint8_t> TDM::ReadThumbAt(const engine::TBookmark& bookmark) {
    if (!tblData.Active() || tblData.Editing()) throw std::runtime_error("the table is busy");
    const engine::TBookmark here = tblData.GetBookmark();
    std::vector<std::uint8_t> thumb;
    try {
        tblData.GotoBookmark(bookmark);
        thumb = tblData.CreateBlobStream(tblData.FieldByName("Thumb"), engine::TBlobStreamMode::bmRead)->ReadAll();
    } catch (...) {
        if (!here.empty()) tblData.GotoBookmark(here);
        throw;
    }
    if (!here.empty()) tblData.GotoBookmark(here);
    return thumb;
}

bool TDM::OpenImageTable(const std::string& name) {
    TBusyScope busy(host_);
    if (tblData.Active()) {
        tblData.FlushBuffers();
        tblData.Close();
    }
    // Image tables live in the data folder only; a name with a folder would
    // move the handle to another folder for good.
    if (name.find_first_of("/\\") != std::string::npos) {
        const ECofferEngineError error(err::TableNotFound, engine::ErrorContext{.table = name});
        host_.ShowMessage(kErrorCaption, FromUtf8(error.what()), TBoxIcon::None);
        return false;
    }
    tblData.SetTableName(name);
    tblData.SetFilter(kEmptyCategoryFilter);
    tblData.SetFiltered(true);
    if (config_.RemoveOldPasswordOnOpen) CofferSession1.RemoveAllPasswords();

    OpenTableWithRepair(tblData);
    if (!tblData.Active()) return false;

    config_.CurrentTable = FileBaseName(name);
    config_.BrowseMode = false;
    host_.RefreshImageList();
    host_.SetStatusText(QStringLiteral("Database: ") + FromUtf8(config_.CurrentTable));
    return true;
}

void TDM::NewImageTable(const std::string& name) {
    CreateImageTable(kDatabaseName, name);
    OpenImageTable(name);
}

void TDM::CompactImageTable() {
    TBusyScope busy(host_);
    tblData.Close();
    tblData.SetExclusive(true);
    try {
        tblData.OptimizeTable();
    } catch (...) {
        // Left exclusive, the next open would shut every other handle out.
        tblData.SetExclusive(false);
        ReopenDataQuietly();
        throw;
    }
    tblData.SetExclusive(false);
    tblData.Open();
}

void TDM::ChangeTablePassword(const std::string& oldPassword, const std::string& newPassword) {
    if (!oldPassword.empty()) CofferSession1.AddPassword(oldPassword);
    if (!newPassword.empty()) CofferSession1.AddPassword(newPassword);

    TBusyScope busy(host_);
    tblDest.Close();
    tblData.Close();
    try {
        tblData.LoadRestructureDefs();
        const std::string description = tblData.GetTableDescription();
        tblData.RestructureTable(1033, 0, true, 0, 512, description, newPassword, !newPassword.empty(), 0, 1);
    } catch (...) {
        ReopenDataQuietly();
        throw;
    }
    tblData.Open();
}

void TDM::ReopenDataQuietly() noexcept {
    quiet_ = true;
    try {
        tblData.Open();
    } catch (...) {
        // The error that brought us here is the one to report.
    }
    quiet_ = false;
}

void TDM::CofferSession1Password(engine::TCofferSession& sender, bool& continueOpen) {
    continueOpen = false;
    if (quiet_) return;
    const std::optional<QString> password = host_.AskPassword();
    if (!password) return;
    sender.AddPassword(password->toStdString());
    continueOpen = true;
}

void TDM::tblDataEditError(engine::TCofferDataSet& dataset, const std::exception& error,
                           engine::TDataAction& action) {
    action = engine::TDataAction::daAbort;
    if (const auto* engineError = dynamic_cast<const ECofferEngineError*>(&error)) {
        switch (engineError->ErrorCode()) {
            case err::RecordLocked:
                if (host_.AskYesNo(kWarningCaption,
                                   QStringLiteral("The record you are trying to edit is currently locked,do you "
                                                  "want to try to edit this record again?"),
                                   TBoxIcon::Warning)) {
                    action = engine::TDataAction::daRetry;
                }
                return;
            case err::TableLocked:
                if (host_.AskYesNo(kWarningCaption,
                                   QStringLiteral("The table you are trying to edit is currently locked,do you "
                                                  "want to try to edit this record again?"),
                                   TBoxIcon::Warning)) {
                    action = engine::TDataAction::daRetry;
                }
                return;
            case err::RecordChanged:
                host_.ShowMessage(kWarningCaption,
                                  QStringLiteral("The record you are trying to edit has been modified sinceit was "
                                                 "last retrieved, the record will now be refreshed"),
                                  TBoxIcon::Warning);
                dataset.Refresh();
                action = engine::TDataAction::daRetry;
                return;
            default:
                break;
        }
    }
    host_.ShowMessage(kErrorCaption, FromUtf8(error.what()), TBoxIcon::Error);
}

}  // namespace pixhold::store
