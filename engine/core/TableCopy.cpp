#include "TableCopy.h"

#include <cstring>

#include "DataTable.h"
#include "EngineError.h"
#include "Record.h"
#include "TableDefinitionCheck.h"
#include "TableKeys.h"

namespace pixhold::engine {

namespace {

// Pages, records and blocks are written out every so many records, so that
// the caches do not grow with the table.
constexpr std::uint32_t kFlushInterval = 1024;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

IndexDescriptor Definition(const IndexDescriptor& slot) {
    IndexDescriptor d = slot;
    d.rootPage = 0;
    d.firstFreePage = 0;
    d.dataRootPage = 0;
    d.removeMark = 0;
    return d;
}

}  // namespace

TableDefinition DefinitionOf(TDataTable& table) {
    TableDefinition d;
    const TDataFile& data = table.DataFile();
    const DataFileHeader& h = data.Header();
    d.params.languageID = h.languageID;
    d.params.sortID = h.sortID;
    d.params.userMajorVersion = h.userMajorVersion;
    d.params.userMinorVersion = h.userMinorVersion;
    d.params.description = data.GetDescription();
    d.params.encrypted = data.IsEncrypted();
    d.params.password = data.GetPassword();
    d.params.blobBlockSize = static_cast<std::uint16_t>(h.blobBlockSize);
    d.fields = data.Fields();
    TIndexFile& index = table.IndexFile();
    d.indexes.push_back(index.NoPrimaryFields() ? IndexDescriptor{} : Definition(index.GetIndexDescriptor(kPrimarySlot)));
    for (int slot = 1; slot <= index.SecondaryCount(); ++slot) {
        if (index.IsTemporarySlot(slot)) continue;
        d.indexes.push_back(Definition(index.GetIndexDescriptor(slot)));
    }
    const IndexDescriptor& text = index.GetIndexDescriptor(kTextSlot);
    if (text.fieldCount != 0 && !text.temporary) d.textIndex = Definition(text);
    std::optional<TextIndexParameters> parameters = index.ReadTextIndexParameters(nullptr);
    d.textIndexParameters = parameters ? *parameters : DefaultTextIndexParameters();
    return d;
}

BlobReference BlobReferenceOf(const std::uint8_t* image, const FieldDescriptor& field) {
    BlobReference r;
    if (image[field.offset] == 0) return r;
    r.first = Le32(image + field.offset + 1);
    r.owner = Le32(image + field.offset + 5);
    return r;
}

std::vector<std::uint8_t> ReadBlobValue(TDataTable& table, const std::uint8_t* image, const FieldDescriptor& field) {
    std::vector<std::uint8_t> value;
    const BlobReference r = BlobReferenceOf(image, field);
    if (r.first == 0 || !table.BlobFileOpen()) return value;
    // Without a cursor there is no change check, so a read that reports one
    // means damaged buffers.
    if (!table.BlobFile().ReadValue(nullptr, r.first, r.owner, value)) RaiseEngineError(err::BlobBuffersCorrupt);
    return value;
}

TRecordAppender::TRecordAppender(TDataTable& table) : table_(table), keys_(std::make_unique<TTableKeys>(table)) {}

TRecordAppender::~TRecordAppender() = default;

std::vector<std::uint8_t> TRecordAppender::BlankImage() const {
    return std::vector<std::uint8_t>(table_.RecordSize(), 0);
}

void TRecordAppender::PutBlob(std::vector<std::uint8_t>& image, const FieldDescriptor& field,
                              const std::vector<std::uint8_t>& value) {
    std::uint8_t* slot = image.data() + field.offset;
    std::memset(slot, 0, 9);
    if (value.empty()) return;
    std::uint32_t first = 0;
    const std::uint32_t owner = table_.DataFile().NextBlobOwnerID();
    table_.BlobFile().WriteValue(nullptr, first, owner, value.data(), value.size());
    slot[0] = 1;
    PutLe32(slot + 1, first);
    PutLe32(slot + 5, owner);
}

void TRecordAppender::DropBlob(const std::vector<std::uint8_t>& image, const FieldDescriptor& field) {
    BlobReference r = BlobReferenceOf(image.data(), field);
    if (r.first != 0) table_.BlobFile().FreeBlobChain(nullptr, r.first, true, r.owner);
}

int TRecordAppender::DuplicateSlot(const std::vector<std::uint8_t>& image) {
    const TTableKeys::Index* index = keys_->FindDuplicate(image.data(), 0);
    return index == nullptr ? -1 : index->slot;
}

std::uint32_t TRecordAppender::Append(const std::vector<std::uint8_t>& image, std::uint32_t recordID) {
    TDataFile& data = table_.DataFile();
    TRecord* record = data.AllocateRecord(nullptr, recordID);
    std::uint32_t number = 0;
    try {
        std::memcpy(record->Data() + recordlayout::HeaderSize, image.data() + recordlayout::HeaderSize,
                    std::min<std::size_t>(image.size(), record->Size()) - recordlayout::HeaderSize);
        record->SetModified();
        number = record->RecordNumber();
        keys_->InsertActive(record->Data(), number);
    } catch (...) {
        data.ReleaseRecord(record);
        throw;
    }
    data.ReleaseRecord(record);
    table_.IndexFile().IncActiveRecords();
    if (recordID > data.Header().lastRecordID) data.SetRecordIDCounter(recordID);
    if (++appended_ % kFlushInterval == 0) table_.WriteBuffers(false, false, false, false, false);
    return number;
}

}  // namespace pixhold::engine
