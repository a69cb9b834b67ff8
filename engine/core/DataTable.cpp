#include "DataTable.h"

#include <atomic>
#include <exception>

#include "BTree.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "EngineError.h"
#include "FirstFailure.h"
#include "FileList.h"
#include "IndexKey.h"
#include "TableFileNames.h"

namespace pixhold::engine {

namespace {
// Numbers the openings of tables in this process (see TContentStamp).
std::uint64_t NextOpening() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}
}  // namespace

TDataTable::TDataTable(TDataDirectory& directory, std::string name)
    : directory_(directory),
      name_(std::move(name)),
      dataFile_(std::make_unique<TDataFile>(*this)),
      indexFile_(std::make_unique<TIndexFile>(*this)),
      blobFile_(std::make_unique<TBlobFile>(*this)) {}

TDataTable::~TDataTable() {
    if (!open_) return;
    try {
        if (inTransaction_) RollbackTableTransaction();
    } catch (...) {
        // Going away regardless; the files are closed below.
    }
    inTransaction_ = false;
    useCount_ = 1;
    try {
        CloseTableFiles(false);
    } catch (...) {
        // A destructor cannot report.
    }
}

TDataSession& TDataTable::Session() const { return directory_.Session(); }

std::string TDataTable::FileName(const char* extension) const {
    return TableFileName(directory_.Path(), name_, extension);
}

void TDataTable::Raise(std::uint16_t code) const {
    RaiseEngineError(code, ErrorContext{.database = directory_.Path(), .table = name_});
}

// ---- TTableOwner ------------------------------------------------------------------

bool TDataTable::StrictChangeDetection() const { return Session().StrictChangeDetection(); }
bool TDataTable::ForceBufferFlush() const { return Session().ForceBufferFlush(); }
std::uint32_t TDataTable::RecordCacheBytes() const { return Session().BufferLimits().dataBufferBytes; }
std::uint32_t TDataTable::RecordCacheMaxRecords() const { return Session().BufferLimits().dataBufferRecords; }
std::uint32_t TDataTable::BlobCacheBytes() const { return Session().BufferLimits().blobBufferBytes; }
std::uint32_t TDataTable::BlobCacheMaxBlocks() const { return Session().BufferLimits().blobBufferBlocks; }
std::uint32_t TDataTable::IndexCacheBytes() const { return Session().BufferLimits().indexBufferBytes; }
std::string TDataTable::PrivateDirectory() const { return Session().GetPrivateDir(); }

// ---- files ------------------------------------------------------------------------

void TDataTable::SetFileNames() {
    dataFile_->Name = FileName(tableext::Data);
    indexFile_->Name = FileName(tableext::Index);
    blobFile_->Name = FileName(tableext::Blob);
}

void TDataTable::PrepareFiles() {
    for (TFileHandler* file : {static_cast<TFileHandler*>(dataFile_.get()), static_cast<TFileHandler*>(indexFile_.get()),
                               static_cast<TFileHandler*>(blobFile_.get())}) {
        file->InMemory = inMemory_;
        file->Exclusive = exclusive_;
        file->Temporary = temporary_;
    }
}

void TDataTable::OpenBlobFile() {
    if (!HasBlobFields() || blobFile_->IsOpen()) return;
    // Tables are made with blocks of 64 to 65535 bytes: any other size is a
    // damaged header, by which no block can be read.
    const std::uint32_t blockSize = dataFile_->BlobBlockSize();
    if (blockSize < blobfile::kMinBlockSize || blockSize > blobfile::kMaxBlockSize)
        RaiseTableError(err::HeaderCorrupt, dataFile_->Name);
    blobFile_->SetBlockSize(blockSize);
    blobFile_->SetEncrypted(dataFile_->IsEncrypted());
    blobFile_->OpenFile();
}

void TDataTable::CloseFiles() {
    TFirstFailure steps;
    steps.Run([this] { if (indexFile_->IsOpen()) indexFile_->CloseFile(); });
    steps.Run([this] { if (blobFile_->IsOpen()) blobFile_->CloseFile(); });
    steps.Run([this] { if (dataFile_->IsOpen()) dataFile_->CloseFile(); });
    steps.Rethrow();
}

void TDataTable::CreateTableFiles(const TableDefinition& definition) {
    ++useCount_;
    open_ = true;
    opening_ = NextOpening();
    readOnly_ = false;
    readOnlyAttribute_ = false;
    indexRebuildNeeded_ = false;
    SetFileNames();
    PrepareFiles();
    bool dataMade = false;
    bool indexMade = false;
    bool blobMade = false;
    try {
        std::vector<FieldDescriptor> fields = definition.fields;
        LayOutFields(fields);
        const TableParams& p = definition.params;
        DataFileParams params;
        params.languageID = p.languageID;
        params.sortID = p.sortID;
        params.blobBlockSize = p.blobBlockSize;
        params.description = p.description;
        params.password = p.password;
        params.encrypted = p.encrypted;
        params.userMajorVersion = p.userMajorVersion;
        params.userMinorVersion = p.userMinorVersion;
        dataFile_->CreateHeader(params, fields);
        dataMade = true;

        indexFile_->Encrypted = dataFile_->IsEncrypted();
        indexFile_->CreateFile();
        indexMade = true;
        const std::vector<FieldDescriptor>& laidOut = dataFile_->Fields();
        indexFile_->SetPrimaryIndex(definition.indexes.empty() ? IndexDescriptor{} : definition.indexes.front(),
                                    laidOut);
        for (std::size_t i = 1; i < definition.indexes.size(); ++i)
            indexFile_->AddSecondaryIndex(definition.indexes[i], laidOut);
        if (definition.textIndex) indexFile_->SetTextIndex(*definition.textIndex, laidOut);

        if (HasBlobFields()) {
            blobFile_->SetBlockSize(dataFile_->BlobBlockSize());
            blobFile_->SetEncrypted(dataFile_->IsEncrypted());
            blobFile_->CreateFile();
            blobMade = true;
        }
        if (definition.textIndexParameters)
            indexFile_->WriteTextIndexParameters(nullptr, *definition.textIndexParameters);
        dataFile_->SetReuseDeletedRecords(!indexFile_->NoPrimaryFields());
        // A new table is complete on disk at once, not only at its close.
        WriteBuffers(false, true, false, true, true);
    } catch (...) {
        // Leave no half-made table behind: a data file without its index file
        // would open as a table whose index must be rebuilt.
        TFirstFailure cleanup;
        cleanup.Run([this] { CloseFiles(); });
        if (blobMade) cleanup.Run([this] { blobFile_->DeleteFile(); });
        if (indexMade) cleanup.Run([this] { indexFile_->DeleteFile(); });
        if (dataMade) cleanup.Run([this] { dataFile_->DeleteFile(); });
        --useCount_;
        open_ = false;
        changedSinceOpen_ = false;
        throw;
    }
}

void TDataTable::OpenIndexFile() {
    indexFile_->Encrypted = dataFile_->IsEncrypted();
    try {
        indexFile_->OpenFile();
        return;
    } catch (const ECofferEngineError& e) {
        if (e.ErrorCode() != err::TableNotFound) throw;
    }
    // The index file is lost: make an empty one. Its index definitions lived
    // only in the lost file, so the table is left without a primary index
    // (physical order) until it is restructured; the first cursor puts the
    // records back into "Sys Deleted" (RebuildDeletedIndex).
    indexRebuildNeeded_ = true;
    indexFile_->CreateFile();
    try {
        indexFile_->SetNoPrimaryFields(true);
        indexFile_->WriteHeader(true);
    } catch (...) {
        indexFile_->CloseFile();
        throw;
    }
    indexFile_->CloseFile();
    indexFile_->OpenFile();
}

void TDataTable::OpenTableFiles() {
    ++useCount_;
    if (open_) return;
    indexRebuildNeeded_ = false;
    open_ = true;
    opening_ = NextOpening();
    SetFileNames();
    PrepareFiles();
    try {
        dataFile_->OpenFile();
        OpenIndexFile();
        OpenBlobFile();
    } catch (...) {
        TFirstFailure cleanup;
        cleanup.Run([this] { CloseFiles(); });
        --useCount_;
        open_ = false;
        indexRebuildNeeded_ = false;
        changedSinceOpen_ = false;
        throw;
    }
    readOnlyAttribute_ = dataFile_->ReadOnlyAttribute() || indexFile_->ReadOnlyAttribute() ||
                         (blobFile_->IsOpen() && blobFile_->ReadOnlyAttribute());
    readOnly_ = readOnlyAttribute_ || dataFile_->ReadOnly() || indexFile_->ReadOnly() ||
                (blobFile_->IsOpen() && blobFile_->ReadOnly());
    dataFile_->SetReuseDeletedRecords(!indexFile_->NoPrimaryFields());
    readLock_ = ReadLock{};
    queryReadLock_ = ReadLock{};
}

void TDataTable::CloseTableFiles(bool discardIfTemporary) {
    if (!open_) return;
    if (useCount_ > 0) --useCount_;
    if (inTransaction_ || useCount_ > 0) return;
    TFirstFailure steps;
    if (exclusive_ && !readOnly_) {
        steps.Run([&] {
            if (discardIfTemporary && temporary_) DiscardBuffers(true, false);
            else WriteBuffers(true, false, false, false, false);
        });
    }
    steps.Run([this] { ReleaseAllLocks(); });
    steps.Run([this] { CloseFiles(); });
    indexRebuildNeeded_ = false;
    changedSinceOpen_ = false;
    open_ = false;
    steps.Rethrow();
}

void TDataTable::DeleteTableFiles() {
    SetFileNames();
    PrepareFiles();
    // The data file first: while another user has the table open it is refused
    // (11013) before anything is gone.
    dataFile_->DeleteFile();
    if (indexFile_->FileExists()) indexFile_->DeleteFile();
    if (blobFile_->FileExists()) blobFile_->DeleteFile();
}

void TDataTable::RenameTableFiles(const std::string& newName, bool toBackup) {
    SetFileNames();
    PrepareFiles();
    const std::string folder = HasFolder(newName) ? std::string{} : directory_.Path();
    struct Step {
        TFileHandler* file;
        const char* extension;
        const char* backupExtension;
        bool optional;
    };
    const Step steps[] = {{dataFile_.get(), tableext::Data, tableext::DataBackup, false},
                          {indexFile_.get(), tableext::Index, tableext::IndexBackup, true},
                          {blobFile_.get(), tableext::Blob, tableext::BlobBackup, true}};
    std::vector<std::pair<TFileHandler*, std::string>> renamed;
    try {
        for (const Step& step : steps) {
            if (step.optional && !step.file->FileExists()) continue;
            const std::string oldName = step.file->Name;
            step.file->RenameFile(TableFileName(folder, newName, toBackup ? step.backupExtension : step.extension));
            renamed.emplace_back(step.file, oldName);
        }
    } catch (...) {
        // Put back what was renamed, so that the table stays whole under one name.
        for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
            try {
                it->first->RenameFile(it->second);
            } catch (...) {
                // The first failure is the one reported.
            }
        }
        throw;
    }
    if (!toBackup) name_ = newName;
}

void TDataTable::BackupIndexFile() {
    if (!readOnly_ && !inTransaction_) {
        indexFile_->FlushPages(false);
        indexFile_->WriteHeader();
    }
    indexFile_->CopyToFile(FileName(tableext::IndexBackup));
}

void TDataTable::RestoreIndexFile(bool restore, bool deleteBackup) {
    const std::string backup = FileName(tableext::IndexBackup);
    if (restore) {
        indexFile_->DropTemporaryIndexes();
        indexFile_->ClearPages(false);
        indexFile_->CopyFromFile(backup);
        indexFile_->ReadHeader();
        dataFile_->SetReuseDeletedRecords(!indexFile_->NoPrimaryFields());
        ++discards_;
    }
    if (deleteBackup) {
        const int rc = FileList().DeleteFile(backup, inMemory_);
        if (rc < 0)
            RaiseEngineError(static_cast<std::uint16_t>(-rc),
                             ErrorContext{.database = directory_.Path(), .table = backup});
    }
}

void TDataTable::ValidateHeaders() {
    dataFile_->ValidateHeader();
    indexFile_->ValidateHeader(dataFile_->Fields());
    if (BlobFileOpen()) blobFile_->ValidateHeader();
}

void TDataTable::RebuildDeletedIndex() {
    if (!open_) return;
    const bool hadWriteLock = writeLockHeld_;
    BeginWrite();
    const bool tookWriteLock = !hadWriteLock && writeLockHeld_;
    try {
        if (indexFile_->GetRootPage(kDeletedSlot) == 0) {
            const TKeyLayout layout =
                TKeyLayout::For(indexFile_->GetIndexDescriptor(kDeletedSlot), kDeletedSlot, dataFile_->Fields());
            const TKeyComparer comparer(layout, dataFile_->Header().Locale());
            TIndexTree tree(*indexFile_, kDeletedSlot, comparer);
            std::uint8_t key[kDeletedKeyLength];
            std::int32_t active = 0;
            const std::uint32_t count = dataFile_->PhysicalRecordCount();
            for (std::uint32_t n = 1; n <= count; ++n) {
                TRecord* record = dataFile_->GetRecord(nullptr, n, true);
                const std::uint8_t status = record->Status();
                const std::uint32_t id = record->RecordID();
                dataFile_->ReleaseRecord(record);
                TKeyBuilder::BuildDeletedKey(status, id, key);
                tree.InsertKey(key, n);
                if (status != recordlayout::StatusDeleted) ++active;
            }
            indexFile_->SetActiveRecords(active);
            indexFile_->SetHeaderChanged();
            if (inTransaction_) RaiseChangeCounters(false, false, true);
            else WriteBuffers(false, false, false, false, true);
        }
    } catch (...) {
        if (tookWriteLock) {
            try {
                EndWrite();
            } catch (...) {
                // The rebuild's own failure is the one reported.
            }
        }
        throw;
    }
    indexRebuildNeeded_ = false;
    if (tookWriteLock) EndWrite();
}

TChangeCounters TDataTable::ChangeCounters() const {
    TChangeCounters c;
    c.data = dataFile_->Header().changeCounter;
    c.index = indexFile_->Header().changeCounter;
    c.blob = blobFile_->Header().changeCounter;
    c.discards = discards_;
    return c;
}

TContentStamp TDataTable::ContentStamp() {
    TContentStamp stamp;
    stamp.held = ChangeCounters();
    stamp.opening = opening_;
    if (open_ && !exclusive_ && !inMemory_) {
        stamp.dataOnDisk = dataFile_->ReadChangeCounter(false);
        stamp.indexOnDisk = indexFile_->ReadChangeCounter(indexFile_->Encrypted);
    }
    return stamp;
}

void TDataTable::WriteRecordBuffers(bool forceHeader) {
    if (!open_ || readOnly_) return;
    if (inTransaction_) {
        RaiseChangeCounters(forceHeader, false, false);
        return;
    }
    bool wrote = dataFile_->FlushRecords();
    if (dataFile_->DescriptorsChanged()) {
        dataFile_->WriteFieldDescriptors();
        wrote = true;
    }
    wrote = dataFile_->WriteHeader(forceHeader) || wrote;
    if (wrote && ForceBufferFlush()) dataFile_->FlushFile();
}

void TDataTable::WriteBlobBuffers(bool forceHeader) {
    if (!open_ || readOnly_ || !BlobFileOpen()) return;
    if (inTransaction_) {
        RaiseChangeCounters(false, forceHeader, false);
        return;
    }
    bool wrote = blobFile_->FlushBlocks();
    wrote = blobFile_->WriteHeader(forceHeader) || wrote;
    if (wrote && ForceBufferFlush()) blobFile_->FlushFile();
}

}  // namespace pixhold::engine
