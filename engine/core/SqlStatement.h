#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pixhold::engine {

// One ORDER BY entry.
struct TSqlOrderItem {
    std::string column;
    bool descending = false;
};

// A `:name` parameter as it stands in a statement text.
struct TSqlParamPlace {
    std::string name;
    std::size_t start = 0;  // offset of the colon
    std::size_t end = 0;    // offset just after the name
};

// The statement tree of the one statement the SQL processor knows:
//   SELECT [DISTINCT] * | column [, column ...] FROM table
//          [WHERE condition] [ORDER BY column [ASC|DESC] [, ...]] [;]
// The condition is kept as text in the filter expression language; its
// parameters are filled in when the statement runs.
struct TSqlSelect {
    bool distinct = false;
    bool allColumns = false;
    std::vector<std::string> columns;
    std::string table;
    std::string condition;
    // The parameters of the condition, offsets into `condition`.
    std::vector<TSqlParamPlace> conditionParams;
    std::vector<TSqlOrderItem> orderBy;
};

// Raises engine error 11949 "SQL error - <detail>".
[[noreturn]] void RaiseSqlError(const std::string& detail);

// Parses a statement; syntax errors are SQL errors naming the text near the
// fault.
TSqlSelect ParseSqlSelect(std::string_view text);

// The `:name` parameters of a text in order of appearance, each name once
// (the first place it appears); a colon inside quotes, brackets or comments
// starts none.
std::vector<std::string> ScanSqlParameters(std::string_view text);

// Every `:name` place of a text, repeated names included.
std::vector<TSqlParamPlace> SqlParameterPlaces(std::string_view text);

}  // namespace pixhold::engine
