#include "SqlQuery.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <cstdlib>
#include <numeric>

#include "ByteCodec.h"
#include "CursorFilterKeys.h"
#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "MaintenanceSupport.h"
#include "RecordBuffer.h"
#include "SqlDistinctScan.h"

namespace pixhold::engine {

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The session's directory of in-memory tables, which no transaction of a
// database takes part in.
constexpr const char* kMemoryDirectory = "Memory";

bool IsBlob(const FieldDescriptor& field) { return field.type == fieldtype::Blob; }

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// The constant a parameter's value stands for in the condition: a text in
// quotes, a number or a boolean as it is (anything else in a number or a
// boolean is refused, so a value never adds to the condition).
std::string ConstantOf(const TSqlParamValue& value) {
    switch (value.kind) {
        case TSqlParamValue::Kind::Text: return Quoted(value.text);
        case TSqlParamValue::Kind::Boolean:
            if (!SameText(value.text, "TRUE") && !SameText(value.text, "FALSE")) break;
            return value.text;
        case TSqlParamValue::Kind::Number: {
            char* end = nullptr;
            const std::string& t = value.text;
            const bool plain = !t.empty() && t.find_first_not_of("0123456789+-.eE") == std::string::npos;
            if (!plain) break;
            (void)std::strtod(t.c_str(), &end);
            if (end != t.c_str() + t.size()) break;
            return t;
        }
    }
    RaiseSqlError("parameter '" + value.name + "' has no valid value '" + value.text + "'");
}

// The condition with each `:name` replaced by its value as a constant.
std::string ConditionText(const TSqlSelect& statement, const std::vector<TSqlParamValue>& params) {
    std::string text;
    std::size_t from = 0;
    for (const TSqlParamPlace& place : statement.conditionParams) {
        const auto value = std::find_if(params.begin(), params.end(),
                                        [&](const TSqlParamValue& p) { return SameText(p.name, place.name); });
        if (value == params.end()) RaiseSqlError("no value for parameter '" + place.name + "'");
        text += statement.condition.substr(from, place.start - from);
        text += ConstantOf(*value);
        from = place.end;
    }
    return text + statement.condition.substr(from);
}

// A field of the result: the source field's name and type, without any rule
// of the source table (a result takes every value the source held).
FieldDescriptor ResultField(const FieldDescriptor& source) {
    FieldDescriptor field = MakeField(source.name, source.type, source.size);
    field.subtype = source.IsAutoInc() ? fieldsubtype::None : source.subtype;
    field.decimals = source.decimals;
    return field;
}

// The source field's stored bytes in a record buffer (the record identifier
// for an auto-increment field); false for an absent value.
bool SourceValue(const FieldDescriptor& field, const std::uint8_t* buffer, std::vector<std::uint8_t>& bytes) {
    if (field.IsAutoInc()) {
        bytes.resize(4);
        bytes::PutU32(bytes.data(), 0, recordbuffer::RecordID(buffer));
        return true;
    }
    const auto value = recordbuffer::Value(field, buffer);
    if (value.empty()) return false;
    bytes.assign(value.begin(), value.end());
    return true;
}

// Compares the values of one result field the way an ascending index of that
// field orders them (the table's collation; an absent value first).
class TValueOrder {
public:
    TValueOrder(const FieldDescriptor& field, const TDataTable& table)
        : layout_(LayoutOf(field)),
          builder_(layout_, table.DataFile().Locale(), table.DataFile().Header().languageID == 0),
          comparer_(layout_, table.DataFile().Header().Locale()) {}

    std::size_t KeyLength() const { return layout_.keyLength; }
    void Build(const std::uint8_t* record, std::uint8_t* key) const { builder_.Build(record, key); }
    int Compare(const std::uint8_t* a, const std::uint8_t* b) const { return comparer_.CompareKeys(a, b); }

private:
    static TKeyLayout LayoutOf(const FieldDescriptor& field) {
        IndexDescriptor index;
        index.unique = true;
        index.fieldCount = 1;
        index.fieldNumbers[0] = 1;
        index.keyLength = static_cast<std::uint16_t>(KeySizeOf(field) + 1u);
        return TKeyLayout::For(index, 1, {field});
    }

    TKeyLayout layout_;
    TKeyBuilder builder_;
    TKeyComparer comparer_;
};

}  // namespace

// One execution: the source cursor, the result table and its rows.
class TSqlQuery::Run {
public:
    Run(TSqlQuery& query, const std::vector<TSqlParamValue>& params) : query_(query), params_(params) {}

    std::unique_ptr<TDataCursor> Execute() {
        OpenSource();
        ResolveColumns();
        CreateResult();
        if (PlanSkipScan()) ReadBySkipScan();
        else ReadByScan();
        WriteRows();
        source_->CloseCursor();
        result_->SetToBegin();
        result_->ReadOnly = true;
        return std::move(result_);
    }

private:
    const TSqlSelect& Statement() const { return query_.statement_; }

    void OpenSource() {
        source_ = std::make_unique<TDataCursor>(query_.directory_);
        source_->TableName = Statement().table;
        source_->ReadOnly = true;
        if (query_.OnPasswordRequest) source_->OnPasswordRequest = [this](TDataCursor&) { return query_.OnPasswordRequest(); };
        try {
            source_->OpenCursor();
        } catch (const ECofferEngineError& e) {
            if (e.ErrorCode() == err::TableNotFound) RaiseSqlError("table '" + Statement().table + "' not found");
            throw;
        }
    }

    // The source field of each result column, checked against the table.
    void ResolveColumns() {
        const std::vector<FieldDescriptor>& fields = source_->Fields();
        if (Statement().allColumns) {
            for (std::size_t i = 0; i < fields.size(); ++i) columns_.push_back(i);
        } else {
            for (const std::string& name : Statement().columns) {
                const std::size_t i = FieldIndex(name);
                if (std::find(columns_.begin(), columns_.end(), i) != columns_.end()) {
                    RaiseSqlError("column '" + name + "' is selected twice");
                }
                columns_.push_back(i);
            }
        }
        for (const TSqlOrderItem& item : Statement().orderBy) {
            const std::size_t i = FieldIndex(item.column);
            const auto at = std::find(columns_.begin(), columns_.end(), i);
            if (at == columns_.end()) RaiseSqlError("ORDER BY column '" + item.column + "' is not selected");
            if (IsBlob(fields[i])) RaiseSqlError("cannot order by the BLOB column '" + fields[i].name + "'");
            order_.push_back({static_cast<std::size_t>(at - columns_.begin()), item.descending});
        }
        if (Statement().distinct) {
            for (std::size_t c = 0; c < columns_.size(); ++c) {
                if (IsBlob(fields[columns_[c]])) {
                    RaiseSqlError("DISTINCT cannot compare the BLOB column '" + fields[columns_[c]].name + "'");
                }
                const bool ordered = std::any_of(order_.begin(), order_.end(), [c](const OrderColumn& o) { return o.column == c; });
                if (!ordered) order_.push_back({c, false});
            }
        }
    }

    std::size_t FieldIndex(const std::string& name) const {
        const std::vector<FieldDescriptor>& fields = source_->Fields();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (SameText(fields[i].name, name)) return i;
        }
        RaiseSqlError("unknown column '" + name + "' in table '" + Statement().table + "'");
    }

    void CreateResult() {
        const TDataTable& table = source_->Table();
        TableDefinition definition;
        definition.params.languageID = table.DataFile().Header().languageID;
        definition.params.sortID = table.DataFile().Header().sortID;
        definition.params.blobBlockSize = static_cast<std::uint16_t>(table.BlobBlockSize());
        for (std::size_t i : columns_) definition.fields.push_back(ResultField(source_->Fields()[i]));
        TDataDirectory& directory = query_.ResultDirectory();
        const std::string name = directory.MakeTempTableName(true);
        TDataTable* created = nullptr;
        RaiseDirectoryResult(directory.CreateTable(name, true, definition, created), name);
        query_.resultTable_ = name;
        created->SetTemporary(true);
        RaiseDirectoryResult(directory.CloseTable(created), name);
        result_ = std::make_unique<TDataCursor>(directory);
        result_->TableName = name;
        result_->InMemory = true;
        result_->Exclusive = true;
        result_->ResultCursor = true;
        result_->OpenCursor();
        recordSize_ = result_->RecordSize();
    }

    // DISTINCT of one column in its ascending (or reversed) order, without a
    // condition, over an index that starts with the column.
    bool PlanSkipScan() {
        const TSqlSelect& s = Statement();
        if (!s.distinct || s.allColumns || columns_.size() != 1 || !s.condition.empty() || order_.size() != 1) {
            return false;
        }
        const TDataTable& table = source_->Table();
        const auto number = static_cast<std::uint16_t>(columns_[0] + 1);
        int best = -1;
        for (int slot = 0; slot < table.IndexCount(); ++slot) {
            const IndexDescriptor& index = table.IndexDefinition(slot);
            if (index.fieldCount == 0 || index.fieldNumbers[0] != number) continue;
            if (best < 0 || index.keyLength < table.IndexDefinition(best).keyLength) {
                source_->SetIndexName(index.name);
                if (DistinctScanPossible(*source_)) best = slot;
            }
        }
        if (best < 0) return false;
        source_->SetIndexName(table.IndexDefinition(best).name);
        return true;
    }

    void ReadBySkipScan() {
        TSqlDistinctScan scan(*source_);
        const std::vector<std::vector<std::uint8_t>> values = scan.Run();
        TSqlExecutionStats& stats = query_.stats_;
        stats.indexSkipScan = true;
        stats.index = source_->IndexName();
        stats.keysRead = scan.KeysRead();
        stats.descents = scan.Descents();
        const FieldDescriptor& field = result_->Fields().front();
        TKeyPartReader part(scan.Part(), false);
        std::vector<std::uint8_t> bytes;
        rows_.assign(values.size() * recordSize_, 0);
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::uint8_t* row = rows_.data() + i * recordSize_;
            part.SetKey(values[i].data());
            if (part.ReadField(field, 1, bytes)) recordbuffer::SetValue(field, row, bytes);
            else recordbuffer::SetNull(field, row);
        }
        rowCount_ = values.size();
        order_.clear();  // already in index order
        reverse_ = !Statement().orderBy.empty() && Statement().orderBy.front().descending;
    }

    void ReadByScan() {
        const TSqlSelect& s = Statement();
        if (!s.condition.empty()) {
            const std::string condition = ConditionText(s, params_);
            try {
                source_->ActivateFilter(source_->AddFilter(condition));
            } catch (const ECofferEngineError& e) {
                if (e.ErrorCode() != err::FilterError) throw;
                RaiseSqlError("invalid condition '" + condition + "': " + e.ContextText());
            }
        }
        const std::vector<FieldDescriptor>& sourceFields = source_->Fields();
        const std::vector<FieldDescriptor>& resultFields = result_->Fields();
        const bool hasBlobs = std::any_of(columns_.begin(), columns_.end(),
                                          [&](std::size_t i) { return IsBlob(sourceFields[i]); });
        const std::uint32_t total = std::max<std::uint32_t>(1, source_->GetRecordCount());
        std::vector<std::uint8_t> buffer(source_->RecordSize(), 0);
        std::vector<std::uint8_t> bytes;
        source_->SetToBegin();
        int lastPercent = -1;
        while (source_->GetNextRecord(buffer.data()) == 0) {
            ++query_.stats_.recordsRead;
            Progress(static_cast<int>(std::min<std::uint64_t>(100, query_.stats_.recordsRead * 100 / total)), lastPercent);
            rows_.resize(rows_.size() + recordSize_, 0);
            std::uint8_t* row = rows_.data() + rows_.size() - recordSize_;
            if (hasBlobs) blobs_.emplace_back(columns_.size());
            for (std::size_t c = 0; c < columns_.size(); ++c) {
                const FieldDescriptor& from = sourceFields[columns_[c]];
                const FieldDescriptor& to = resultFields[c];
                if (IsBlob(from)) {
                    ReadBlob(from, buffer.data(), blobs_.back()[c]);
                    continue;
                }
                if (SourceValue(from, buffer.data(), bytes)) recordbuffer::SetValue(to, row, bytes);
                else recordbuffer::SetNull(to, row);
            }
            ++rowCount_;
        }
        Progress(100, lastPercent);
    }

    void Progress(int percent, int& lastPercent) {
        if (!query_.OnProgress || percent == lastPercent) return;
        lastPercent = percent;
        bool abort = false;
        query_.OnProgress(percent, abort);
        if (abort) RaiseSqlError("the query was cancelled");
    }

    void ReadBlob(const FieldDescriptor& field, std::uint8_t* buffer, std::vector<std::uint8_t>& contents) {
        const auto number = static_cast<std::uint16_t>(field.number);
        std::uint32_t length = 0;
        int code = source_->OpenBlob(number, buffer, TBlobOpenMode::Read, length);
        if (code != 0) RaiseEngineError(static_cast<std::uint16_t>(code), {.table = Statement().table, .field = field.name});
        contents.resize(length);
        std::uint32_t read = 0;
        code = length == 0 ? 0 : source_->GetBlob(number, buffer, 0, length, contents.data(), read);
        source_->FreeBlob(number, buffer);
        if (code != 0) RaiseEngineError(static_cast<std::uint16_t>(code), {.table = Statement().table, .field = field.name});
        contents.resize(read);
    }

    // Sorts by the ORDER BY columns (then, for DISTINCT, the other columns),
    // drops repeated rows, cuts to the row limit and appends the rows.
    std::vector<std::size_t> RowOrder() {
        std::vector<std::size_t> rows(rowCount_);
        std::iota(rows.begin(), rows.end(), std::size_t{0});
        if (order_.empty()) return rows;
        const std::vector<FieldDescriptor>& fields = result_->Fields();
        std::deque<TValueOrder> orders;
        std::vector<std::size_t> offsets;
        std::size_t keyLength = 0;
        for (const OrderColumn& o : order_) {
            orders.emplace_back(fields[o.column], result_->Table());
            offsets.push_back(keyLength);
            keyLength += orders.back().KeyLength();
        }
        std::vector<std::uint8_t> keys(rowCount_ * keyLength, 0);
        for (std::size_t r = 0; r < rowCount_; ++r) {
            for (std::size_t k = 0; k < orders.size(); ++k) {
                orders[k].Build(rows_.data() + r * recordSize_, keys.data() + r * keyLength + offsets[k]);
            }
        }
        auto compare = [&](std::size_t a, std::size_t b) {
            for (std::size_t k = 0; k < orders.size(); ++k) {
                const int c = orders[k].Compare(keys.data() + a * keyLength + offsets[k], keys.data() + b * keyLength + offsets[k]);
                if (c != 0) return order_[k].descending ? -c : c;
            }
            return 0;
        };
        std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) { return compare(a, b) < 0; });
        if (Statement().distinct) {
            rows.erase(std::unique(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) { return compare(a, b) == 0; }),
                       rows.end());
        }
        return rows;
    }

    void WriteRows() {
        std::vector<std::size_t> rows = RowOrder();
        if (reverse_) std::reverse(rows.begin(), rows.end());
        if (query_.MaxRowCount >= 0 && rows.size() > static_cast<std::size_t>(query_.MaxRowCount)) {
            rows.resize(static_cast<std::size_t>(query_.MaxRowCount));
        }
        const std::vector<FieldDescriptor>& fields = result_->Fields();
        std::vector<std::uint8_t> buffer(recordSize_, 0);
        for (std::size_t r : rows) {
            std::memcpy(buffer.data(), rows_.data() + r * recordSize_, recordSize_);
            if (!blobs_.empty()) {
                for (std::size_t c = 0; c < fields.size(); ++c) {
                    const std::vector<std::uint8_t>& contents = blobs_[r][c];
                    if (!IsBlob(fields[c]) || contents.empty()) continue;
                    WriteBlob(fields[c], buffer.data(), contents);
                }
            }
            result_->AppendRecord(buffer.data(), false);
            result_->FreeAllBlobs();
        }
        query_.stats_.rows = static_cast<std::uint32_t>(rows.size());
    }

    void WriteBlob(const FieldDescriptor& field, std::uint8_t* buffer, const std::vector<std::uint8_t>& contents) {
        const auto number = static_cast<std::uint16_t>(field.number);
        std::uint32_t length = 0;
        int code = result_->OpenBlob(number, buffer, TBlobOpenMode::Write, length);
        if (code == 0) code = result_->PutBlob(number, buffer, 0, static_cast<std::uint32_t>(contents.size()), contents.data());
        if (code != 0) RaiseEngineError(static_cast<std::uint16_t>(code), {.field = field.name});
    }

    struct OrderColumn {
        std::size_t column = 0;  // in the result
        bool descending = false;
    };

    TSqlQuery& query_;
    const std::vector<TSqlParamValue>& params_;
    std::unique_ptr<TDataCursor> source_;
    std::unique_ptr<TDataCursor> result_;
    std::vector<std::size_t> columns_;  // source field index of each result column
    std::vector<OrderColumn> order_;
    bool reverse_ = false;
    std::uint32_t recordSize_ = 0;
    std::vector<std::uint8_t> rows_;  // result record images, one after the other
    std::size_t rowCount_ = 0;
    std::vector<std::vector<std::vector<std::uint8_t>>> blobs_;  // per row, per column
};

TSqlQuery::TSqlQuery(TDataDirectory& directory) : directory_(directory) {}

TSqlQuery::~TSqlQuery() {
    try {
        DropResult();
    } catch (...) {
        // Going away; an in-memory table left over goes with the session.
    }
    if (resultDirectory_ != nullptr) directory_.Session().CloseDataDirectory(resultDirectory_);
}

TDataDirectory& TSqlQuery::ResultDirectory() {
    if (resultDirectory_ == nullptr) resultDirectory_ = directory_.Session().OpenDataDirectory(kMemoryDirectory, "");
    return *resultDirectory_;
}

void TSqlQuery::Prepare(std::string_view text) {
    prepared_ = false;
    statement_ = ParseSqlSelect(text);
    prepared_ = true;
}

std::unique_ptr<TDataCursor> TSqlQuery::Execute(const std::vector<TSqlParamValue>& params) {
    if (!prepared_) RaiseSqlError("no statement prepared");
    DropResult();
    stats_ = {};
    try {
        return Run(*this, params).Execute();
    } catch (...) {
        try {
            DropResult();
        } catch (...) {
            // The execution's own failure is the one reported.
        }
        throw;
    }
}

void TSqlQuery::DropResult() {
    if (resultTable_.empty()) return;
    const std::string name = resultTable_;
    resultTable_.clear();
    RaiseDirectoryResult(ResultDirectory().DeleteTable(name, true), name);
}

}  // namespace pixhold::engine
