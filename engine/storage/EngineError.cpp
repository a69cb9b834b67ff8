#include "EngineError.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <string_view>

#include "TextCase.h"

namespace pixhold::engine {
namespace {

constexpr std::size_t kMaxContextLength = 255;
constexpr std::size_t kMaxTextLength = 254;
constexpr std::string_view kUnknownErrorText = "An unknown error occurred";
constexpr std::string_view kMessagePrefix = "Coffer Engine Error # ";

// What fills one "%s" of a message text.
enum class S : std::uint8_t { Table, Field, Index, Database, Server, User, Text, OsError };

struct CodeText {
    std::uint16_t code;
    std::string_view text;
    // The fillers of the placeholders, in order; unused entries are never read.
    std::array<S, 3> slots;
};

// The one code table. A text with a single placeholder always names the table.
constexpr CodeText kCodeTable[] = {
    {8705, "Beginning of table '%s' unexpectedly encountered", {S::Table}},
    {8706, "End of table '%s' unexpectedly encountered", {S::Table}},
    {8708, "Record has been changed or deleted by another user, session, or table cursor in the table '%s'", {S::Table}},
    {8709, "No current record in the table '%s'", {S::Table}},
    {8710, "Record not found in the table '%s'", {S::Table}},
    {8711, "End of blob data in the table '%s' reached prematurely", {S::Table}},
    {8961, "Header information corrupt in the table '%s'", {S::Table}},
    {8962, "Data record buffers corrupt in the table '%s'", {S::Table}},
    {8963, "BLOB block buffers corrupt in the table '%s'", {S::Table}},
    {8965, "Index page buffers corrupt in the table '%s'", {S::Table}},
    {9217, "Error reading from the table '%s'", {S::Table}},
    {9218, "Error writing to the table '%s'", {S::Table}},
    {9220, "Cannot delete the table '%s'", {S::Table}},
    {9221, "Error accessing header information for the table '%s'", {S::Table}},
    {9477, "Maximum record size exceeded in the table '%s'", {S::Table}},
    {9479, "The table '%s' is full and cannot contain any more data", {S::Table}},
    {9482, "Too many filters defined for the table '%s'", {S::Table}},
    {9487, "Maximum or minimum limits on number of indexes or fields in an index exceeded in the table '%s'", {S::Table}},
    {9492, "Maximum or minimum limits on number of fields, auto-increment field value, or field size exceeded in the table '%s'", {S::Table}},
    {9494, "Too many blobs opened in the table '%s'", {S::Table}},
    {9498, "Too many blob fields or invalid blob block size specified for the table '%s'", {S::Table}},
    {9729, "Duplicate key found in the index '%s' of the table '%s'", {S::Index, S::Table}},
    {9730, "The value for the field '%s' in the table '%s' is below the minimum allowable value", {S::Field, S::Table}},
    {9731, "The value for the field '%s' in the table '%s' is above the maximum allowable value", {S::Field, S::Table}},
    {9732, "A value must be provided for the field '%s' in the table '%s'", {S::Field, S::Table}},
    {9985, "Invalid field number or name '%s' specified for the table '%s'", {S::Field, S::Table}},
    {9993, "A primary index is already defined for the table '%s' and cannot be added again", {S::Table}},
    {9998, "Invalid blob offset into the table '%s' specified", {S::Table}},
    {10000, "Invalid field definition specified for the field '%s' in the table '%s'", {S::Field, S::Table}},
    {10006, "Invalid default, min or max validity check, or expression specified for the field '%s' in the table '%s'", {S::Field, S::Table}},
    {10010, "The secondary index name is missing or not specified for the table '%s'", {S::Table}},
    {10015, "Password provided for the table '%s' is invalid", {S::Table}},
    {10022, "Invalid secondary index name '%s' specified for the table '%s'", {S::Index, S::Table}},
    {10023, "Invalid field number '%s' specified in the index '%s' for the table '%s'", {S::Field, S::Index, S::Table}},
    {10026, "Invalid key size specified in the index '%s' for the table '%s'", {S::Index, S::Table}},
    {10027, "The secondary index '%s' already exists for the table '%s'", {S::Index, S::Table}},
    {10029, "Invalid blob length in the table '%s'", {S::Table}},
    {10030, "Invalid blob handle for the table '%s' specified", {S::Table}},
    {10031, "The table '%s' is already in use", {S::Table}},
    {10038, "Invalid or duplicate field name '%s' specified for the table '%s'", {S::Field, S::Table}},
    {10050, "Invalid filter handle specified for the table '%s'", {S::Table}},
    {10051, "Filter error for the table '%s' - %s", {S::Table, S::Text}},
    {10055, "The primary index cannot be removed from the table '%s'", {S::Table}},
    {10241, "The table '%s' is already locked by another user", {S::Table}},
    {10242, "Cannot unlock table or record in the table '%s'", {S::Table}},
    {10249, "General lock failure with the table '%s'", {S::Table}},
    {10253, "The table '%s' must be opened exclusively", {S::Table}},
    {10258, "Record in the table '%s' is in use by another user", {S::Table}},
    {10498, "Insufficient rights to the table '%s', a password is required", {S::Table}},
    {10753, "Invalid blob field '%s' specified for the table '%s'", {S::Field, S::Table}},
    {10758, "The database engine is not initialized", {}},
    {11010, "Table '%s' does not exist", {S::Table}},
    {11012, "Too many operating system files open while attempting to open the table '%s'", {S::Table}},
    {11013, "Access denied to table '%s'", {S::Table}},
    {11014, "Invalid operating system file handle for the table '%s'", {S::Table}},
    {11016, "There is insufficient operating system memory available for the current operation", {}},
    {11017, "Invalid length for the in-memory table '%s'", {S::Table}},
    {11023, "Access denied to logical operating system device for the table '%s'", {S::Table}},
    {11025, "The table '%s' has been moved", {S::Table}},
    {11047, "An unknown operating system error %s occurred with the table '%s'", {S::OsError, S::Table}},
    {11276, "The connection to the database server at '%s' has been lost", {S::Server}},
    {11279, "An unknown error ('%s') occurred with the connection to the database server at '%s', please check the server log", {S::Text, S::Server}},
    {11280, "A connection to the database server at '%s' cannot be established", {S::Server}},
    {11281, "A connection to the database server at '%s' cannot be established, the server is not accepting new logins", {S::Server}},
    {11282, "A connection to the database server at '%s' cannot be established, the maximum number of connections has been reached", {S::Server}},
    {11283, "A connection to the database server at '%s' cannot be established, the client address is blocked", {S::Server}},
    {11285, "A server callback error occurred for the database server at '%s'", {S::Server}},
    {11286, "A call to the database server at '%s' failed, the client engine version does not match the server", {S::Server}},
    {11287, "A connection to the database server at '%s' cannot be established, the login information provided is invalid", {S::Server}},
    {11288, "The user '%s' is not authorized to perform this operation with the database '%s' on the database server at '%s'", {S::User, S::Database, S::Server}},
    {11289, "The user '%s' is not authorized to perform administration functions on the database server at '%s'", {S::User, S::Server}},
    {11290, "The user name is either invalid or blank", {}},
    {11291, "The user '%s' does not exist on the database server at '%s'", {S::User, S::Server}},
    {11292, "The user '%s' already exists on the database server at '%s'", {S::User, S::Server}},
    {11293, "The database name or directory is either invalid or blank", {}},
    {11294, "The database '%s' does not exist on the database server at '%s'", {S::Database, S::Server}},
    {11295, "The database '%s' already exists on the database server at '%s'", {S::Database, S::Server}},
    {11296, "The database user name is either invalid or blank", {}},
    {11297, "The database user '%s' does not exist for the database '%s' on the database server at '%s'", {S::User, S::Database, S::Server}},
    {11298, "The database user '%s' already exists for the database '%s' on the database server at '%s'", {S::User, S::Database, S::Server}},
    {11299, "An invalid or unknown request was made to the database server at '%s'", {S::Server}},
    {11949, "SQL error - %s", {S::Text}},
    {11300, "An error occurred during the import into the table '%s' - %s", {S::Table, S::Text}},
    {11301, "An error occurred during the export from the table '%s' - %s", {S::Table, S::Text}},
    {12035, "The table '%s' is not the correct version", {S::Table}},
    {12292, "Invalid field '%s' specified for the index '%s' in the table '%s'", {S::Field, S::Index, S::Table}},
    {13060, "The table '%s' already exists", {S::Table}},
    {15001, "Error compressing data", {}},
    {15002, "Error uncompressing data", {}},
    {15878, "The language driver for the table '%s' is not available or installed", {S::Table}},
};

const CodeText* FindCode(std::uint16_t code) {
    for (const CodeText& entry : kCodeTable) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

ErrorContext CutContext(ErrorContext context) {
    for (std::string* text : {&context.server, &context.user, &context.database, &context.table,
                              &context.field, &context.index, &context.text}) {
        text->resize(Utf8CutLength(*text, kMaxContextLength));
    }
    return context;
}

std::string SlotText(S slot, const ErrorContext& context, int osError) {
    switch (slot) {
        case S::Table: return context.table;
        case S::Field: return context.field;
        case S::Index: return context.index;
        case S::Database: return context.database;
        case S::Server: return context.server;
        case S::User: return context.user;
        case S::Text: return context.text;
        case S::OsError: return std::to_string(osError);
    }
    return {};
}

// Fills the placeholders by walking the template once, so that a context text
// that itself contains "%s" or "%" is copied as it is and never expanded.
std::string FillText(const CodeText& entry, const ErrorContext& context, int osError) {
    std::string result;
    std::size_t slot = 0;
    std::string_view rest = entry.text;
    for (std::size_t at = rest.find("%s"); at != std::string_view::npos; at = rest.find("%s")) {
        result.append(rest.substr(0, at));
        result.append(SlotText(entry.slots[slot++], context, osError));
        rest.remove_prefix(at + 2);
    }
    result.append(rest);
    return result;
}

std::string BuildMessage(std::uint16_t code, const std::string& text) {
    std::string message(kMessagePrefix);
    message += std::to_string(code);
    message += ' ';
    message += text;
    return message;
}

}  // namespace

ECofferEngineError::ECofferEngineError(std::uint16_t code, const ErrorContext& context)
    // errno is read before anything else can change it.
    : ECofferEngineError(code, context, errno, 0) {}

ECofferEngineError::ECofferEngineError(std::uint16_t code, const ErrorContext& context,
                                       int osError, int socketError)
    : code_(code),
      osError_(osError),
      socketError_(socketError),
      context_(CutContext(context)),
      message_(BuildMessage(code, EngineErrorText(code, context_, osError))) {}

std::string EngineErrorText(std::uint16_t code, const ErrorContext& context, int osError) {
    const CodeText* entry = FindCode(code);
    if (entry == nullptr) return std::string(kUnknownErrorText);
    std::string text = FillText(*entry, CutContext(context), osError);
    text.resize(Utf8CutLength(text, kMaxTextLength));
    return text;
}

std::string EngineErrorText(std::uint16_t code, const ErrorContext& context) {
    return EngineErrorText(code, context, errno);
}

void RaiseEngineError(std::uint16_t code, const ErrorContext& context) {
    const int osError = errno;
    throw ECofferEngineError(code, context, osError, 0);
}

void RaiseTableError(std::uint16_t code, const std::string& table) {
    const int osError = errno;
    ErrorContext context;
    context.table = table;
    throw ECofferEngineError(code, context, osError, 0);
}

std::uint16_t ErrorCodeOf(const std::exception_ptr& error) {
    if (!error) return err::UnknownOsError;
    try {
        std::rethrow_exception(error);
    } catch (const ECofferEngineError& engineError) {
        return engineError.ErrorCode();
    } catch (...) {
        return err::UnknownOsError;
    }
}

}  // namespace pixhold::engine
