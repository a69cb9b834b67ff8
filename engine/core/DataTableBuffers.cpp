// Change detection, the writing and dropping of the files' buffers, and the
// table's part of a directory transaction.
#include <exception>

#include "DataTable.h"
#include "EngineError.h"

namespace pixhold::engine {

bool TDataTable::CheckForChanges(bool blob) {
    bool changed = false;
    if (indexFile_->HeaderChanged()) {
        // Index changes always come with data changes: refresh both.
        indexFile_->ClearPages(false);
        dataFile_->ReadHeader();
        dataFile_->ClearRecordCache();
        changed = true;
    } else if (dataFile_->HeaderChanged()) {
        dataFile_->ClearRecordCache();
        changed = true;
    }
    if (!BlobFileOpen()) return changed;
    blobCheckOwed_ = !blob;
    if (blob && blobFile_->HeaderChanged()) {
        blobFile_->ClearBlockCache();
        changed = true;
    }
    return changed;
}

void TDataTable::RaiseChangeCounters(bool data, bool blob, bool index) {
    if (data) dataFile_->MarkHeaderChanged();
    if (index) indexFile_->MarkHeaderChanged();
    if (blob && BlobFileOpen()) blobFile_->MarkHeaderChanged();
}

void TDataTable::WriteBuffers(bool free, bool forceDataHeader, bool forceOsFlush, bool forceBlobHeader,
                              bool forceIndexHeader) {
    if (!open_ || readOnly_) return;
    if (inTransaction_) {
        // Everything stays in memory until the commit; the counters still move
        // so that the other cursors of the process see the change.
        RaiseChangeCounters(forceDataHeader, forceBlobHeader, forceIndexHeader);
        return;
    }
    const bool flush = forceOsFlush || ForceBufferFlush();

    bool wrote = dataFile_->FlushRecords();
    if (dataFile_->DescriptorsChanged()) {
        dataFile_->WriteFieldDescriptors();
        wrote = true;
    }
    wrote = dataFile_->WriteHeader(forceDataHeader) || wrote;
    if (wrote && flush) dataFile_->FlushFile();
    if (free) dataFile_->ClearRecordCache();

    wrote = indexFile_->FlushPages(false);
    wrote = indexFile_->WriteHeader(forceIndexHeader) || wrote;
    if (wrote && flush) indexFile_->FlushFile();
    if (free) indexFile_->ClearPages(false);

    if (BlobFileOpen()) {
        wrote = blobFile_->FlushBlocks();
        wrote = blobFile_->WriteHeader(forceBlobHeader) || wrote;
        if (wrote && flush) blobFile_->FlushFile();
        if (free) blobFile_->ClearBlockCache();
    }
}

void TDataTable::DiscardBuffers(bool /*free*/, bool rereadHeaders) {
    if (!open_) return;
    // Dropping a cache releases its buffers as well, so `free` changes nothing here.
    dataFile_->ClearRecordCache();
    indexFile_->ClearPages(false);
    if (BlobFileOpen()) blobFile_->ClearBlockCache();
    if (rereadHeaders) {
        // Temporary indexes live only in the in-memory header, which is about
        // to be replaced: drop them with their pages rather than leave pages
        // behind for slots that no longer exist.
        indexFile_->DropTemporaryIndexes();
        dataFile_->ReadHeader();
        indexFile_->ReadHeader();
        if (BlobFileOpen()) blobFile_->ReadHeader();
        dataFile_->SetReuseDeletedRecords(!indexFile_->NoPrimaryFields());
    }
    ++discards_;
}

void TDataTable::FlushOSBuffers() {
    if (!open_ || readOnly_ || ForceBufferFlush()) return;
    dataFile_->FlushFile();
    indexFile_->FlushFile();
    if (BlobFileOpen()) blobFile_->FlushFile();
}

// ---- transactions -------------------------------------------------------------------------

void TDataTable::StartTableTransaction() {
    if (!open_ || readOnly_ || inTransaction_) return;
    if (exclusive_) WriteBuffers(false, false, false, false, false);
    indexFile_->FlushPages(false);
    inTransaction_ = true;
    AcquireTransactionLock();
}

void TDataTable::RollbackTableTransaction() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    std::exception_ptr failure;
    // A commit that failed while taking its write locks may have left some.
    try {
        EndWrite();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        DiscardBuffers(true, true);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    try {
        ReleaseTransactionLock();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
}

void TDataTable::PrepareCommit() {
    if (inTransaction_) BeginWrite();
}

void TDataTable::CommitTableBuffers(bool free, bool forceOsFlush) {
    if (!inTransaction_) return;
    inTransaction_ = false;
    try {
        WriteBuffers(free, false, forceOsFlush, false, false);
        indexFile_->FlushPages(false);
    } catch (...) {
        inTransaction_ = true;
        throw;
    }
    inTransaction_ = true;
}

void TDataTable::EndTableCommit(bool end) {
    std::exception_ptr failure;
    auto run = [&failure](auto&& step) {
        try {
            step();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    };
    if (end) {
        run([this] { EndWrite(); });
        run([this] { ReleaseTransactionLock(); });
        inTransaction_ = false;
    } else {
        run([this] { ReleaseDeferredUnlocks(); });
        run([this] { EndWrite(); });
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace pixhold::engine
