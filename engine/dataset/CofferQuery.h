#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CofferDataSet.h"
#include "FieldTypes.h"
#include "SqlQuery.h"

namespace pixhold::engine {

// One parameter of a query's statement (`:name` in the text) and its value.
class TParam {
public:
    explicit TParam(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    TFieldType DataType() const { return dataType_; }
    // Whether a value was given (null counts as none).
    bool Bound() const { return value_.has_value(); }
    bool IsNull() const { return !value_.has_value(); }
    std::string AsString() const { return value_.value_or(std::string{}); }
    void SetAsString(const std::string& value);
    void SetAsInteger(std::int64_t value);
    void SetAsFloat(double value);
    void SetAsBoolean(bool value);
    void Clear();
    // The value as the SQL processor takes it (the parameter must be bound).
    TSqlParamValue EngineValue() const;

private:
    std::string name_;
    TFieldType dataType_ = TFieldType::ftUnknown;
    std::optional<std::string> value_;
};

class TParams {
public:
    std::size_t Count() const { return items_.size(); }
    TParam& operator[](std::size_t index) { return items_.at(index); }
    const TParam& operator[](std::size_t index) const { return items_.at(index); }
    // Names compare without regard to letter case.
    TParam* FindParam(const std::string& name);
    // "Parameter '%s' not found" when there is none.
    TParam& ParamByName(const std::string& name);
    // The parameters of these names, in this order; values of parameters of
    // the same name are kept.
    void Replace(const std::vector<std::string>& names);
    void Clear() { items_.clear(); }

private:
    std::vector<TParam> items_;
};

// A dataset over the result of an SQL statement on the tables of a database
// (docs/sql.md for the statement the processor takes). Results are read-only.
class TCofferQuery : public TCofferDBDataSet {
public:
    using TQueryProgressEvent = std::function<void(TCofferQuery& sender, int percentDone, bool& abort)>;
    using TProgressEvent = std::function<void(TCofferQuery& sender, int percentDone)>;

    explicit TCofferQuery(const void* owner = nullptr) : TCofferDBDataSet(owner) {}
    ~TCofferQuery() override;

    // ---- the statement ----
    const std::vector<std::string>& SQL() const { return sql_; }
    // The lines joined with line breaks.
    std::string SQLText() const;
    // When the text differs: closes and unprepares the query, replaces the
    // lines and, with ParamCheck, scans the text for parameters.
    void SetSQL(const std::vector<std::string>& lines);
    // The text split into lines.
    void SetSQLText(const std::string& text);

    TParams Params;
    bool ParamCheck = true;
    // A live result may be asked for; the result is still read-only.
    bool RequestLive = false;
    std::int32_t MaxRowCount() const { return maxRowCount_; }
    void SetMaxRowCount(std::int32_t value);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);
    // A dataset whose fields give values to parameters not bound otherwise.
    TCofferDataSet* DataSource = nullptr;

    TQueryProgressEvent OnQueryProgress;
    TProgressEvent OnSaveProgress, OnImportProgress, OnExportProgress;

    // ---- preparing ----
    void Prepare();
    void UnPrepare();
    bool Prepared() const { return statement_ != nullptr && statement_->Prepared(); }
    // How the last opening found its rows.
    const TSqlExecutionStats& ExecutionStats() const { return stats_; }

    // ---- TCofferDataSet ----
    TCofferSession& DBSession() const override { return TCofferDBDataSet::DBSession(); }
    std::string ErrorTableName() const override;
    bool CanModify() const override { return !readOnly_; }

protected:
    std::unique_ptr<TDataCursor> OpenHandle() override;
    void HandleClosed() override;

private:
    void BindFromDataSource();
    std::vector<TSqlParamValue> ParameterValues() const;

    std::vector<std::string> sql_;
    std::int32_t maxRowCount_ = -1;
    bool readOnly_ = false;
    std::unique_ptr<TSqlQuery> statement_;
    TSqlExecutionStats stats_;
};

}  // namespace pixhold::engine
