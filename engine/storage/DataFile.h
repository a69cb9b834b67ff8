#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FileHandler.h"
#include "Record.h"
#include "TableContext.h"
#include "TableLocale.h"

namespace pixhold::engine {

// ---------------------------------------------------------------------------
// Data file format (docs/data-file.md). All integers are little-endian.
//   0                      127-byte header
//   127                    field count x 768-byte field descriptors
//   127 + count x 768      records 1, 2, 3 ... of record size bytes each
// ---------------------------------------------------------------------------
namespace datafile {
inline constexpr std::size_t kHeaderSize = 127;
inline constexpr std::size_t kDescriptorSize = 768;
inline constexpr std::uint8_t kFormatMark = 5;
inline constexpr std::uint32_t kWriterVersion = 33000;
inline constexpr std::uint16_t kMaxFields = 1024;
inline constexpr std::uint16_t kMaxBlobFields = 128;
inline constexpr std::uint32_t kMaxRecordSize = 65535;
// Table-full limits of an append.
inline constexpr std::uint32_t kMaxRecords = 200000000;
inline constexpr std::uint64_t kMaxFileSize = 4000000000ULL;
// Record identifiers and BLOB owner identifiers continue at 1 after this value.
inline constexpr std::uint32_t kMaxCounter = 2147483647U;
// Stored texts: one length byte, then up to this many characters.
inline constexpr std::size_t kDescriptionLength = 50;
inline constexpr std::size_t kPasswordLength = 15;
inline constexpr std::size_t kFieldNameLength = 30;
inline constexpr std::size_t kValueTextLength = 50;
// Bytes read ahead in one transfer.
inline constexpr std::uint32_t kReadAheadBytes = 8192;
// Day offset subtracted from the last-update stamp (days since 30 December 1899).
inline constexpr double kLastUpdateOffset = 693594.0;
// Default locale when the table's language identifier is 0 (en-US).
inline constexpr std::uint32_t kDefaultLocale = 1033;
}  // namespace datafile

// Field type codes of a descriptor (byte 84).
namespace fieldtype {
inline constexpr std::uint8_t Invalid = 0;
inline constexpr std::uint8_t String = 1;
inline constexpr std::uint8_t Date = 2;
inline constexpr std::uint8_t Blob = 3;
inline constexpr std::uint8_t Boolean = 4;
inline constexpr std::uint8_t SmallInt = 5;
inline constexpr std::uint8_t Integer = 6;
inline constexpr std::uint8_t Float = 7;
inline constexpr std::uint8_t Decimal = 8;
inline constexpr std::uint8_t Bytes = 9;
inline constexpr std::uint8_t Time = 10;
inline constexpr std::uint8_t DateTime = 11;
inline constexpr std::uint8_t Word = 12;
inline constexpr std::uint8_t Type13 = 13;  // has a size, never created
inline constexpr std::uint8_t Type14 = 14;  // has a size, never created
inline constexpr std::uint8_t VarBytes = 15;
inline constexpr std::uint8_t LargeInt = 18;
}  // namespace fieldtype

// Subtype codes of a descriptor (byte 85).
namespace fieldsubtype {
inline constexpr std::uint8_t None = 0;
inline constexpr std::uint8_t Money = 21;         // float
inline constexpr std::uint8_t Memo = 22;          // BLOB
inline constexpr std::uint8_t FormattedMemo = 24; // BLOB
inline constexpr std::uint8_t Graphic = 26;       // BLOB
inline constexpr std::uint8_t TypedBinary = 28;   // BLOB
inline constexpr std::uint8_t AutoInc = 29;       // integer
inline constexpr std::uint8_t FixedChar = 31;     // string
inline constexpr std::uint8_t WideString = 32;    // string
}  // namespace fieldsubtype

// Character case of a string field (byte 93).
namespace charcase {
inline constexpr std::uint8_t AsGiven = 0;
inline constexpr std::uint8_t Lower = 1;
inline constexpr std::uint8_t Upper = 2;
}  // namespace charcase

// Physical size of a field of the type: string declared + 1; date, integer,
// time, type 13: 4; BLOB, float, date and time, large integer: 8; boolean,
// small integer, word: 2; decimal 34; type 14: 10; any other: the declared size.
// (A damaged string declared 255 long would need 256: hence 16 bits.)
std::uint16_t PhysicalSizeOf(std::uint8_t type, std::uint8_t declaredSize);
// Whether the type takes a declared size (string, bytes, variable bytes).
bool TypeHasDeclaredSize(std::uint8_t type);
// Whether the code is one of the field types above (0 is not).
bool KnownFieldType(std::uint8_t type);

// The 768-byte field descriptor. Texts hold the stored characters (the length
// byte is implied by the string size); Encode cuts them to their room.
struct FieldDescriptor {
    std::int16_t number = 0;          //   0 int16, equals the position from 1
    std::string name;                 //   2 length + up to 30
    std::string description;          //  33 length + up to 50
    std::uint8_t type = 0;            //  84
    std::uint8_t subtype = 0;         //  85
    std::uint8_t size = 0;            //  86 declared size
    std::uint8_t decimals = 0;        //  87 declared decimals
    std::uint8_t physicalSize = 0;    //  88
    std::uint8_t physicalDecimals = 0;//  89
    std::uint16_t offset = 0;         //  90 position of the null flag in the record
    std::uint8_t required = 0;        //  92
    std::uint8_t characterCase = 0;   //  93
    std::string minimum;              //  94 length + up to 50
    std::string maximum;              // 145 length + up to 50
    std::string defaultValue;         // 196 length + up to 50
    std::uint8_t readOnly = 0;        // 247

    bool IsAutoInc() const {
        return type == fieldtype::Integer && subtype == fieldsubtype::AutoInc;
    }
    // Auto-increment and read-only fields take no room in the record.
    bool TakesRoom() const { return !IsAutoInc() && readOnly == 0; }

    // One reader and one writer of the 768 bytes. Decode takes a text's length
    // byte as stored: a length beyond the text's room is kept (read from the
    // following bytes, as far as the descriptor reaches) so that checks see it.
    static FieldDescriptor Decode(const std::uint8_t* bytes);
    void Encode(std::uint8_t* bytes) const;

    bool operator==(const FieldDescriptor&) const = default;
};

// A descriptor with a name, a type and (for the sized types) a declared size;
// the rest is filled when a table definition is checked.
inline FieldDescriptor MakeField(const std::string& name, std::uint8_t type, std::uint8_t size = 0) {
    FieldDescriptor f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

// The 127-byte data file header. Description and password hold the stored
// characters: enciphered with the password seeds when the table is encrypted.
struct DataFileHeader {
    std::int32_t changeCounter = 0;          //   0
    std::uint32_t blobBlockSize = 0;         //   4 0 means 512
    std::uint8_t formatMark = 0;             //   8 always 5
    std::uint32_t firstFree = 0;             //   9 head of the deleted-record chain
    std::uint32_t nextRecordNumber = 0;      //  13 physical record count + 1
    std::uint32_t lastRecordID = 0;          //  17
    std::uint16_t recordSize = 0;            //  21
    std::uint16_t fieldCount = 0;            //  23
    std::uint16_t blobFieldCount = 0;        //  25
    double lastUpdate = 0.0;                 //  27
    std::string description;                 //  35 length + up to 50
    std::uint8_t encrypted = 0;              //  86
    std::string password;                    //  87 length + up to 15
    std::uint16_t languageID = 0;            // 103
    std::uint16_t sortID = 0;                // 105
    std::uint16_t userMajorVersion = 0;      // 107
    std::uint16_t userMinorVersion = 0;      // 109
    std::uint8_t changed = 0;                // 111 in-memory "must be written" mark
    std::uint32_t lastBlobOwnerID = 0;       // 112
    std::uint32_t writerVersion = 0;         // 116
    std::uint32_t reserved1 = 0;             // 120
    std::uint16_t reserved2 = 0;             // 124
    std::uint8_t reserved3 = 0;              // 126

    // The locale of the table's text ordering: language in the low 16 bits,
    // sort in bits 16 and up.
    std::uint32_t Locale() const {
        return static_cast<std::uint32_t>(languageID) | (static_cast<std::uint32_t>(sortID) << 16);
    }

    static DataFileHeader Decode(const std::uint8_t* bytes);
    void Encode(std::uint8_t* bytes) const;

    bool operator==(const DataFileHeader&) const = default;
};

// Sets number, physical size, physical decimals and offset of each descriptor
// from its position, type and declared size, and returns the record size that
// follows (9 + the room of every field that takes room).
std::uint32_t LayOutFields(std::vector<FieldDescriptor>& fields);
// The record size the descriptors call for (from their physical sizes),
// without changing them.
std::uint32_t ComputeRecordSize(const std::vector<FieldDescriptor>& fields);
// Where the layout puts each field's null flag (auto-increment fields: 5).
std::vector<std::uint32_t> ExpectedFieldOffsets(const std::vector<FieldDescriptor>& fields);

// Parameters of a new data file.
struct DataFileParams {
    std::uint16_t languageID = 0;
    std::uint16_t sortID = 0;
    std::uint16_t blobBlockSize = 0;
    std::string description;
    std::string password;
    bool encrypted = false;
    std::uint16_t userMajorVersion = 0;
    std::uint16_t userMinorVersion = 0;
};

// The data file of one shared open table: header, field descriptors, the record
// cache, the free chain and the identifier counters. Every cursor of the table
// goes through it; the table serialises them.
class TDataFile : public TFileHandler {
public:
    explicit TDataFile(TTableOwner& owner);
    ~TDataFile() override;

    // Opens, reads and checks the header (12035, 8961), reads the descriptors
    // and sets up the cache. Any failure closes the file again.
    void OpenFile() override;
    // Frees descriptors and cached records, then closes. Writes nothing.
    void CloseFile() override;

    // Builds the header for the descriptors (copied as given; see LayOutFields)
    // and creates the file. Header and descriptors are marked changed; the
    // owning table writes them. Errors 9498, 9477, 10015, 9492.
    void CreateHeader(const DataFileParams& params, const std::vector<FieldDescriptor>& fields);

    void ReadHeader();
    // Reads the header; true (and the new header taken) when its change counter moved.
    bool HeaderChanged();
    // Writes when the changed mark is set or force is given; returns whether it wrote.
    bool WriteHeader(bool force = false);
    void MarkHeaderChanged();
    // Sets only the changed mark (the counter moves when the header is written).
    void SetHeaderChanged() { header_.changed = 1; }
    bool HeaderIsChanged() const { return header_.changed != 0; }
    void ReadFieldDescriptors();
    void WriteFieldDescriptors();
    bool DescriptorsChanged() const { return descriptorsChanged_; }

    // The open-time checks: 12035, 15878, 8961.
    void ValidateHeader();
    // Checks descriptors then header, logging each finding; mends them unless
    // verifyOnly. True when nothing was found.
    bool RepairHeader(TCursorContext& cursor, bool verifyOnly);
    // False when the header has no fields, or a descriptor lacks what its
    // field's layout follows from (an unknown type, a string, bytes or
    // variable-bytes field of size 0 that its physical size does not give
    // back): no
    // mend can tell where the fields lie, so the records must not be touched.
    bool HeaderMendable() const;
    // Whether the descriptors lay the fields out as the record size says:
    // known types, sizes that follow from them, each offset where the layout
    // puts it. Records are read by the descriptors only when they do.
    bool LayoutFits() const;

    // A pinned record, or nullptr when the cursor's change check found the table
    // changed and refreshed (the caller starts again). Errors 8962, 9479.
    TRecord* GetRecord(TCursorContext* cursor, std::uint32_t recordNumber, bool readAhead = false,
                       ReadDirection direction = ReadDirection::Forward);
    void ReleaseRecord(TRecord* record);
    // A pinned, blank, modified record: the head of the free chain or a new
    // record at the end. Its identifier is `recordID`, or NextRecordID() when none.
    TRecord* AllocateRecord(TCursorContext* cursor,
                            std::optional<std::uint32_t> recordID = std::nullopt);
    // Marks the record deleted and pushes it on the free chain.
    void FreeRecord(TRecord* record);
    // Writes modified, unpinned records in runs of consecutive numbers.
    bool FlushRecords();
    // Called by TRecord when one of this file's records becomes modified.
    void NoteModifiedRecord(std::uint32_t recordNumber) { modifiedNumbers_.push_back(recordNumber); }
    void TrimRecordCache();
    void ClearRecordCache();
    // Truncates after the descriptors and resets the counters.
    void EmptyFile();

    // Deleted records are reused unless the index file says otherwise (a table
    // whose primary index has no fields keeps insertion order).
    void SetReuseDeletedRecords(bool reuse) { reuseDeleted_ = reuse; }
    bool ReuseDeletedRecords() const { return reuseDeleted_; }

    std::uint32_t NextRecordID();
    void SetRecordIDCounter(std::uint32_t value);
    std::uint32_t NextBlobOwnerID();
    void ChangeTableInfo(const std::string& password, const std::string& description,
                         std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
                         std::uint32_t recordIDCounter);

    const DataFileHeader& Header() const { return header_; }
    std::string GetDescription() const;
    std::string GetPassword() const;
    bool IsEncrypted() const { return header_.encrypted != 0; }
    std::uint32_t RecordSize() const { return header_.recordSize; }
    std::uint16_t FieldCount() const { return header_.fieldCount; }
    std::uint32_t PhysicalRecordCount() const;
    std::uint32_t BlobBlockSize() const;
    const TableLocale& Locale() const { return *locale_; }

    // Descriptors by number from 1. GetFieldDescriptor raises 9985 when absent.
    FieldDescriptor GetFieldDescriptor(std::uint16_t number) const;
    const FieldDescriptor* FindFieldByNumber(std::uint16_t number) const;
    const FieldDescriptor* FindFieldByName(const std::string& name) const;
    // 0 when absent.
    std::uint16_t FieldIndexByName(const std::string& name) const;
    const std::vector<FieldDescriptor>& Fields() const { return fields_; }
    // Replaces number, name, subtype, description, required, minimum, maximum
    // and default only.
    void UpdateFieldDescriptor(std::uint16_t number, const FieldDescriptor& field);

    // Field values with the type rules: an auto-increment field is the record
    // identifier and never null; strings lose trailing blanks, take the field's
    // case and are null when empty; booleans store 0 or 1; read-only and
    // auto-increment fields are left unchanged by PutField.
    // GetField gives false for null and fills `value` with the stored bytes.
    bool GetField(const TRecord& record, std::uint16_t number, std::vector<std::uint8_t>& value) const;
    void PutField(TRecord& record, std::uint16_t number, const std::uint8_t* value, std::size_t length);
    void PutNull(TRecord& record, std::uint16_t number);

    // Inter-process locks: the table's transaction lock (retried) and one record's
    // lock (single attempt).
    [[nodiscard]] bool LockTableRegion();
    [[nodiscard]] bool UnlockTableRegion();
    [[nodiscard]] bool LockRecordRegion(std::uint32_t recordNumber);
    [[nodiscard]] bool UnlockRecordRegion(std::uint32_t recordNumber);

    // Cache figures, for the table and for tests.
    std::uint32_t CacheCapacity() const { return cacheCapacity_; }
    std::size_t CachedRecordCount() const { return cache_.size(); }
    std::uint32_t ReadAheadCount() const { return readAheadCount_; }

    TTableOwner& Owner() const { return owner_; }

private:
    std::uint64_t RecordOffset(std::uint32_t recordNumber) const;
    std::uint64_t DataStart() const;
    TRecord* FindCached(std::uint32_t recordNumber);
    TRecord* CachedAt(std::uint32_t recordNumber) const;
    void TouchRecord(TRecord* record);
    void LinkFront(TRecord* record);
    void Unlink(TRecord* record);
    // A TRecord for a new cache entry: a spare one, or the least recently used
    // clean unpinned one, flushing or growing the cache as the rule says.
    std::unique_ptr<TRecord> TakeRecordObject();
    TRecord* InsertCached(std::unique_ptr<TRecord> record);
    void DropCached(TRecord* record);
    TRecord* AppendRecordImage(std::uint32_t recordID, bool assignID);
    void ReadRecords(TCursorContext* cursor, std::uint32_t recordNumber, bool readAhead,
                     ReadDirection direction);
    void SetCacheCapacity();
    void CloseQuietly();
    std::string EncipherText(const std::string& text, std::size_t maxLength) const;
    std::string DecipherText(const std::string& stored) const;
    std::uint32_t NextCounterValue(std::uint32_t& counter);
    [[noreturn]] void Raise(std::uint16_t code) const;

    TTableOwner& owner_;
    DataFileHeader header_;
    std::vector<FieldDescriptor> fields_;  // fields_[n - 1] is field n
    bool descriptorsChanged_ = false;
    bool reuseDeleted_ = true;
    std::unique_ptr<TableLocale> locale_;

    // Record cache: cached records by record number, plus the
    // most-recently-used chain.
    std::unordered_map<std::uint32_t, std::unique_ptr<TRecord>> cache_;
    TRecord* mruFront_ = nullptr;
    TRecord* mruBack_ = nullptr;
    TRecordStack spare_;
    // The numbers of records that became modified since they were last
    // written: every modified cached record's number is here, and some numbers
    // may be of records since dropped, reset or written (FlushRecords sorts
    // them out).
    std::vector<std::uint32_t> modifiedNumbers_;
    std::uint32_t cacheCapacity_ = 0;
    std::uint32_t readAheadCount_ = 1;
    // The record range of a read-ahead in progress; FlushRecords leaves it alone.
    std::uint32_t readAheadFirst_ = 0;
    std::uint32_t readAheadLast_ = 0;
};

}  // namespace pixhold::engine
