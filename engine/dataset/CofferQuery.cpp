#include "CofferQuery.h"

#include <cctype>
#include <cstdio>

#include "CofferDatabase.h"
#include "DataCursor.h"
#include "DatasetError.h"
#include "EngineError.h"

namespace pixhold::engine {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- parameters ------------------------------------------------------------------------

void TParam::SetAsString(const std::string& value) {
    dataType_ = TFieldType::ftString;
    value_ = value;
}

void TParam::SetAsInteger(std::int64_t value) {
    dataType_ = TFieldType::ftInteger;
    value_ = std::to_string(value);
}

void TParam::SetAsFloat(double value) {
    dataType_ = TFieldType::ftFloat;
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    value_ = text;
}

void TParam::SetAsBoolean(bool value) {
    dataType_ = TFieldType::ftBoolean;
    value_ = value ? "TRUE" : "FALSE";
}

void TParam::Clear() { value_.reset(); }

TSqlParamValue TParam::EngineValue() const {
    TSqlParamValue value;
    value.name = name_;
    value.text = AsString();
    switch (dataType_) {
        case TFieldType::ftSmallint:
        case TFieldType::ftInteger:
        case TFieldType::ftWord:
        case TFieldType::ftLargeint:
        case TFieldType::ftFloat: value.kind = TSqlParamValue::Kind::Number; break;
        case TFieldType::ftBoolean: value.kind = TSqlParamValue::Kind::Boolean; break;
        default: value.kind = TSqlParamValue::Kind::Text; break;
    }
    return value;
}

TParam* TParams::FindParam(const std::string& name) {
    for (TParam& param : items_) {
        if (SameName(param.Name(), name)) return &param;
    }
    return nullptr;
}

TParam& TParams::ParamByName(const std::string& name) {
    TParam* param = FindParam(name);
    if (param == nullptr) RaiseDatasetError(dserr::ParameterNotFound, name);
    return *param;
}

void TParams::Replace(const std::vector<std::string>& names) {
    std::vector<TParam> replaced;
    for (const std::string& name : names) {
        const TParam* old = FindParam(name);
        if (old != nullptr) {
            replaced.push_back(*old);
        } else {
            replaced.emplace_back(name);
        }
    }
    items_ = std::move(replaced);
}

// ---- the query -------------------------------------------------------------------------

TCofferQuery::~TCofferQuery() {
    try {
        Close();
        UnPrepare();
    } catch (...) {
    }
}

std::string TCofferQuery::SQLText() const {
    std::string text;
    for (std::size_t i = 0; i < sql_.size(); ++i) {
        if (i > 0) text += '\n';
        text += sql_[i];
    }
    return text;
}

void TCofferQuery::SetSQL(const std::vector<std::string>& lines) {
    if (lines == sql_) return;
    Close();
    UnPrepare();
    sql_ = lines;
    if (ParamCheck) Params.Replace(ScanSqlParameters(SQLText()));
}

void TCofferQuery::SetSQLText(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from <= text.size() && !text.empty()) {
        std::size_t at = text.find('\n', from);
        if (at == std::string::npos) at = text.size();
        std::string line = text.substr(from, at - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        from = at + 1;
    }
    SetSQL(lines);
}

void TCofferQuery::SetMaxRowCount(std::int32_t value) {
    maxRowCount_ = value;
    if (statement_ != nullptr) statement_->MaxRowCount = value;
}

void TCofferQuery::SetReadOnly(bool value) {
    CheckInactive();
    readOnly_ = value;
}

std::string TCofferQuery::ErrorTableName() const {
    return statement_ != nullptr ? statement_->TableName() : std::string{};
}

void TCofferQuery::Prepare() {
    if (Prepared()) return;
    CheckInactive();
    const std::string text = SQLText();
    if (sql_.empty() || text.size() < 2) RaiseDatasetError(dserr::NoSQLStatement);
    TCofferDatabase& database = AcquireDatabase();
    try {
        TCofferSession& session = database.Session();
        TEngineLock lock(session);
        auto statement = std::make_unique<TSqlQuery>(database.Handle());
        statement->RequestLive = RequestLive;
        statement->MaxRowCount = maxRowCount_;
        statement->OnPasswordRequest = [&session] { return session.RequestPassword(); };
        statement->Prepare(text);
        statement_ = std::move(statement);
    } catch (...) {
        if (!Active()) ReleaseDatabase();
        throw;
    }
}

void TCofferQuery::UnPrepare() {
    if (statement_ == nullptr) return;
    std::unique_ptr<TSqlQuery> statement = std::move(statement_);
    {
        TEngineLock lock(DBSession());
        statement.reset();
    }
    if (!Active()) ReleaseDatabase();
}

void TCofferQuery::BindFromDataSource() {
    if (DataSource == nullptr) return;
    for (std::size_t i = 0; i < Params.Count(); ++i) {
        TParam& param = Params[i];
        if (param.Bound()) continue;
        TField* field = DataSource->FindField(param.Name());
        if (field == nullptr || field->IsNull()) continue;
        switch (field->DataType()) {
            case TFieldType::ftSmallint:
            case TFieldType::ftInteger:
            case TFieldType::ftWord:
            case TFieldType::ftAutoInc:
            case TFieldType::ftLargeint: param.SetAsInteger(field->AsInteger()); break;
            case TFieldType::ftBoolean: param.SetAsBoolean(field->AsBoolean()); break;
            default: param.SetAsString(field->AsString()); break;
        }
    }
}

std::vector<TSqlParamValue> TCofferQuery::ParameterValues() const {
    std::vector<TSqlParamValue> values;
    for (std::size_t i = 0; i < Params.Count(); ++i) {
        const TParam& param = Params[i];
        if (!param.Bound()) RaiseDatasetError(dserr::NoParameterValue, param.Name());
        values.push_back(param.EngineValue());
    }
    return values;
}

std::unique_ptr<TDataCursor> TCofferQuery::OpenHandle() {
    if (sql_.empty()) RaiseDatasetError(dserr::NoSQLStatement);
    Prepare();
    // A failure from here on closes the dataset, which unprepares the query
    // (after an SQL error it must be prepared afresh).
    BindFromDataSource();
    const std::vector<TSqlParamValue> values = ParameterValues();
    TSqlQuery& statement = *statement_;
    statement.RequestLive = RequestLive;
    statement.MaxRowCount = maxRowCount_;
    statement.OnProgress = nullptr;
    if (OnQueryProgress) {
        statement.OnProgress = [this](int percent, bool& abort) { OnQueryProgress(*this, percent, abort); };
    }
    stats_ = {};
    AcquireDatabase();
    TEngineLock lock(DBSession());
    std::unique_ptr<TDataCursor> cursor = statement.Execute(values);
    stats_ = statement.Stats();
    if (cursor->ReadOnly) readOnly_ = true;
    return cursor;
}

void TCofferQuery::HandleClosed() {
    try {
        UnPrepare();
    } catch (...) {
        ReleaseDatabase();
        throw;
    }
    ReleaseDatabase();
}

}  // namespace pixhold::engine
