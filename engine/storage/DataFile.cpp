#include "DataFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "ByteCodec.h"
#include "Cipher.h"
#include "EngineError.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

// The last-update stamp: local date and time as days with fraction since
// 30 December 1899, with the day offset subtracted.
double LastUpdateNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    const std::time_t localSeconds = timegm(&local);  // the local wall clock read as UTC
    constexpr double kUnixEpochDays = 25569.0;        // 1970-01-01 counted from 1899-12-30
    const double days = static_cast<double>(localSeconds) / 86400.0 + kUnixEpochDays +
                        static_cast<double>(ts.tv_nsec) / 86400e9;
    return days - datafile::kLastUpdateOffset;
}

bool SameNameNoCase(const std::string& a, const std::string& b) { return SameFolded(a, b); }

// Clears the read-ahead range when a read is over, also on an error.
class ReadAheadScope {
public:
    ReadAheadScope(std::uint32_t& first, std::uint32_t& last, std::uint32_t from, std::uint32_t to)
        : first_(first), last_(last) {
        first_ = from;
        last_ = to;
    }
    ~ReadAheadScope() { first_ = last_ = 0; }
    ReadAheadScope(const ReadAheadScope&) = delete;
    ReadAheadScope& operator=(const ReadAheadScope&) = delete;

private:
    std::uint32_t& first_;
    std::uint32_t& last_;
};

}  // namespace

TDataFile::TDataFile(TTableOwner& owner) : owner_(owner), locale_(std::make_unique<TableLocale>(0)) {}

TDataFile::~TDataFile() {
    try {
        if (IsOpen()) TDataFile::CloseFile();
    } catch (...) {
        // Nothing can be reported from a destructor.
    }
}

void TDataFile::Raise(std::uint16_t code) const { RaiseTableError(code, Name); }

// ---- open and close ---------------------------------------------------------

void TDataFile::OpenFile() {
    if (IsOpen()) return;
    TFileHandler::OpenFile();
    try {
        ReadHeader();
        if (header_.formatMark != datafile::kFormatMark) Raise(err::WrongVersion);
        if (header_.fieldCount > datafile::kMaxFields) Raise(err::HeaderCorrupt);
        ReadFieldDescriptors();
        ClearRecordCache();
        SetCacheCapacity();
        locale_ = std::make_unique<TableLocale>(header_.Locale());
    } catch (...) {
        CloseQuietly();
        throw;
    }
}

void TDataFile::CloseQuietly() {
    try {
        TDataFile::CloseFile();
    } catch (...) {
        // The first error is the one that matters.
    }
}

void TDataFile::CloseFile() {
    fields_.clear();
    descriptorsChanged_ = false;
    ClearRecordCache();
    spare_.Clear();
    TFileHandler::CloseFile();
}

void TDataFile::SetCacheCapacity() {
    const std::uint32_t recordSize = header_.recordSize;
    readAheadCount_ = recordSize == 0 ? 1 : std::max<std::uint32_t>(1, datafile::kReadAheadBytes / recordSize);
    const std::uint32_t byBytes = recordSize == 0 ? 1 : owner_.RecordCacheBytes() / recordSize;
    // At least one record, so that the record just read always has a place.
    cacheCapacity_ = std::max<std::uint32_t>(1, std::min(byBytes, owner_.RecordCacheMaxRecords()));
}

// ---- creation ---------------------------------------------------------------

std::string TDataFile::EncipherText(const std::string& text, std::size_t maxLength) const {
    std::string stored = text.substr(0, maxLength);
    ScrambleBuffer(stored.data(), stored.size(), kPasswordSeeds);
    return stored;
}

std::string TDataFile::DecipherText(const std::string& stored) const {
    std::string text = stored;
    ScrambleBuffer(text.data(), text.size(), kPasswordSeeds);
    return text;
}

void TDataFile::CreateHeader(const DataFileParams& params, const std::vector<FieldDescriptor>& fields) {
    if (fields.size() > datafile::kMaxFields) Raise(err::FieldLimits);
    if (params.encrypted) {
        const std::string trimmed = TrimBlanks(params.password);
        if (trimmed.empty() || trimmed.size() > datafile::kPasswordLength) Raise(err::InvalidPassword);
    }
    DataFileHeader h;
    h.languageID = params.languageID;
    h.sortID = params.sortID;
    h.userMajorVersion = params.userMajorVersion;
    h.userMinorVersion = params.userMinorVersion;
    h.encrypted = params.encrypted ? 1 : 0;
    if (params.encrypted) {
        h.password = EncipherText(params.password, datafile::kPasswordLength);
        h.description = EncipherText(params.description, datafile::kDescriptionLength);
    } else {
        h.description = params.description.substr(0, datafile::kDescriptionLength);
    }
    h.fieldCount = static_cast<std::uint16_t>(fields.size());
    const auto blobFields = std::count_if(fields.begin(), fields.end(),
                                          [](const FieldDescriptor& f) { return f.type == fieldtype::Blob; });
    if (blobFields > datafile::kMaxBlobFields) Raise(err::BlobFieldLimits);
    h.blobFieldCount = static_cast<std::uint16_t>(blobFields);
    h.blobBlockSize = params.blobBlockSize;
    h.formatMark = datafile::kFormatMark;
    h.firstFree = 0;
    h.nextRecordNumber = 1;
    h.lastRecordID = 0;
    const std::uint32_t recordSize = ComputeRecordSize(fields);
    if (recordSize > datafile::kMaxRecordSize) Raise(err::RecordTooBig);
    h.recordSize = static_cast<std::uint16_t>(recordSize);
    h.changeCounter = 0;
    h.changed = 1;

    ClearRecordCache();
    header_ = h;
    fields_ = fields;
    descriptorsChanged_ = true;
    locale_ = std::make_unique<TableLocale>(header_.Locale());
    SetCacheCapacity();
    CreateFile();
}

// ---- header and descriptors -------------------------------------------------

void TDataFile::ReadHeader() {
    std::uint8_t bytes[datafile::kHeaderSize];
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, 0);
        ReadBuffer(bytes, sizeof bytes);
    }
    header_ = DataFileHeader::Decode(bytes);
    header_.changed = 0;
}

bool TDataFile::HeaderChanged() {
    // The counter alone first: the whole header only when it moved.
    if (ReadChangeCounter(false) == header_.changeCounter) return false;
    std::uint8_t bytes[datafile::kHeaderSize];
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, 0);
        ReadBuffer(bytes, sizeof bytes);
    }
    DataFileHeader fresh = DataFileHeader::Decode(bytes);
    if (fresh.changeCounter == header_.changeCounter) return false;
    fresh.changed = 0;
    header_ = fresh;
    return true;
}

namespace {
std::int32_t NextChangeCount(std::int32_t counter) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1u);
}
}  // namespace

bool TDataFile::WriteHeader(bool force) {
    if (header_.changed == 0 && !force) return false;
    header_.changeCounter = NextChangeCount(header_.changeCounter);
    header_.writerVersion = datafile::kWriterVersion;
    header_.reserved1 = 0;
    header_.lastUpdate = LastUpdateNow();
    std::uint8_t bytes[datafile::kHeaderSize];
    header_.Encode(bytes);
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, 0);
        WriteBuffer(bytes, sizeof bytes);
    }
    owner_.MarkWrittenTo();
    header_.changed = 0;
    return true;
}

void TDataFile::MarkHeaderChanged() {
    header_.changeCounter = NextChangeCount(header_.changeCounter);
    header_.changed = 1;
    owner_.MarkWrittenTo();
}

void TDataFile::ReadFieldDescriptors() {
    const std::size_t count = header_.fieldCount;
    std::vector<std::uint8_t> buffer(count * datafile::kDescriptorSize);
    if (!buffer.empty()) {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(datafile::kHeaderSize));
        ReadBuffer(buffer.data(), buffer.size());
    }
    if (IsEncrypted()) ScrambleBuffer(buffer.data(), buffer.size(), kDataSeeds);
    fields_.clear();
    fields_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        fields_.push_back(FieldDescriptor::Decode(buffer.data() + i * datafile::kDescriptorSize));
    }
    descriptorsChanged_ = false;
}

void TDataFile::WriteFieldDescriptors() {
    if (!descriptorsChanged_) return;
    std::vector<std::uint8_t> buffer(fields_.size() * datafile::kDescriptorSize);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i].Encode(buffer.data() + i * datafile::kDescriptorSize);
    }
    if (IsEncrypted()) ScrambleBuffer(buffer.data(), buffer.size(), kDataSeeds);
    if (!buffer.empty()) {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(datafile::kHeaderSize));
        WriteBuffer(buffer.data(), buffer.size());
    }
    if (owner_.ForceBufferFlush()) FlushFile();
    descriptorsChanged_ = false;
}

// ---- counters and table information -----------------------------------------

std::uint32_t TDataFile::PhysicalRecordCount() const {
    return header_.nextRecordNumber == 0 ? 0 : header_.nextRecordNumber - 1;
}

std::uint32_t TDataFile::BlobBlockSize() const {
    return header_.blobBlockSize == 0 ? 512 : header_.blobBlockSize;
}

std::uint32_t TDataFile::NextCounterValue(std::uint32_t& counter) {
    counter = counter >= datafile::kMaxCounter ? 1 : counter + 1;
    SetHeaderChanged();
    return counter;
}

std::uint32_t TDataFile::NextRecordID() { return NextCounterValue(header_.lastRecordID); }

std::uint32_t TDataFile::NextBlobOwnerID() { return NextCounterValue(header_.lastBlobOwnerID); }

void TDataFile::SetRecordIDCounter(std::uint32_t value) {
    if (header_.lastRecordID == value) return;
    header_.lastRecordID = value;
    SetHeaderChanged();
}

void TDataFile::ChangeTableInfo(const std::string& password, const std::string& description,
                                std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
                                std::uint32_t recordIDCounter) {
    if (IsEncrypted()) {
        header_.password = EncipherText(password, datafile::kPasswordLength);
        header_.description = EncipherText(description, datafile::kDescriptionLength);
    } else {
        header_.password.clear();
        header_.description = description.substr(0, datafile::kDescriptionLength);
    }
    header_.userMajorVersion = userMajorVersion;
    header_.userMinorVersion = userMinorVersion;
    header_.lastRecordID = recordIDCounter;
    SetHeaderChanged();
}

std::string TDataFile::GetDescription() const {
    return IsEncrypted() ? DecipherText(header_.description) : header_.description;
}

std::string TDataFile::GetPassword() const {
    return IsEncrypted() ? DecipherText(header_.password) : std::string{};
}

// ---- descriptors ------------------------------------------------------------

const FieldDescriptor* TDataFile::FindFieldByNumber(std::uint16_t number) const {
    if (number == 0 || number > fields_.size()) return nullptr;
    return &fields_[number - 1u];
}

FieldDescriptor TDataFile::GetFieldDescriptor(std::uint16_t number) const {
    const FieldDescriptor* field = FindFieldByNumber(number);
    if (field == nullptr) Raise(err::InvalidField);
    return *field;
}

const FieldDescriptor* TDataFile::FindFieldByName(const std::string& name) const {
    const std::uint16_t index = FieldIndexByName(name);
    return index == 0 ? nullptr : &fields_[index - 1u];
}

std::uint16_t TDataFile::FieldIndexByName(const std::string& name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (SameNameNoCase(fields_[i].name, name)) return static_cast<std::uint16_t>(i + 1);
    }
    return 0;
}

void TDataFile::UpdateFieldDescriptor(std::uint16_t number, const FieldDescriptor& field) {
    if (number == 0 || number > fields_.size()) Raise(err::InvalidField);
    FieldDescriptor& target = fields_[number - 1u];
    target.number = field.number;
    target.name = field.name;
    target.subtype = field.subtype;
    target.description = field.description;
    target.required = field.required;
    target.minimum = field.minimum;
    target.maximum = field.maximum;
    target.defaultValue = field.defaultValue;
    descriptorsChanged_ = true;
}

// ---- field values -----------------------------------------------------------

bool TDataFile::GetField(const TRecord& record, std::uint16_t number, std::vector<std::uint8_t>& value) const {
    const FieldDescriptor field = GetFieldDescriptor(number);
    value.clear();
    if (field.IsAutoInc()) {
        value.resize(4);
        bytes::PutU32(value.data(), 0, record.RecordID());
        return true;
    }
    if (record.FieldIsNull(field)) return false;
    const auto data = record.FieldData(field);
    value.assign(data.begin(), data.end());
    return true;
}

void TDataFile::PutNull(TRecord& record, std::uint16_t number) {
    const FieldDescriptor field = GetFieldDescriptor(number);
    if (!field.TakesRoom()) return;
    record.SetFieldNull(field);
    record.SetModified();
}

void TDataFile::PutField(TRecord& record, std::uint16_t number, const std::uint8_t* value, std::size_t length) {
    const FieldDescriptor field = GetFieldDescriptor(number);
    if (!field.TakesRoom()) return;
    if (value == nullptr) {
        PutNull(record, number);
        return;
    }
    if (field.type == fieldtype::String) {
        const auto* chars = reinterpret_cast<const char*>(value);
        std::string text(chars, std::find(chars, chars + length, '\0'));
        text.erase(text.find_last_not_of(' ') + 1);  // npos + 1 == 0 clears all-blank text
        if (!text.empty() && field.characterCase != charcase::AsGiven) {
            if ((header_.languageID != 0) && !TableLocale::IsInstalled(header_.Locale())) {
                Raise(err::LanguageNotAvailable);
            }
            text = field.characterCase == charcase::Lower ? locale_->ToLower(text) : locale_->ToUpper(text);
        }
        if (text.empty()) {
            PutNull(record, number);
            return;
        }
        // Zero-terminated within the slot.
        text = CutUtf8(std::move(text), field.physicalSize > 0 ? field.physicalSize - 1u : 0u);
        record.SetFieldData(field, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    } else if (field.type == fieldtype::Boolean) {
        const bool set = std::any_of(value, value + length, [](std::uint8_t b) { return b != 0; });
        const std::uint8_t stored[2] = {static_cast<std::uint8_t>(set ? 1 : 0), 0};
        record.SetFieldData(field, stored);
    } else {
        record.SetFieldData(field, {value, length});
    }
    record.SetModified();
}

// ---- locks ------------------------------------------------------------------

bool TDataFile::LockTableRegion() { return LockTableByte(); }
bool TDataFile::UnlockTableRegion() { return UnlockTableByte(); }
bool TDataFile::LockRecordRegion(std::uint32_t recordNumber) { return LockRecordByte(recordNumber); }
bool TDataFile::UnlockRecordRegion(std::uint32_t recordNumber) { return UnlockRecordByte(recordNumber); }

// ---- record cache -----------------------------------------------------------

std::uint64_t TDataFile::DataStart() const {
    return datafile::kHeaderSize + static_cast<std::uint64_t>(header_.fieldCount) * datafile::kDescriptorSize;
}

std::uint64_t TDataFile::RecordOffset(std::uint32_t recordNumber) const {
    return DataStart() + static_cast<std::uint64_t>(recordNumber - 1u) * header_.recordSize;
}

TRecord* TDataFile::CachedAt(std::uint32_t recordNumber) const {
    const auto it = cache_.find(recordNumber);
    return it == cache_.end() ? nullptr : it->second.get();
}

TRecord* TDataFile::FindCached(std::uint32_t recordNumber) {
    // The four most recently used records first.
    int tried = 0;
    for (TRecord* r = mruFront_; r != nullptr && tried < 4; r = r->older_, ++tried) {
        if (r->RecordNumber() == recordNumber) return r;
    }
    return CachedAt(recordNumber);
}

void TDataFile::Unlink(TRecord* record) {
    if (record->newer_ != nullptr) record->newer_->older_ = record->older_;
    else if (mruFront_ == record) mruFront_ = record->older_;
    if (record->older_ != nullptr) record->older_->newer_ = record->newer_;
    else if (mruBack_ == record) mruBack_ = record->newer_;
    record->newer_ = record->older_ = nullptr;
}

void TDataFile::LinkFront(TRecord* record) {
    record->newer_ = nullptr;
    record->older_ = mruFront_;
    if (mruFront_ != nullptr) mruFront_->newer_ = record;
    mruFront_ = record;
    if (mruBack_ == nullptr) mruBack_ = record;
}

void TDataFile::TouchRecord(TRecord* record) {
    if (mruFront_ == record) return;
    Unlink(record);
    LinkFront(record);
}

TRecord* TDataFile::InsertCached(std::unique_ptr<TRecord> record) {
    TRecord* raw = record.get();
    cache_[raw->RecordNumber()] = std::move(record);
    LinkFront(raw);
    return raw;
}

void TDataFile::DropCached(TRecord* record) {
    const auto it = cache_.find(record->RecordNumber());
    if (it == cache_.end() || it->second.get() != record) return;
    Unlink(record);
    std::unique_ptr<TRecord> owned = std::move(it->second);
    cache_.erase(it);
    spare_.Push(std::move(owned));
}

std::unique_ptr<TRecord> TDataFile::TakeRecordObject() {
    if (cache_.size() < cacheCapacity_) return spare_.Pop(this);
    auto takeLeastRecent = [this]() -> std::unique_ptr<TRecord> {
        for (TRecord* r = mruBack_; r != nullptr; r = r->newer_) {
            if (r->Modified() || r->Pinned()) continue;
            const auto it = cache_.find(r->RecordNumber());
            Unlink(r);
            std::unique_ptr<TRecord> owned = std::move(it->second);
            cache_.erase(it);
            owned->pins_ = 0;
            return owned;
        }
        return nullptr;
    };
    if (auto reused = takeLeastRecent()) return reused;
    if (!owner_.TransactionLockHeld()) {
        FlushRecords();
        if (auto reused = takeLeastRecent()) return reused;
    }
    // During a transaction modified records stay in memory until the commit.
    cacheCapacity_ += 64;
    return spare_.Pop(this);
}

void TDataFile::TrimRecordCache() {
    const std::uint32_t saved = cacheCapacity_;
    SetCacheCapacity();
    const std::uint32_t target = cacheCapacity_;
    cacheCapacity_ = saved;
    for (TRecord* r = mruBack_; r != nullptr && cache_.size() > target;) {
        TRecord* newer = r->newer_;
        if (!r->Modified() && !r->Pinned()) DropCached(r);
        r = newer;
    }
    cacheCapacity_ = target;
}

void TDataFile::ClearRecordCache() {
    for (auto& [number, record] : cache_) {
        record->newer_ = record->older_ = nullptr;
        spare_.Push(std::move(record));
    }
    cache_.clear();
    modifiedNumbers_.clear();
    mruFront_ = mruBack_ = nullptr;
    if (IsOpen() || header_.recordSize != 0) SetCacheCapacity();
}

// ---- getting records --------------------------------------------------------

TRecord* TDataFile::AppendRecordImage(std::uint32_t recordID, bool assignID) {
    const std::uint32_t number = header_.nextRecordNumber;
    const std::uint64_t end = DataStart() + static_cast<std::uint64_t>(number) * header_.recordSize;
    if (number == 0 || number > datafile::kMaxRecords || end > datafile::kMaxFileSize) Raise(err::TableFull);
    std::unique_ptr<TRecord> record = TakeRecordObject();
    record->Reset(header_.recordSize, number);
    record->SetLink(number);
    record->SetRecordID(assignID ? recordID : NextRecordID());
    record->SetModified();
    record->pins_ = 1;
    TRecord* raw = InsertCached(std::move(record));
    header_.nextRecordNumber = number + 1;
    SetHeaderChanged();
    return raw;
}

TRecord* TDataFile::GetRecord(TCursorContext* cursor, std::uint32_t recordNumber, bool readAhead,
                              ReadDirection direction) {
    if (recordNumber == 0) Raise(err::RecordBuffersCorrupt);
    if (recordNumber == header_.nextRecordNumber) return AppendRecordImage(0, false);
    if (TRecord* hit = FindCached(recordNumber)) {
        TouchRecord(hit);
        ++hit->pins_;
        return hit;
    }
    if (cursor != nullptr && !owner_.StrictChangeDetection() && cursor->CheckForChanges()) return nullptr;
    ReadRecords(cursor, recordNumber, readAhead, direction);
    TRecord* record = FindCached(recordNumber);
    if (record == nullptr) Raise(err::RecordBuffersCorrupt);
    TouchRecord(record);
    ++record->pins_;
    return record;
}

void TDataFile::ReadRecords(TCursorContext* cursor, std::uint32_t recordNumber, bool readAhead,
                            ReadDirection direction) {
    const std::uint32_t recordSize = header_.recordSize;
    if (recordSize == 0) Raise(err::RecordBuffersCorrupt);
    std::uint32_t count = 1;
    if (readAhead) {
        count = readAheadCount_;
        const std::uint32_t suggested = cursor != nullptr ? cursor->SuggestedReadAhead(direction) : 0;
        if (suggested > 0) {
            count = std::min(count, suggested);
        } else if (direction == ReadDirection::Forward) {
            if (recordNumber < header_.nextRecordNumber) count = std::min(count, header_.nextRecordNumber - recordNumber);
        } else {
            count = std::min(count, recordNumber);
        }
        count = std::max<std::uint32_t>(count, 1);
    }
    if (direction == ReadDirection::Backward) count = std::min(count, recordNumber);
    const std::uint32_t first = direction == ReadDirection::Forward ? recordNumber : recordNumber - count + 1;

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count) * recordSize);
    std::size_t got = 0;
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(RecordOffset(first)));
        got = ReadBuffer(buffer.data(), buffer.size(), true);
    }
    const std::uint32_t whole = static_cast<std::uint32_t>(got / recordSize);
    if (got < buffer.size()) {
        // Appended records may exist only in the cache while the file is ours
        // alone; and records past the end that are all cached are such appends.
        bool acceptShort = (Exclusive || owner_.TransactionLockHeld()) && owner_.WrittenTo();
        for (std::uint32_t n = first + whole; !acceptShort && n < first + count; ++n) {
            if (CachedAt(n) == nullptr) break;
            if (n == first + count - 1) acceptShort = true;
        }
        if (!acceptShort) Raise(err::ReadError);
    }
    if (whole == 0) return;
    ReadAheadScope scope(readAheadFirst_, readAheadLast_, first, first + whole - 1);

    auto take = [&](std::uint32_t i) {
        const std::uint32_t number = first + i;
        const std::uint8_t* source = buffer.data() + static_cast<std::size_t>(i) * recordSize;
        TRecord* cached = CachedAt(number);
        if (cached != nullptr) {
            if (cached->Modified() || cached->Pinned()) return;
            std::memcpy(cached->Data(), source, recordSize);
            if (IsEncrypted()) ScrambleBuffer(cached->Data(), recordSize, kDataSeeds);
            return;
        }
        std::unique_ptr<TRecord> record = TakeRecordObject();
        record->Reset(recordSize, number);
        std::memcpy(record->Data(), source, recordSize);
        if (IsEncrypted()) ScrambleBuffer(record->Data(), recordSize, kDataSeeds);
        InsertCached(std::move(record));
    };
    // The record asked for comes last, so that making room for its neighbours
    // can never push it out again.
    const std::uint32_t wanted = recordNumber - first;
    for (std::uint32_t i = 0; i < whole; ++i) {
        if (i != wanted) take(i);
    }
    if (wanted < whole) take(wanted);
}

void TDataFile::ReleaseRecord(TRecord* record) {
    if (record != nullptr && record->pins_ > 0) --record->pins_;
}

TRecord* TDataFile::AllocateRecord(TCursorContext* cursor, std::optional<std::uint32_t> recordID) {
    for (;;) {
        // A head at or past the end can only come from a damaged header: append instead.
        if (header_.firstFree >= header_.nextRecordNumber) header_.firstFree = 0;
        if (!reuseDeleted_ || header_.firstFree == 0) {
            return AppendRecordImage(recordID.value_or(0), recordID.has_value());
        }
        TRecord* record = GetRecord(cursor, header_.firstFree);
        // Another user changed the table and the header was read again: look again.
        if (record == nullptr) continue;
        const std::uint32_t taken = record->RecordNumber();
        if (!record->IsDeleted()) {
            // The chain runs into a record in use (a failed write left the
            // header behind its records): cut it and append rather than
            // overwrite that record. The deleted records behind the cut
            // stay unused until a repair or an optimise.
            ReleaseRecord(record);
            header_.firstFree = 0;
            SetHeaderChanged();
            continue;
        }
        std::uint32_t next = record->Link();
        // A damaged chain must not loop or point past the records.
        if (next == taken || next > PhysicalRecordCount()) next = 0;
        header_.firstFree = next;
        SetHeaderChanged();
        record->Reset(header_.recordSize, taken);
        record->SetLink(taken);
        record->SetRecordID(recordID ? *recordID : NextRecordID());
        record->SetModified();
        return record;
    }
}

void TDataFile::FreeRecord(TRecord* record) {
    // Freeing a record twice would make it its own successor in the chain.
    if (record->IsDeleted()) return;
    record->SetStatus(recordlayout::StatusDeleted);
    record->SetLink(reuseDeleted_ ? header_.firstFree : 0);
    header_.firstFree = record->RecordNumber();
    record->SetModified();
    SetHeaderChanged();
}

bool TDataFile::FlushRecords() {
    if (modifiedNumbers_.empty()) return false;
    const std::uint32_t recordSize = header_.recordSize;
    bool wrote = false;
    auto eligible = [this](const TRecord& r) {
        const bool inReadAhead = readAheadFirst_ != 0 && r.RecordNumber() >= readAheadFirst_ &&
                                 r.RecordNumber() <= readAheadLast_;
        return !r.Pinned() && !inReadAhead;
    };
    // The modified records still cached, in record number order.
    std::sort(modifiedNumbers_.begin(), modifiedNumbers_.end());
    modifiedNumbers_.erase(std::unique(modifiedNumbers_.begin(), modifiedNumbers_.end()), modifiedNumbers_.end());
    std::vector<TRecord*> records;
    records.reserve(modifiedNumbers_.size());
    std::size_t kept = 0;
    for (const std::uint32_t number : modifiedNumbers_) {
        const auto it = cache_.find(number);
        if (it == cache_.end() || !it->second->Modified()) continue;
        modifiedNumbers_[kept++] = number;
        records.push_back(it->second.get());
    }
    modifiedNumbers_.resize(kept);
    std::vector<std::uint8_t> buffer;
    // Runs of consecutive modified records go out in one write each; records
    // left modified (pinned, or in a read-ahead) keep their numbers listed.
    kept = 0;
    for (std::size_t i = 0; i < records.size();) {
        if (!eligible(*records[i])) {
            modifiedNumbers_[kept++] = records[i]->RecordNumber();
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < records.size() && records[end]->RecordNumber() == records[end - 1]->RecordNumber() + 1 &&
               eligible(*records[end]))
            ++end;
        const std::size_t count = end - i;
        buffer.resize(count * recordSize);
        std::uint8_t* target = buffer.data();
        for (std::size_t k = i; k != end; ++k, target += recordSize) {
            std::memcpy(target, records[k]->Data(), recordSize);
            if (IsEncrypted()) ScrambleBuffer(target, recordSize, kDataSeeds);
        }
        {
            FileAccessGuard guard(*this);
            SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(RecordOffset(records[i]->RecordNumber())));
            WriteBuffer(buffer.data(), buffer.size());
        }
        for (std::size_t k = i; k != end; ++k) records[k]->SetModified(false);
        wrote = true;
        i = end;
    }
    modifiedNumbers_.resize(kept);
    if (wrote) owner_.MarkWrittenTo();
    return wrote;
}

void TDataFile::EmptyFile() {
    ClearRecordCache();
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(DataStart()));
        WriteBuffer(nullptr, 0);
    }
    header_.nextRecordNumber = 1;
    header_.firstFree = 0;
    header_.lastRecordID = 0;
    // The change counter keeps moving: other users must see that the table was emptied.
    SetHeaderChanged();
    if (owner_.ForceBufferFlush()) FlushFile();
}

}  // namespace pixhold::engine
