#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace pixhold::engine {

// Engine error codes. Every engine failure carries one of these; the message
// texts live in the one code table of EngineError.cpp.
namespace err {
// Positioning and records
inline constexpr std::uint16_t BeginningOfTable = 8705;
inline constexpr std::uint16_t EndOfTable = 8706;
inline constexpr std::uint16_t RecordChanged = 8708;
inline constexpr std::uint16_t NoCurrentRecord = 8709;
inline constexpr std::uint16_t RecordNotFound = 8710;
inline constexpr std::uint16_t EndOfBlob = 8711;
// Damaged files
inline constexpr std::uint16_t HeaderCorrupt = 8961;
inline constexpr std::uint16_t RecordBuffersCorrupt = 8962;
inline constexpr std::uint16_t BlobBuffersCorrupt = 8963;
inline constexpr std::uint16_t IndexPagesCorrupt = 8965;
// File access
inline constexpr std::uint16_t ReadError = 9217;
inline constexpr std::uint16_t WriteError = 9218;
inline constexpr std::uint16_t CannotDelete = 9220;
inline constexpr std::uint16_t HeaderAccess = 9221;
// Limits
inline constexpr std::uint16_t RecordTooBig = 9477;
inline constexpr std::uint16_t TableFull = 9479;
inline constexpr std::uint16_t TooManyFilters = 9482;
inline constexpr std::uint16_t IndexLimits = 9487;
inline constexpr std::uint16_t FieldLimits = 9492;
inline constexpr std::uint16_t TooManyBlobsOpen = 9494;
inline constexpr std::uint16_t BlobFieldLimits = 9498;
// Keys and values
inline constexpr std::uint16_t DuplicateKey = 9729;
inline constexpr std::uint16_t BelowMinimum = 9730;
inline constexpr std::uint16_t AboveMaximum = 9731;
inline constexpr std::uint16_t ValueRequired = 9732;
// Definitions, BLOBs, filters and passwords
inline constexpr std::uint16_t InvalidField = 9985;
inline constexpr std::uint16_t PrimaryIndexExists = 9993;
inline constexpr std::uint16_t InvalidBlobOffset = 9998;
inline constexpr std::uint16_t InvalidFieldDefinition = 10000;
inline constexpr std::uint16_t InvalidValidityCheck = 10006;
inline constexpr std::uint16_t IndexNameMissing = 10010;
inline constexpr std::uint16_t InvalidPassword = 10015;
inline constexpr std::uint16_t InvalidIndexName = 10022;
inline constexpr std::uint16_t InvalidIndexFieldNumber = 10023;
inline constexpr std::uint16_t InvalidKeySize = 10026;
inline constexpr std::uint16_t IndexExists = 10027;
inline constexpr std::uint16_t InvalidBlobLength = 10029;
inline constexpr std::uint16_t InvalidBlobHandle = 10030;
inline constexpr std::uint16_t TableInUse = 10031;
inline constexpr std::uint16_t InvalidFieldName = 10038;
inline constexpr std::uint16_t InvalidFilterHandle = 10050;
inline constexpr std::uint16_t FilterError = 10051;
inline constexpr std::uint16_t PrimaryIndexRequired = 10055;
// Locks
inline constexpr std::uint16_t TableLocked = 10241;
inline constexpr std::uint16_t CannotUnlock = 10242;
inline constexpr std::uint16_t LockFailure = 10249;
inline constexpr std::uint16_t NeedExclusive = 10253;
inline constexpr std::uint16_t RecordLocked = 10258;
// Rights and engine state
inline constexpr std::uint16_t PasswordRequired = 10498;
inline constexpr std::uint16_t InvalidBlobField = 10753;
inline constexpr std::uint16_t NotInitialized = 10758;
// Operating system
inline constexpr std::uint16_t TableNotFound = 11010;
inline constexpr std::uint16_t TooManyOpenFiles = 11012;
inline constexpr std::uint16_t AccessDenied = 11013;
inline constexpr std::uint16_t InvalidFileHandle = 11014;
inline constexpr std::uint16_t OutOfMemory = 11016;
inline constexpr std::uint16_t InvalidMemoryTableLength = 11017;
inline constexpr std::uint16_t DeviceAccessDenied = 11023;
inline constexpr std::uint16_t TableMoved = 11025;
inline constexpr std::uint16_t UnknownOsError = 11047;
// Database server (remote sessions)
inline constexpr std::uint16_t ConnectionLost = 11276;
inline constexpr std::uint16_t ConnectionUnknownError = 11279;
inline constexpr std::uint16_t CannotConnect = 11280;
inline constexpr std::uint16_t ServerNotAcceptingLogins = 11281;
inline constexpr std::uint16_t MaxConnections = 11282;
inline constexpr std::uint16_t AddressBlocked = 11283;
inline constexpr std::uint16_t ServerCallbackError = 11285;
inline constexpr std::uint16_t VersionMismatch = 11286;
inline constexpr std::uint16_t InvalidLogin = 11287;
inline constexpr std::uint16_t UserNotAuthorized = 11288;
inline constexpr std::uint16_t UserNotAdmin = 11289;
inline constexpr std::uint16_t UserNameInvalid = 11290;
inline constexpr std::uint16_t UserNotFound = 11291;
inline constexpr std::uint16_t UserExists = 11292;
inline constexpr std::uint16_t DatabaseNameInvalid = 11293;
inline constexpr std::uint16_t DatabaseNotFound = 11294;
inline constexpr std::uint16_t DatabaseExists = 11295;
inline constexpr std::uint16_t DatabaseUserNameInvalid = 11296;
inline constexpr std::uint16_t DatabaseUserNotFound = 11297;
inline constexpr std::uint16_t DatabaseUserExists = 11298;
inline constexpr std::uint16_t InvalidRequest = 11299;
// Other
inline constexpr std::uint16_t SqlError = 11949;
inline constexpr std::uint16_t ImportError = 11300;
inline constexpr std::uint16_t ExportError = 11301;
inline constexpr std::uint16_t WrongVersion = 12035;
inline constexpr std::uint16_t InvalidIndexField = 12292;
inline constexpr std::uint16_t TableExists = 13060;
inline constexpr std::uint16_t CompressError = 15001;
inline constexpr std::uint16_t UncompressError = 15002;
inline constexpr std::uint16_t LanguageNotAvailable = 15878;
}  // namespace err

// The context texts an error may name. Each is cut to 255 characters.
// The member initializers let callers name only what applies, in this order:
// ErrorContext{.database = dir, .table = name}.
struct ErrorContext {
    std::string server{};
    std::string user{};
    std::string database{};
    std::string table{};
    std::string field{};
    std::string index{};
    std::string text{};
};

// The one error object of the table engine.
class ECofferEngineError : public std::exception {
public:
    // Records errno at construction as the operating-system error.
    ECofferEngineError(std::uint16_t code, const ErrorContext& context);
    ECofferEngineError(std::uint16_t code, const ErrorContext& context, int osError,
                       int socketError);

    std::uint16_t ErrorCode() const { return code_; }
    int OsError() const { return osError_; }
    int SocketError() const { return socketError_; }
    const std::string& ContextServer() const { return context_.server; }
    const std::string& ContextUser() const { return context_.user; }
    const std::string& ContextDatabase() const { return context_.database; }
    const std::string& ContextTable() const { return context_.table; }
    const std::string& ContextField() const { return context_.field; }
    const std::string& ContextIndex() const { return context_.index; }
    const std::string& ContextText() const { return context_.text; }
    // "Coffer Engine Error # <code> <text>"
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::uint16_t code_;
    int osError_;
    int socketError_;
    ErrorContext context_;
    std::string message_;
};

// The message text of a code with its placeholders filled from the context,
// cut to 254 characters ("An unknown error occurred" for unknown codes).
// 11047 names the operating-system error: `osError`, or errno at the call.
std::string EngineErrorText(std::uint16_t code, const ErrorContext& context);
std::string EngineErrorText(std::uint16_t code, const ErrorContext& context, int osError);

// The engine's single raise routine.
[[noreturn]] void RaiseEngineError(std::uint16_t code, const ErrorContext& context = {});
// Shorthand for the common case of an error that names only a table.
[[noreturn]] void RaiseTableError(std::uint16_t code, const std::string& table);

// The engine code of any error: an engine error gives its code, anything else
// (an empty pointer included) 11047.
std::uint16_t ErrorCodeOf(const std::exception_ptr& error);

}  // namespace pixhold::engine
