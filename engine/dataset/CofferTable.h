#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CofferDataSet.h"
#include "TableDefs.h"
#include "TableMaintenance.h"

namespace pixhold::engine {

// The handle of one table of a database: opening (exclusive, read-only, index
// choice), key search, definitions and the table-wide operations (create,
// exists, delete, empty, optimise, repair, upgrade, restructure, password and
// description).
class TCofferTable : public TCofferDBDataSet {
public:
    using TProgressEvent = std::function<void(TCofferTable&, int percentDone)>;
    using TSteppedProgressEvent = std::function<void(TCofferTable&, const std::string& step, int percentDone)>;
    using TLogEvent = std::function<void(TCofferTable&, const std::string& message)>;
    using TDataLostEvent = std::function<void(TCofferTable&, TDataLossCause cause, const std::string& context,
                                              bool& continueRestructure, bool& stopAsking)>;

    explicit TCofferTable(const void* owner = nullptr) : TCofferDBDataSet(owner) {}
    ~TCofferTable() override;

    // ---- properties (changed only while closed) ----
    const std::string& TableName() const { return tableName_; }
    // A name with a folder sets DatabaseName to the folder and keeps the file name.
    void SetTableName(const std::string& value);
    bool Exclusive() const { return exclusive_; }
    void SetExclusive(bool value);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);
    const std::string& IndexName() const { return indexName_; }
    void SetIndexName(const std::string& value);
    const std::string& IndexFieldNames() const { return indexFieldNames_; }
    void SetIndexFieldNames(const std::string& value);

    TFieldDefs FieldDefs;
    TIndexDefs IndexDefs;
    bool StoreDefs = false;
    TRestructureFieldDefs RestructureFieldDefs;
    TRestructureIndexDefs RestructureIndexDefs;

    TProgressEvent OnOptimizeProgress, OnRestructureProgress;
    TSteppedProgressEvent OnRepairProgress, OnUpgradeProgress;
    TLogEvent OnRepairLog, OnUpgradeLog;
    TDataLostEvent OnDataLost;

    // ---- searching ----
    // The first record whose leading index fields equal the values (one value
    // per field of the current index, from the first).
    bool FindKey(const std::vector<std::string>& values);

    // ---- table-wide operations ----
    bool TableExists();
    void CreateTable();
    void DeleteTable();
    void EmptyTable();
    void OptimizeTable(const std::string& indexName = {}, bool noBackup = false);
    // True when nothing was wrong.
    bool RepairTable(bool forceIndexRebuild = false);
    void UpgradeTable();
    void RestructureTable(std::uint16_t languageID, std::uint16_t sortID, bool noBackup,
                          std::int64_t lastAutoIncValue, std::uint16_t blobBlockSize, const std::string& description,
                          const std::string& password, bool encrypted, std::uint16_t userMinorVersion,
                          std::uint16_t userMajorVersion);
    std::string GetTablePassword();
    std::string GetTableDescription();
    // Fills the restructure definitions from the table (once, until the table
    // name or its structure changes).
    void LoadRestructureDefs();

    // ---- TCofferDataSet ----
    TCofferSession& DBSession() const override { return TCofferDBDataSet::DBSession(); }
    std::string ErrorTableName() const override { return tableName_; }
    bool CanModify() const override { return !readOnly_; }

protected:
    std::unique_ptr<TDataCursor> OpenHandle() override;

private:
    // The engine's maintenance object for the table, with the database held
    // until it goes.
    class Maintenance;
    void SelectIndex(TDataCursor& cursor);
    std::unique_ptr<TDataCursor> NewCursor(TCofferDatabase& database, bool exclusive);
    template <typename F>
    auto WithHeader(F&& read);

    std::string tableName_;
    bool exclusive_ = false;
    bool readOnly_ = false;
    std::string indexName_;
    std::string indexFieldNames_;
    bool restructureDefsLoaded_ = false;
};

}  // namespace pixhold::engine
