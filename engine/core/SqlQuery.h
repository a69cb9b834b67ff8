#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SqlStatement.h"

namespace pixhold::engine {

class TDataCursor;
class TDataDirectory;

// The value of one statement parameter, as the condition receives it.
struct TSqlParamValue {
    enum class Kind : std::uint8_t { Text, Number, Boolean };
    std::string name;
    Kind kind = Kind::Text;
    std::string text;  // the text, the number's digits, or TRUE / FALSE
};

// How the last execution found its rows.
struct TSqlExecutionStats {
    // DISTINCT answered by skipping through an index from one value to the next.
    bool indexSkipScan = false;
    std::string index;
    std::uint64_t keysRead = 0;
    std::uint64_t descents = 0;
    std::uint64_t recordsRead = 0;
    std::uint32_t rows = 0;
};

// One statement of the SQL processor on a data directory (docs/sql.md):
// parsed by Prepare, run by Execute into a result held in an in-memory table
// of the session (outside the directory's transactions), presented as a read-only cursor in result order. Every
// failure of the statement itself is engine error 11949 ("SQL error - %s");
// errors of the tables it reads (locks, passwords, damage) pass on as they are.
class TSqlQuery {
public:
    using PasswordRequest = std::function<bool()>;
    // Percent done; setting `abort` stops the query (an SQL error).
    using ProgressEvent = std::function<void(int percent, bool& abort)>;

    explicit TSqlQuery(TDataDirectory& directory);
    // Deletes the result table (its cursor must be closed by then).
    ~TSqlQuery();
    TSqlQuery(const TSqlQuery&) = delete;
    TSqlQuery& operator=(const TSqlQuery&) = delete;

    // A live result is asked for; results are never live, so the cursor is
    // read-only whatever this says.
    bool RequestLive = false;
    // At most this many rows (negative: no limit).
    std::int32_t MaxRowCount = -1;
    // Asked when a table's password is unknown to the session; true means a
    // password was added and the lookup is to be repeated.
    PasswordRequest OnPasswordRequest;
    ProgressEvent OnProgress;

    void Prepare(std::string_view text);
    bool Prepared() const { return prepared_; }
    const TSqlSelect& Statement() const { return statement_; }
    // The table the statement reads (empty before Prepare).
    const std::string& TableName() const { return statement_.table; }

    // Runs the prepared statement. The previous result is dropped first (its
    // cursor must be closed). The cursor stands before the first row.
    std::unique_ptr<TDataCursor> Execute(const std::vector<TSqlParamValue>& params = {});
    // Deletes the result table; call after its cursor was closed.
    void DropResult();
    const TSqlExecutionStats& Stats() const { return stats_; }

private:
    class Run;
    TDataDirectory& ResultDirectory();

    TDataDirectory& directory_;
    TDataDirectory* resultDirectory_ = nullptr;
    TSqlSelect statement_;
    bool prepared_ = false;
    std::string resultTable_;
    TSqlExecutionStats stats_;
};

}  // namespace pixhold::engine
