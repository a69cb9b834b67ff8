#pragma once

#include <stdexcept>
#include <string>

namespace pixhold::engine {

// Misuse of a dataset handle (a session, database, table or stream used in a
// way its state does not allow). These errors carry a message only; engine
// failures stay ECofferEngineError with their code.
class EDatasetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An operation abandoned on purpose (an error handler chose to abort). The
// application's error report shows nothing for it.
class EAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// The message texts of the dataset errors; "%s" is filled by Format.
namespace dserr {
inline constexpr const char* SessionNameInvalid = "Session name %s is not valid.";
inline constexpr const char* SessionNameMissing = "Session name is missing.";
inline constexpr const char* AutoSessionOnlyActive = "The active auto-session can be the only active session.";
inline constexpr const char* AutoSessionExists = "This auto-session already exists.";
inline constexpr const char* AutoSessionActive = "Cannot perform this operation on the active auto-session.";
inline constexpr const char* SessionActive = "Cannot perform this operation on an active session.";
inline constexpr const char* RemoteNotSupported = "Remote sessions are not supported.";
inline constexpr const char* DatabaseClosed = "Cannot perform this operation on a closed database.";
inline constexpr const char* DatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr const char* TransactionActive = "Database %s already has an active transaction.";
inline constexpr const char* NoTransaction = "Database %s has no active transaction.";
inline constexpr const char* DatabaseNameMissing = "Database name is missing.";
inline constexpr const char* DatabaseNameExists = "Database name %s already exists.";
inline constexpr const char* DatabaseNameInvalid = "Database name %s is not valid.";
inline constexpr const char* MissingTableName = "Missing table name.";
inline constexpr const char* HandleNotCreated = "Error creating table handle.";
inline constexpr const char* NotEditing = "Table is not in edit or insert mode.";
inline constexpr const char* FieldReadOnly = "Field %s cannot be modified.";
inline constexpr const char* NoIndexFields = "No fields defined for the current index.";
inline constexpr const char* FieldIndexOutOfRange = "Field index out of range.";
inline constexpr const char* IndexFieldUnavailable = "Cannot access index field %s.";
inline constexpr const char* InvalidFieldSize = "Invalid field size";
inline constexpr const char* FieldNameMissing = "Field name missing";
inline constexpr const char* DuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* DuplicateIndexName = "Duplicate index name '%s'";
inline constexpr const char* FieldNotFound = "Field '%s' not found";
inline constexpr const char* DataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* DataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* NotBrowsing = "Dataset not in edit or insert mode";
inline constexpr const char* DataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* EmptyDataSet = "Cannot perform this operation on an empty dataset";
inline constexpr const char* InvalidValue = "'%s' is not a valid value for field '%s'";
inline constexpr const char* InvalidBookmark = "Invalid bookmark";
inline constexpr const char* NoSQLStatement = "No SQL statement available";
inline constexpr const char* NoParameterValue = "No value for parameter '%s'";
inline constexpr const char* ParameterNotFound = "Parameter '%s' not found";
}  // namespace dserr

// The text with each "%s" replaced, in order, by the arguments.
std::string Format(const char* pattern, const std::string& first, const std::string& second = {});

[[noreturn]] void RaiseDatasetError(const char* text);
[[noreturn]] void RaiseDatasetError(const char* pattern, const std::string& first, const std::string& second = {});

}  // namespace pixhold::engine
