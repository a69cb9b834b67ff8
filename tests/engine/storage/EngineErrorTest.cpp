#include "EngineError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace pixhold::engine {
namespace {

// Every context text differs, so a placeholder filled from the wrong one shows.
ErrorContext SampleContext() {
    ErrorContext context;
    context.server = "srv1";
    context.user = "alice";
    context.database = "/data/pics/";
    context.table = "photos";
    context.field = "Category";
    context.index = "ByName";
    context.text = "bad token";
    return context;
}

ErrorContext OnTable(const std::string& table) {
    ErrorContext context;
    context.table = table;
    return context;
}

constexpr int kSampleOsError = 13;

struct ExpectedMessage {
    std::uint16_t code;
    const char* message;
};

// The finished message of every code for SampleContext() and OS error 13.
const ExpectedMessage kExpectedMessages[] = {
    // Positioning and records
    {8705, "Coffer Engine Error # 8705 Beginning of table 'photos' unexpectedly encountered"},
    {8706, "Coffer Engine Error # 8706 End of table 'photos' unexpectedly encountered"},
    {8708, "Coffer Engine Error # 8708 Record has been changed or deleted by another user, session, or table cursor in the table 'photos'"},
    {8709, "Coffer Engine Error # 8709 No current record in the table 'photos'"},
    {8710, "Coffer Engine Error # 8710 Record not found in the table 'photos'"},
    {8711, "Coffer Engine Error # 8711 End of blob data in the table 'photos' reached prematurely"},
    // Damaged files
    {8961, "Coffer Engine Error # 8961 Header information corrupt in the table 'photos'"},
    {8962, "Coffer Engine Error # 8962 Data record buffers corrupt in the table 'photos'"},
    {8963, "Coffer Engine Error # 8963 BLOB block buffers corrupt in the table 'photos'"},
    {8965, "Coffer Engine Error # 8965 Index page buffers corrupt in the table 'photos'"},
    // File access
    {9217, "Coffer Engine Error # 9217 Error reading from the table 'photos'"},
    {9218, "Coffer Engine Error # 9218 Error writing to the table 'photos'"},
    {9220, "Coffer Engine Error # 9220 Cannot delete the table 'photos'"},
    {9221, "Coffer Engine Error # 9221 Error accessing header information for the table 'photos'"},
    // Limits
    {9477, "Coffer Engine Error # 9477 Maximum record size exceeded in the table 'photos'"},
    {9479, "Coffer Engine Error # 9479 The table 'photos' is full and cannot contain any more data"},
    {9482, "Coffer Engine Error # 9482 Too many filters defined for the table 'photos'"},
    {9487, "Coffer Engine Error # 9487 Maximum or minimum limits on number of indexes or fields in an index exceeded in the table 'photos'"},
    {9492, "Coffer Engine Error # 9492 Maximum or minimum limits on number of fields, auto-increment field value, or field size exceeded in the table 'photos'"},
    {9494, "Coffer Engine Error # 9494 Too many blobs opened in the table 'photos'"},
    {9498, "Coffer Engine Error # 9498 Too many blob fields or invalid blob block size specified for the table 'photos'"},
    // Keys and values
    {9729, "Coffer Engine Error # 9729 Duplicate key found in the index 'ByName' of the table 'photos'"},
    {9730, "Coffer Engine Error # 9730 The value for the field 'Category' in the table 'photos' is below the minimum allowable value"},
    {9731, "Coffer Engine Error # 9731 The value for the field 'Category' in the table 'photos' is above the maximum allowable value"},
    {9732, "Coffer Engine Error # 9732 A value must be provided for the field 'Category' in the table 'photos'"},
    // Definitions, BLOBs, filters and passwords
    {9985, "Coffer Engine Error # 9985 Invalid field number or name 'Category' specified for the table 'photos'"},
    {9993, "Coffer Engine Error # 9993 A primary index is already defined for the table 'photos' and cannot be added again"},
    {9998, "Coffer Engine Error # 9998 Invalid blob offset into the table 'photos' specified"},
    {10000, "Coffer Engine Error # 10000 Invalid field definition specified for the field 'Category' in the table 'photos'"},
    {10006, "Coffer Engine Error # 10006 Invalid default, min or max validity check, or expression specified for the field 'Category' in the table 'photos'"},
    {10010, "Coffer Engine Error # 10010 The secondary index name is missing or not specified for the table 'photos'"},
    {10015, "Coffer Engine Error # 10015 Password provided for the table 'photos' is invalid"},
    {10022, "Coffer Engine Error # 10022 Invalid secondary index name 'ByName' specified for the table 'photos'"},
    {10023, "Coffer Engine Error # 10023 Invalid field number 'Category' specified in the index 'ByName' for the table 'photos'"},
    {10026, "Coffer Engine Error # 10026 Invalid key size specified in the index 'ByName' for the table 'photos'"},
    {10027, "Coffer Engine Error # 10027 The secondary index 'ByName' already exists for the table 'photos'"},
    {10029, "Coffer Engine Error # 10029 Invalid blob length in the table 'photos'"},
    {10030, "Coffer Engine Error # 10030 Invalid blob handle for the table 'photos' specified"},
    {10031, "Coffer Engine Error # 10031 The table 'photos' is already in use"},
    {10038, "Coffer Engine Error # 10038 Invalid or duplicate field name 'Category' specified for the table 'photos'"},
    {10050, "Coffer Engine Error # 10050 Invalid filter handle specified for the table 'photos'"},
    {10051, "Coffer Engine Error # 10051 Filter error for the table 'photos' - bad token"},
    {10055, "Coffer Engine Error # 10055 The primary index cannot be removed from the table 'photos'"},
    // Locks
    {10241, "Coffer Engine Error # 10241 The table 'photos' is already locked by another user"},
    {10242, "Coffer Engine Error # 10242 Cannot unlock table or record in the table 'photos'"},
    {10249, "Coffer Engine Error # 10249 General lock failure with the table 'photos'"},
    {10253, "Coffer Engine Error # 10253 The table 'photos' must be opened exclusively"},
    {10258, "Coffer Engine Error # 10258 Record in the table 'photos' is in use by another user"},
    // Rights and engine state
    {10498, "Coffer Engine Error # 10498 Insufficient rights to the table 'photos', a password is required"},
    {10753, "Coffer Engine Error # 10753 Invalid blob field 'Category' specified for the table 'photos'"},
    {10758, "Coffer Engine Error # 10758 The database engine is not initialized"},
    // Operating system
    {11010, "Coffer Engine Error # 11010 Table 'photos' does not exist"},
    {11012, "Coffer Engine Error # 11012 Too many operating system files open while attempting to open the table 'photos'"},
    {11013, "Coffer Engine Error # 11013 Access denied to table 'photos'"},
    {11014, "Coffer Engine Error # 11014 Invalid operating system file handle for the table 'photos'"},
    {11016, "Coffer Engine Error # 11016 There is insufficient operating system memory available for the current operation"},
    {11017, "Coffer Engine Error # 11017 Invalid length for the in-memory table 'photos'"},
    {11023, "Coffer Engine Error # 11023 Access denied to logical operating system device for the table 'photos'"},
    {11025, "Coffer Engine Error # 11025 The table 'photos' has been moved"},
    {11047, "Coffer Engine Error # 11047 An unknown operating system error 13 occurred with the table 'photos'"},
    // Database server
    {11276, "Coffer Engine Error # 11276 The connection to the database server at 'srv1' has been lost"},
    {11279, "Coffer Engine Error # 11279 An unknown error ('bad token') occurred with the connection to the database server at 'srv1', please check the server log"},
    {11280, "Coffer Engine Error # 11280 A connection to the database server at 'srv1' cannot be established"},
    {11281, "Coffer Engine Error # 11281 A connection to the database server at 'srv1' cannot be established, the server is not accepting new logins"},
    {11282, "Coffer Engine Error # 11282 A connection to the database server at 'srv1' cannot be established, the maximum number of connections has been reached"},
    {11283, "Coffer Engine Error # 11283 A connection to the database server at 'srv1' cannot be established, the client address is blocked"},
    {11285, "Coffer Engine Error # 11285 A server callback error occurred for the database server at 'srv1'"},
    {11286, "Coffer Engine Error # 11286 A call to the database server at 'srv1' failed, the client engine version does not match the server"},
    {11287, "Coffer Engine Error # 11287 A connection to the database server at 'srv1' cannot be established, the login information provided is invalid"},
    {11288, "Coffer Engine Error # 11288 The user 'alice' is not authorized to perform this operation with the database '/data/pics/' on the database server at 'srv1'"},
    {11289, "Coffer Engine Error # 11289 The user 'alice' is not authorized to perform administration functions on the database server at 'srv1'"},
    {11290, "Coffer Engine Error # 11290 The user name is either invalid or blank"},
    {11291, "Coffer Engine Error # 11291 The user 'alice' does not exist on the database server at 'srv1'"},
    {11292, "Coffer Engine Error # 11292 The user 'alice' already exists on the database server at 'srv1'"},
    {11293, "Coffer Engine Error # 11293 The database name or directory is either invalid or blank"},
    {11294, "Coffer Engine Error # 11294 The database '/data/pics/' does not exist on the database server at 'srv1'"},
    {11295, "Coffer Engine Error # 11295 The database '/data/pics/' already exists on the database server at 'srv1'"},
    {11296, "Coffer Engine Error # 11296 The database user name is either invalid or blank"},
    {11297, "Coffer Engine Error # 11297 The database user 'alice' does not exist for the database '/data/pics/' on the database server at 'srv1'"},
    {11298, "Coffer Engine Error # 11298 The database user 'alice' already exists for the database '/data/pics/' on the database server at 'srv1'"},
    {11299, "Coffer Engine Error # 11299 An invalid or unknown request was made to the database server at 'srv1'"},
    // Other
    {11949, "Coffer Engine Error # 11949 SQL error - bad token"},
    {11300, "Coffer Engine Error # 11300 An error occurred during the import into the table 'photos' - bad token"},
    {11301, "Coffer Engine Error # 11301 An error occurred during the export from the table 'photos' - bad token"},
    {12035, "Coffer Engine Error # 12035 The table 'photos' is not the correct version"},
    {12292, "Coffer Engine Error # 12292 Invalid field 'Category' specified for the index 'ByName' in the table 'photos'"},
    {13060, "Coffer Engine Error # 13060 The table 'photos' already exists"},
    {15001, "Coffer Engine Error # 15001 Error compressing data"},
    {15002, "Coffer Engine Error # 15002 Error uncompressing data"},
    {15878, "Coffer Engine Error # 15878 The language driver for the table 'photos' is not available or installed"},
};

TEST(EngineErrorTable, EveryCodeGivesItsFinishedMessage) {
    std::set<std::uint16_t> codes;
    for (const auto& expected : kExpectedMessages) {
        SCOPED_TRACE(expected.code);
        EXPECT_TRUE(codes.insert(expected.code).second) << "listed twice";
        const ECofferEngineError error(expected.code, SampleContext(), kSampleOsError, 0);
        EXPECT_EQ(error.Message(), expected.message);
        EXPECT_STREQ(error.what(), expected.message);
        EXPECT_EQ(error.ErrorCode(), expected.code);
    }
}

TEST(EngineErrorTable, NamedConstantsCarryTheirCodes) {
    // A few constants that callers test for, checked against their texts.
    EXPECT_EQ(EngineErrorText(err::RecordLocked, SampleContext()),
              "Record in the table 'photos' is in use by another user");
    EXPECT_EQ(EngineErrorText(err::RecordChanged, SampleContext()),
              "Record has been changed or deleted by another user, session, or table cursor in "
              "the table 'photos'");
    EXPECT_EQ(EngineErrorText(err::WrongVersion, SampleContext()),
              "The table 'photos' is not the correct version");
    EXPECT_EQ(EngineErrorText(err::DuplicateKey, SampleContext()),
              "Duplicate key found in the index 'ByName' of the table 'photos'");
    EXPECT_EQ(err::UnknownOsError, 11047);
}

TEST(EngineErrorText, UnknownCodesGiveTheUnknownErrorText) {
    for (std::uint16_t code : {0, 1, 8704, 9999, 11048, 65535}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(EngineErrorText(code, SampleContext()), "An unknown error occurred");
        const ECofferEngineError error(code, SampleContext());
        EXPECT_EQ(error.Message(),
                  "Coffer Engine Error # " + std::to_string(code) + " An unknown error occurred");
    }
}

TEST(EngineErrorText, CodesWithoutPlaceholdersIgnoreTheContext) {
    struct Case {
        std::uint16_t code;
        const char* text;
    };
    const Case cases[] = {
        {11016, "There is insufficient operating system memory available for the current operation"},
        {15001, "Error compressing data"},
        {15002, "Error uncompressing data"},
        {10758, "The database engine is not initialized"},
        {11290, "The user name is either invalid or blank"},
        {11293, "The database name or directory is either invalid or blank"},
        {11296, "The database user name is either invalid or blank"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(EngineErrorText(c.code, SampleContext()), c.text);
        EXPECT_EQ(EngineErrorText(c.code, ErrorContext{}), c.text);
    }
}

TEST(EngineErrorText, DesignatedContextNamesOnlyWhatApplies) {
    EXPECT_EQ(EngineErrorText(err::InvalidIndexField,
                              ErrorContext{.table = "photos", .field = "Type", .index = "ByType"}),
              "Invalid field 'Type' specified for the index 'ByType' in the table 'photos'");
}

TEST(EngineErrorText, EmptyContextLeavesEmptyQuotes) {
    EXPECT_EQ(EngineErrorText(err::DuplicateKey, ErrorContext{}),
              "Duplicate key found in the index '' of the table ''");
}

TEST(EngineErrorText, ContextTextsAreCopiedNotExpanded) {
    ErrorContext context;
    context.table = "100%s %d %n";
    context.text = "%s%s%s";
    EXPECT_EQ(EngineErrorText(err::FilterError, context),
              "Filter error for the table '100%s %d %n' - %s%s%s");
}

TEST(EngineErrorText, LongTableNameIsCutSoTheTextStaysWithin254Characters) {
    const std::string table(300, 't');
    const std::string text = EngineErrorText(err::RecordLocked, OnTable(table));
    ASSERT_EQ(text.size(), 254u);
    // The context itself is cut to 255 first; the text is then cut at 254.
    EXPECT_EQ(text, "Record in the table '" + std::string(254 - 21, 't'));

    const ECofferEngineError error(err::RecordLocked, OnTable(table));
    EXPECT_EQ(error.Message(), "Coffer Engine Error # 10258 " + text);
}

TEST(EngineErrorText, TextOfExactly254CharactersIsKept) {
    // "Table '" + name + "' does not exist" is 23 characters besides the name.
    const std::string table(254 - 23, 'x');
    const std::string text = EngineErrorText(err::TableNotFound, OnTable(table));
    EXPECT_EQ(text, "Table '" + table + "' does not exist");
    EXPECT_EQ(text.size(), 254u);
    const std::string longer = EngineErrorText(err::TableNotFound, OnTable(table + "y"));
    EXPECT_EQ(longer, "Table '" + table + "y' does not exis");
}

TEST(EngineErrorText, CutNeverSplitsAUtf8Character) {
    // "Table '" is 7 bytes; 246 ASCII bytes bring the text to 253, so the
    // two-byte character that follows would straddle the 254-byte limit.
    const std::string table = std::string(246, 'a') + "\xC3\xA9" + "zzzz";
    const std::string text = EngineErrorText(err::TableNotFound, OnTable(table));
    EXPECT_EQ(text, "Table '" + std::string(246, 'a'));
}

TEST(ECofferEngineError, ContextTextsAreCutTo255Characters) {
    const std::string longText(400, 'c');
    ErrorContext context{longText, longText, longText, longText, longText, longText, longText};
    const ECofferEngineError error(err::FilterError, context);
    for (const std::string* text :
         {&error.ContextServer(), &error.ContextUser(), &error.ContextDatabase(),
          &error.ContextTable(), &error.ContextField(), &error.ContextIndex(),
          &error.ContextText()}) {
        EXPECT_EQ(*text, std::string(255, 'c'));
    }
    const ErrorContext shortContext = SampleContext();
    const ECofferEngineError kept(err::FilterError, shortContext);
    EXPECT_EQ(kept.ContextServer(), "srv1");
    EXPECT_EQ(kept.ContextUser(), "alice");
    EXPECT_EQ(kept.ContextDatabase(), "/data/pics/");
    EXPECT_EQ(kept.ContextTable(), "photos");
    EXPECT_EQ(kept.ContextField(), "Category");
    EXPECT_EQ(kept.ContextIndex(), "ByName");
    EXPECT_EQ(kept.ContextText(), "bad token");
}

TEST(ECofferEngineError, TextPlaceholderUsesTheCutContext) {
    // The filter message's text placeholder is the 255-character cut context,
    // and the whole text then stops at 254.
    ErrorContext context;
    context.table = "t";
    context.text = std::string(300, 'e');
    const std::string text = EngineErrorText(err::FilterError, context);
    EXPECT_EQ(text, "Filter error for the table 't' - " + std::string(254 - 33, 'e'));
}

TEST(RaiseEngineError, RecordsErrnoAndNoSocketError) {
    try {
        errno = ENOENT;
        RaiseEngineError(err::UnknownOsError, OnTable("photos"));
        FAIL() << "no error raised";
    } catch (const ECofferEngineError& error) {
        EXPECT_EQ(error.OsError(), ENOENT);
        EXPECT_EQ(error.SocketError(), 0);
        EXPECT_EQ(error.Message(), "Coffer Engine Error # 11047 An unknown operating system error " +
                                       std::to_string(ENOENT) + " occurred with the table 'photos'");
    }
}

TEST(RaiseTableError, NamesOnlyTheTable) {
    try {
        errno = EACCES;
        RaiseTableError(err::AccessDenied, "photos");
        FAIL() << "no error raised";
    } catch (const ECofferEngineError& error) {
        EXPECT_EQ(error.ErrorCode(), err::AccessDenied);
        EXPECT_EQ(error.OsError(), EACCES);
        EXPECT_EQ(error.SocketError(), 0);
        EXPECT_EQ(error.ContextTable(), "photos");
        EXPECT_EQ(error.ContextServer(), "");
        EXPECT_EQ(error.ContextDatabase(), "");
        EXPECT_EQ(error.ContextText(), "");
        EXPECT_EQ(error.Message(), "Coffer Engine Error # 11013 Access denied to table 'photos'");
    }
}

TEST(ECofferEngineError, ConstructorRecordsErrno) {
    errno = EBUSY;
    const ECofferEngineError error(err::LockFailure, OnTable("photos"));
    EXPECT_EQ(error.OsError(), EBUSY);
    EXPECT_EQ(error.SocketError(), 0);
}

std::exception_ptr Capture(void (*raise)()) {
    try {
        raise();
    } catch (...) {
        return std::current_exception();
    }
    return {};
}

TEST(ErrorCodeOf, EngineErrorsGiveTheirCodeAndOthers11047) {
    EXPECT_EQ(ErrorCodeOf(Capture([] { RaiseTableError(err::RecordLocked, "photos"); })), 10258);
    EXPECT_EQ(ErrorCodeOf(Capture([] { RaiseEngineError(err::CompressError); })), 15001);
    EXPECT_EQ(ErrorCodeOf(Capture([] { RaiseEngineError(1); })), 1);
    EXPECT_EQ(ErrorCodeOf(std::make_exception_ptr(
                  ECofferEngineError(err::WrongVersion, OnTable("t")))),
              12035);
    EXPECT_EQ(ErrorCodeOf(Capture([] { throw std::runtime_error("Missing table name."); })), 11047);
    EXPECT_EQ(ErrorCodeOf(Capture([] { throw std::bad_alloc(); })), 11047);
    EXPECT_EQ(ErrorCodeOf(Capture([] { throw 42; })), 11047);
    EXPECT_EQ(ErrorCodeOf(std::exception_ptr{}), 11047);
}

}  // namespace
}  // namespace pixhold::engine
