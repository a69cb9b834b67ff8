// The inter-process locks of a shared table: record locks with their retries,
// the shared read lock, the write lock and the transaction lock.
#include <algorithm>
#include <chrono>
#include <thread>

#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"

namespace pixhold::engine {

void TDataTable::SleepBeforeRetry() const {
    const int ms = std::max<int>(0, Session().LockWaitTime());
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TDataTable::SizeRecordBitmaps() {
    const std::uint64_t size = std::uint64_t{dataFile_->PhysicalRecordCount()} + 1;
    for (TRecordsBitmap* bitmap : {&osLockedRecords_, &cursorLockedRecords_, &deferredUnlocks_})
        if (bitmap->Size() < size) bitmap->Resize(size);
}

// ---- record locks -------------------------------------------------------------------

bool TDataTable::LockRecord(std::uint32_t n) {
    if (Locked()) return false;
    if (n == 0) Raise(err::RecordLocked);
    if (transactionLockHeld_ && osLockedRecords_.Test(n)) {
        // Held again after an unlock in this transaction: no longer to be
        // released at its end.
        deferredUnlocks_.Clear(n);
        return false;
    }
    bool changed = false;
    if (!StrictChangeDetection()) changed = BeginRead();
    unsigned failures = 0;
    while (!dataFile_->LockRecordRegion(n)) {
        // The holder may need the write lock to finish, and the write range
        // covers our read byte: never wait while holding it.
        EndRead();
        if (++failures > Session().LockRetryCount()) Raise(err::RecordLocked);
        SleepBeforeRetry();
        changed = BeginRead() || changed;
    }
    SizeRecordBitmaps();
    osLockedRecords_.Set(n);
    deferredUnlocks_.Clear(n);
    return changed;
}

void TDataTable::UnlockRecord(std::uint32_t n) {
    if (Locked()) return;
    if (transactionLockHeld_) {
        // Others must not touch the record before the transaction's outcome is known.
        if (n != 0) {
            SizeRecordBitmaps();
            deferredUnlocks_.Set(n);
        }
        return;
    }
    if (n != 0 && osLockedRecords_.Test(n) && dataFile_->UnlockRecordRegion(n)) {
        osLockedRecords_.Clear(n);
        return;
    }
    Raise(err::CannotUnlock);
}

void TDataTable::UnlockAllRecords(bool deferredOnly) {
    std::exception_ptr failure;
    for (std::uint32_t n = osLockedRecords_.FirstSet(); n != 0; n = osLockedRecords_.NextSet(n + 1)) {
        if (deferredOnly && !deferredUnlocks_.Test(n)) continue;
        try {
            UnlockRecord(n);
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void TDataTable::ReleaseDeferredUnlocks() {
    bool released = true;
    for (std::uint32_t n = deferredUnlocks_.FirstSet(); n != 0; n = deferredUnlocks_.NextSet(n + 1)) {
        if (!osLockedRecords_.Test(n)) continue;
        if (dataFile_->UnlockRecordRegion(n)) osLockedRecords_.Clear(n);
        else released = false;
    }
    deferredUnlocks_.ClearAll();
    if (!released) Raise(err::CannotUnlock);
}

// ---- read locks -------------------------------------------------------------------------

// A read lock takes one of the index file's read bytes, which keeps every
// writer out (a writer takes the index file's write range before the BLOB
// file's). The BLOB file's read byte and the comparison of its counter come
// with the first BLOB access under the lock (BeginBlobRead): most reads never
// touch a BLOB, and each byte costs a lock and an unlock.
bool TDataTable::TakeReadLock(ReadLock& lock) {
    const int indexSlot = indexFile_->LockRead();
    if (indexSlot == 0) Raise(err::LockFailure);
    lock = ReadLock{true, indexSlot, 0};
    try {
        return CheckForChanges(false);
    } catch (...) {
        // The caller sees a failed begin and will not end it.
        try {
            DropReadLock(lock);
        } catch (...) {
            // The read failure is the one reported.
        }
        throw;
    }
}

bool TDataTable::BeginBlobRead() {
    if (!BlobFileOpen()) return false;
    ReadLock* lock = nullptr;
    for (ReadLock* held : {&queryReadLock_, &readLock_}) {
        if (!held->held) continue;
        if (held->blobSlot != 0) {
            // Compared under a lock held since: nothing can have changed.
            blobCheckOwed_ = false;
            return false;
        }
        if (lock == nullptr) lock = held;
    }
    if (lock == nullptr) return false;
    const int blobSlot = blobFile_->LockRead();
    if (blobSlot == 0) Raise(err::LockFailure);
    lock->blobSlot = blobSlot;
    blobCheckOwed_ = false;
    if (!blobFile_->HeaderChanged()) return false;
    blobFile_->ClearBlockCache();
    return true;
}

void TDataTable::DropReadLock(ReadLock& lock) {
    bool released = true;
    if (lock.blobSlot != 0) released = blobFile_->UnlockRead(lock.blobSlot);
    released = indexFile_->UnlockRead(lock.indexSlot) && released;
    lock = ReadLock{};
    if (!released) Raise(err::CannotUnlock);
}

bool TDataTable::BeginRead() {
    if (readLock_.held || queryReadLock_.held || writeLockHeld_ || transactionLockHeld_ || Locked()) return false;
    return TakeReadLock(readLock_);
}

void TDataTable::EndRead() {
    if (!readLock_.held) return;
    DropReadLock(readLock_);
}

// The query lock holds the table still for a whole statement; it takes bytes
// of its own even while a cursor holds the ordinary read lock, since that one
// ends with the cursor's operation.
bool TDataTable::BeginQueryRead() {
    if (queryReadLock_.held || writeLockHeld_ || transactionLockHeld_ || Locked()) return false;
    return TakeReadLock(queryReadLock_);
}

void TDataTable::EndQueryRead() {
    if (!queryReadLock_.held) return;
    DropReadLock(queryReadLock_);
}

// ---- write lock ---------------------------------------------------------------------------

void TDataTable::RestoreSuspendedReadLocks() {
    std::exception_ptr failure;
    // Another process may write between our release and the new read lock;
    // the check made by taking it moves the counters the cursors compare.
    if (readLockSuspended_) {
        readLockSuspended_ = false;
        try {
            TakeReadLock(readLock_);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (queryReadLockSuspended_) {
        queryReadLockSuspended_ = false;
        try {
            TakeReadLock(queryReadLock_);
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

bool TDataTable::BeginWrite() {
    if (writeLockHeld_ || Locked()) return false;
    // The write ranges cover every read byte, this table's own ones included,
    // so its read locks are let go of first and taken again by EndWrite.
    if (readLock_.held) {
        DropReadLock(readLock_);
        readLockSuspended_ = true;
    }
    if (queryReadLock_.held) {
        DropReadLock(queryReadLock_);
        queryReadLockSuspended_ = true;
    }
    bool tableByte = false;
    bool indexRange = false;
    try {
        if (!transactionLockHeld_) {
            if (!dataFile_->LockTableRegion()) Raise(err::LockFailure);
            tableByte = true;
        }
        if (!indexFile_->LockWrite()) Raise(err::LockFailure);
        indexRange = true;
        if (BlobFileOpen() && !blobFile_->LockWrite()) Raise(err::LockFailure);
    } catch (...) {
        // The lock failure is the one reported; what was taken is let go of
        // as far as it can be (the descriptor's close ends the rest).
        if (indexRange) (void)indexFile_->UnlockWrite();
        if (tableByte) (void)dataFile_->UnlockTableRegion();
        try {
            RestoreSuspendedReadLocks();
        } catch (...) {
            // The lock failure is the one reported.
        }
        throw;
    }
    writeLockHeld_ = true;
    if (transactionLockHeld_) return false;
    return CheckForChanges();
}

void TDataTable::EndWrite() {
    if (!writeLockHeld_) return;
    bool released = true;
    if (BlobFileOpen()) released = blobFile_->UnlockWrite();
    released = indexFile_->UnlockWrite() && released;
    if (!transactionLockHeld_) released = dataFile_->UnlockTableRegion() && released;
    writeLockHeld_ = false;
    RestoreSuspendedReadLocks();
    if (!released) Raise(err::LockFailure);
}

// ---- transaction lock ---------------------------------------------------------------------

void TDataTable::AcquireTransactionLock() {
    if (transactionLockHeld_ || readOnlyAttribute_) return;
    if (!exclusive_ && !dataFile_->LockTableRegion()) Raise(err::LockFailure);
    transactionLockHeld_ = true;
    if (!exclusive_) CheckForChanges();
}

void TDataTable::ReleaseTransactionLock() {
    if (!transactionLockHeld_) return;
    const bool released = exclusive_ || dataFile_->UnlockTableRegion();
    transactionLockHeld_ = false;
    ReleaseDeferredUnlocks();
    if (!released) Raise(err::LockFailure);
}

// ---- everything, at close -----------------------------------------------------------------

void TDataTable::ReleaseAllLocks() {
    bool released = true;
    for (std::uint32_t n = osLockedRecords_.FirstSet(); n != 0; n = osLockedRecords_.NextSet(n + 1))
        released = dataFile_->UnlockRecordRegion(n) && released;
    osLockedRecords_.ClearAll();
    cursorLockedRecords_.ClearAll();
    deferredUnlocks_.ClearAll();
    readLockSuspended_ = false;
    queryReadLockSuspended_ = false;
    std::exception_ptr failure;
    auto run = [&failure](auto&& step) {
        try {
            step();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    };
    run([this] { EndRead(); });
    run([this] { EndQueryRead(); });
    run([this] { EndWrite(); });
    run([this] { ReleaseTransactionLock(); });
    if (failure) std::rethrow_exception(failure);
    if (!released) Raise(err::CannotUnlock);
}

}  // namespace pixhold::engine
