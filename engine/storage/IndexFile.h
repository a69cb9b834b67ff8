#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DataFile.h"
#include "FileHandler.h"
#include "IndexHeader.h"
#include "Page.h"
#include "TableContext.h"

namespace pixhold::engine {

// The parameters of the text index, kept in a chain of raw data pages.
struct TextIndexParameters {
    std::vector<std::string> stopWords;
    std::array<std::uint8_t, 32> spaceCharacters{};    // bit c mod 8 of byte c div 8
    std::array<std::uint8_t, 32> includeCharacters{};

    bool operator==(const TextIndexParameters&) const = default;
};

// The index file of one shared open table (docs/index-file.md): the header
// with its 33 index slots, one page cache per slot, the free-page chains, the
// table's read and write locks, and a second file for temporary indexes.
// Every index is a B+-tree of its own in the shared page space; the tree
// operations are TIndexTree's (BTree.h).
class TIndexFile : public TFileHandler {
public:
    explicit TIndexFile(TTableOwner& owner);
    ~TIndexFile() override;

    // Set by the owning table before opening: header and pages are enciphered.
    bool Encrypted = false;

    // Opens and reads the header: format mark not 5 is 12035, more secondary
    // indexes than there are slots 8961. Any failure closes the file again.
    void OpenFile() override;
    // Drops temporary indexes and every cached page (modified ones unwritten:
    // the table flushes first), then closes.
    void CloseFile() override;
    // A new file: header only, slots 31 and 32 named, changed mark set.
    void CreateFile() override;

    void ReadHeader();
    // Reads the header and takes it when its change counter moved.
    bool HeaderChanged();
    // Writes the header when it is marked changed or `force` is given; returns
    // whether it wrote. Temporary indexes never reach the disk.
    bool WriteHeader(bool force = false);
    // Counter + 1, changed mark, table marked as written to.
    void MarkHeaderChanged();
    void SetHeaderChanged() { header_.changed = true; }
    bool HeaderIsChanged() const { return header_.changed; }
    // Truncates to the header and resets the counts and every slot's pages.
    void EmptyFile();
    const IndexFileHeader& Header() const { return header_; }

    // Open-time checks against the table's fields (field n is fields[n − 1]):
    // 12035 or 8961.
    void ValidateHeader(const std::vector<FieldDescriptor>& fields) const;
    // Checks every slot, logging each finding; mends them unless verifyOnly.
    // True when nothing was found.
    bool RepairHeader(TCursorContext& cursor, bool verifyOnly, const std::vector<FieldDescriptor>& fields);

    // ---- pages ----
    // The page `pageNumber` of index `slot`, pinned; the next page number makes
    // a new page. nullptr when the cursor's change check found the table
    // changed (the caller starts again). Errors 8965, 9479.
    TPage* GetPage(TCursorContext* cursor, int slot, std::uint32_t pageNumber, bool forAllocation = false);
    void ReleasePage(TPage* page);
    // A pinned, cleared, modified page: the head of the slot's free chain, or a
    // new page at the end.
    TPage* AllocatePage(TCursorContext* cursor, int slot);
    // Puts the page at the head of its slot's free chain.
    void FreePage(TCursorContext* cursor, TPage* page);
    // Writes the modified, unpinned pages of the temporary indexes (into the
    // temporary file) or of all the others, in runs of consecutive numbers.
    bool FlushPages(bool temporary);
    void ClearPages(bool temporary);
    void TrimPageCaches();
    std::size_t CachedPageCount(int slot) const { return caches_[slot].pages.size(); }
    std::uint32_t CacheCapacity(int slot) const { return caches_[slot].capacity; }

    // ---- text index parameters ----
    // The stored parameters, or none when slot 32 has no data root page (the
    // defaults apply). A damaged chain is 8965.
    std::optional<TextIndexParameters> ReadTextIndexParameters(TCursorContext* cursor);
    void WriteTextIndexParameters(TCursorContext* cursor, const TextIndexParameters& parameters);

    // ---- index definitions ----
    // The descriptors give the names, flags, field numbers and descending
    // flags; key lengths are computed here from the table's fields.
    void SetPrimaryIndex(const IndexDescriptor& descriptor, const std::vector<FieldDescriptor>& fields);
    // Returns the slot of the new index.
    int AddSecondaryIndex(const IndexDescriptor& descriptor, const std::vector<FieldDescriptor>& fields);
    void SetTextIndex(const IndexDescriptor& descriptor, const std::vector<FieldDescriptor>& fields);
    void DeleteIndex(int slot);
    void RenameIndex(int slot, const std::string& newName);
    bool IndexNameExists(const std::string& name) const;
    void DropTemporaryIndexes();

    const IndexDescriptor& GetIndexDescriptor(int slot) const { return header_.slots[slot]; }
    std::uint32_t GetRootPage(int slot) const { return header_.slots[slot].rootPage; }
    void SetRootPage(int slot, std::uint32_t page);
    std::uint32_t GetDataRootPage(int slot) const { return header_.slots[slot].dataRootPage; }
    void SetDataRootPage(int slot, std::uint32_t page);
    std::uint32_t GetFirstFreePage(int slot) const { return header_.slots[slot].firstFreePage; }
    int SecondaryCount() const { return header_.secondaryCount; }
    void SetSecondaryCount(int count);

    std::int32_t ActiveRecordCount() const { return header_.activeRecords; }
    void IncActiveRecords();
    void DecActiveRecords();
    void SetActiveRecords(std::int32_t count);
    bool NoPrimaryFields() const { return header_.noPrimaryFields; }
    void SetNoPrimaryFields(bool flag);

    // The table's write lock and shared read lock (n is kept for the unlock).
    [[nodiscard]] bool LockWrite() { return LockWriteRange(); }
    [[nodiscard]] bool UnlockWrite() { return UnlockWriteRange(); }
    // The lock byte taken, or 0 when the lock could not be had.
    [[nodiscard]] int LockRead();
    [[nodiscard]] bool UnlockRead(int n) { return UnlockReadByte(n); }

    // Pages in the file (next page number − 1); of the temporary file for a
    // temporary slot.
    std::uint32_t PageCount() const { return header_.nextPage - 1; }
    std::uint32_t PageCount(int slot) const { return NextPageNumber(slot) - 1; }
    bool IsTemporarySlot(int slot) const { return header_.slots[slot].temporary; }
    const std::string& TemporaryFileName() const { return tempName_; }

    TTableOwner& Owner() const { return owner_; }
    [[noreturn]] void Raise(std::uint16_t code, const std::string& index = {}, const std::string& field = {}) const;

private:
    struct SlotCache {
        std::vector<std::unique_ptr<TPage>> pages;  // ordered by page number
        // The page numbers of `pages`, in the same order: a search runs over
        // these few contiguous bytes instead of visiting every page it passes.
        std::vector<std::uint32_t> numbers;
        TPage* mruFront = nullptr;
        TPage* mruBack = nullptr;
        std::uint32_t capacity = 2;

        // Where a page of that number is or would go.
        std::size_t PositionOf(std::uint32_t pageNumber) const;
        void InsertAt(std::size_t position, std::unique_ptr<TPage> page);
        std::unique_ptr<TPage> TakeAt(std::size_t position);
    };

    // The image a page is read into before it is decoded (one page, reused).
    std::vector<std::uint8_t> pageImage_;

    std::uint32_t NextPageNumber(int slot) const;
    TFileHandler& FileOf(int slot);
    std::uint32_t BaseCacheCapacity() const;
    TPage* FindCached(int slot, std::uint32_t pageNumber);
    void Touch(SlotCache& cache, TPage* page);
    void Unlink(SlotCache& cache, TPage* page);
    std::unique_ptr<TPage> TakePageObject(int slot);
    TPage* InsertCached(int slot, std::unique_ptr<TPage> page);
    void DropCache(int slot);
    void ReadPageImage(int slot, std::uint32_t pageNumber, std::uint8_t* image);
    bool ShortReadAllowed() const;
    void OpenTemporaryFile();
    void CloseTemporaryFile();
    void RemoveSlot(int slot);
    void ResetCaches();
    IndexDescriptor CheckedDescriptor(const IndexDescriptor& d, const std::vector<FieldDescriptor>& fields,
                                      bool primary) const;
    void CheckNewSecondaryName(const std::string& name, int exceptSlot) const;
    void CloseQuietly();

    TTableOwner& owner_;
    IndexFileHeader header_;
    std::array<SlotCache, kIndexSlotCount> caches_;
    TPageStack spare_;
    std::unique_ptr<TFileHandler> tempFile_;
    std::string tempName_;
    std::uint32_t tempNextPage_ = 1;
};

// Holds one pin of a page and releases it at the end of the scope.
class TPageRef {
public:
    TPageRef() = default;
    explicit TPageRef(TPage* page) : page_(page) {}
    ~TPageRef() { Reset(); }
    TPageRef(TPageRef&& other) noexcept : page_(other.page_) { other.page_ = nullptr; }
    TPageRef& operator=(TPageRef&& other) noexcept {
        if (this != &other) {
            Reset();
            page_ = other.page_;
            other.page_ = nullptr;
        }
        return *this;
    }
    TPageRef(const TPageRef&) = delete;
    TPageRef& operator=(const TPageRef&) = delete;

    TPage* operator->() const { return page_; }
    TPage& operator*() const { return *page_; }
    TPage* get() const { return page_; }
    explicit operator bool() const { return page_ != nullptr; }
    void Reset();

private:
    TPage* page_ = nullptr;
};

}  // namespace pixhold::engine
