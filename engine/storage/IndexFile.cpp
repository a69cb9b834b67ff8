#include "IndexFile.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "Cipher.h"
#include "EngineError.h"
#include "IndexBytes.h"
#include "IndexKey.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

// Appends stop at page 2000000000 and at a file of 4000000000 bytes.
constexpr std::uint32_t kMaxPageNumber = 2000000000u;
constexpr std::uint64_t kMaxFileBytes = 4000000000ull;
// A text-index stop word is kept to this many characters.
constexpr std::size_t kMaxStopWordLength = 255;
constexpr std::uint32_t kCharacterSetSize = 32;

bool SameName(const std::string& a, const std::string& b) { return SameTrimmedName(a, b); }

// A name starts with a letter, "_" or a byte from 128 to 254.
bool ValidFirstCharacter(const std::string& name) {
    if (name.empty()) return false;
    const auto c = static_cast<std::uint8_t>(name[0]);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool IsTextField(const FieldDescriptor& f) {
    return f.type == fieldtype::String ||
           (f.type == fieldtype::Blob && (f.subtype == fieldsubtype::Memo || f.subtype == fieldsubtype::FormattedMemo));
}

}  // namespace

// ---- pins ---------------------------------------------------------------------

void TPageRef::Reset() {
    if (page_ != nullptr && page_->owner != nullptr) page_->owner->ReleasePage(page_);
    page_ = nullptr;
}

// ---- life cycle -----------------------------------------------------------------

TIndexFile::TIndexFile(TTableOwner& owner) : owner_(owner) { ResetCaches(); }

TIndexFile::~TIndexFile() {
    try {
        CloseTemporaryFile();
    } catch (...) {
        // A destructor cannot report; the temporary file is the session's to clean.
    }
}

void TIndexFile::Raise(std::uint16_t code, const std::string& index, const std::string& field) const {
    ErrorContext context;
    context.table = Name;
    context.index = index;
    context.field = field;
    RaiseEngineError(code, context);
}

void TIndexFile::CloseQuietly() {
    try {
        TFileHandler::CloseFile();
    } catch (...) {
    }
}

void TIndexFile::OpenFile() {
    if (IsOpen()) return;
    TFileHandler::OpenFile();
    try {
        // A file cut short inside its header has no header to read: it is a
        // corrupt header (which a repair replaces), not a failed read.
        if (GetFileSize() < static_cast<std::int64_t>(kIndexHeaderSize)) Raise(err::HeaderCorrupt);
        ReadHeader();
        if (header_.formatMark != kIndexFormatMark) Raise(err::WrongVersion);
        if (header_.secondaryCount > kMaxSecondaryIndexes) Raise(err::HeaderCorrupt);
        ResetCaches();
    } catch (...) {
        CloseQuietly();
        throw;
    }
}

void TIndexFile::CloseFile() {
    DropTemporaryIndexes();
    for (int s = 0; s < kIndexSlotCount; ++s) DropCache(s);
    TFileHandler::CloseFile();
}

void TIndexFile::CreateFile() {
    TFileHandler::CreateFile();
    header_ = IndexFileHeader{};
    header_.formatMark = kIndexFormatMark;
    header_.nextPage = 1;
    header_.slots[kDeletedSlot] = DeletedIndexDescriptor();
    header_.slots[kTextSlot] = TextIndexDescriptor();
    header_.activeRecords = 0;
    header_.changed = true;
    for (int s = 0; s < kIndexSlotCount; ++s) DropCache(s);
    ResetCaches();
}

void TIndexFile::ResetCaches() {
    for (auto& cache : caches_) cache.capacity = BaseCacheCapacity();
}

std::uint32_t TIndexFile::BaseCacheCapacity() const {
    const std::uint32_t pages = std::min(owner_.IndexCacheBytes() / 8192u, owner_.IndexCacheMaxPages());
    return std::max<std::uint32_t>(pages, 1);
}

// ---- header -----------------------------------------------------------------------

void TIndexFile::ReadHeader() {
    std::vector<std::uint8_t> image(kIndexHeaderSize);
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, 0);
        ReadBuffer(image.data(), image.size());
    }
    if (Encrypted) ScrambleBuffer(image.data(), image.size(), kDataSeeds);
    DecodeIndexHeader(image.data(), header_);
}

bool TIndexFile::HeaderChanged() {
    // The counter alone first: the whole header only when it moved.
    if (ReadChangeCounter(Encrypted) == header_.changeCounter) return false;
    std::vector<std::uint8_t> image(kIndexHeaderSize);
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, 0);
        ReadBuffer(image.data(), image.size());
    }
    if (Encrypted) ScrambleBuffer(image.data(), image.size(), kDataSeeds);
    IndexFileHeader disk;
    DecodeIndexHeader(image.data(), disk);
    if (disk.changeCounter == header_.changeCounter) return false;
    // Temporary indexes live only here: keep them after the stored ones.
    std::vector<IndexDescriptor> temporary;
    for (int s = 1; s <= header_.secondaryCount && s <= kMaxSecondaryIndexes; ++s)
        if (header_.slots[s].temporary) temporary.push_back(header_.slots[s]);
    const bool temporaryText = header_.slots[kTextSlot].temporary;
    const IndexDescriptor text = header_.slots[kTextSlot];
    header_ = disk;
    for (const IndexDescriptor& d : temporary) {
        if (header_.secondaryCount >= kMaxSecondaryIndexes) break;
        header_.slots[++header_.secondaryCount] = d;
    }
    if (temporaryText) header_.slots[kTextSlot] = text;
    return true;
}

bool TIndexFile::WriteHeader(bool force) {
    if (!header_.changed && !force) return false;
    ++header_.changeCounter;
    // The stored copy leaves out temporary indexes: the stored secondary
    // indexes are packed in order and counted without them.
    IndexFileHeader disk = header_;
    int stored = 0;
    for (int s = 1; s <= header_.secondaryCount && s <= kMaxSecondaryIndexes; ++s)
        if (!header_.slots[s].temporary) disk.slots[++stored] = header_.slots[s];
    for (int s = stored + 1; s <= kMaxSecondaryIndexes; ++s) disk.slots[s] = IndexDescriptor{};
    disk.secondaryCount = static_cast<std::uint8_t>(stored);
    if (header_.slots[kTextSlot].temporary) disk.slots[kTextSlot] = TextIndexDescriptor();
    std::vector<std::uint8_t> image(kIndexHeaderSize);
    EncodeIndexHeader(disk, image.data());
    if (Encrypted) ScrambleBuffer(image.data(), image.size(), kDataSeeds);
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, 0);
        WriteBuffer(image.data(), image.size());
    }
    if (owner_.ForceBufferFlush()) FlushFile();
    owner_.MarkWrittenTo();
    header_.changed = false;
    return true;
}

void TIndexFile::MarkHeaderChanged() {
    ++header_.changeCounter;
    header_.changed = true;
    owner_.MarkWrittenTo();
}

void TIndexFile::EmptyFile() {
    {
        FileAccessGuard guard(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(kIndexHeaderSize));
        WriteBuffer(nullptr, 0);
    }
    if (owner_.ForceBufferFlush()) FlushFile();
    for (int s = 0; s < kIndexSlotCount; ++s) DropCache(s);
    header_.formatMark = kIndexFormatMark;
    header_.nextPage = 1;
    header_.activeRecords = 0;
    for (auto& slot : header_.slots) {
        slot.rootPage = 0;
        slot.firstFreePage = 0;
        slot.dataRootPage = 0;
    }
    // The temporary indexes lost their pages too.
    tempNextPage_ = 1;
    if (tempFile_ && tempFile_->IsOpen()) {
        FileAccessGuard guard(*tempFile_);
        tempFile_->SeekFile(SeekOrigin::Begin, 0);
        tempFile_->WriteBuffer(nullptr, 0);
    }
    header_.changed = true;
}

// ---- page cache ---------------------------------------------------------------------

std::uint32_t TIndexFile::NextPageNumber(int slot) const {
    return header_.slots[slot].temporary ? tempNextPage_ : header_.nextPage;
}

TFileHandler& TIndexFile::FileOf(int slot) {
    if (header_.slots[slot].temporary) {
        if (!tempFile_ || !tempFile_->IsOpen()) OpenTemporaryFile();
        return *tempFile_;
    }
    return *this;
}

void TIndexFile::Unlink(SlotCache& cache, TPage* page) {
    if (page->mruPrev != nullptr) page->mruPrev->mruNext = page->mruNext;
    else if (cache.mruFront == page) cache.mruFront = page->mruNext;
    if (page->mruNext != nullptr) page->mruNext->mruPrev = page->mruPrev;
    else if (cache.mruBack == page) cache.mruBack = page->mruPrev;
    page->mruPrev = nullptr;
    page->mruNext = nullptr;
}

void TIndexFile::Touch(SlotCache& cache, TPage* page) {
    if (cache.mruFront == page) return;
    Unlink(cache, page);
    page->mruNext = cache.mruFront;
    if (cache.mruFront != nullptr) cache.mruFront->mruPrev = page;
    cache.mruFront = page;
    if (cache.mruBack == nullptr) cache.mruBack = page;
}

std::size_t TIndexFile::SlotCache::PositionOf(std::uint32_t pageNumber) const {
    return static_cast<std::size_t>(std::lower_bound(numbers.begin(), numbers.end(), pageNumber) - numbers.begin());
}

void TIndexFile::SlotCache::InsertAt(std::size_t position, std::unique_ptr<TPage> page) {
    numbers.insert(numbers.begin() + static_cast<std::ptrdiff_t>(position), page->pageNumber);
    pages.insert(pages.begin() + static_cast<std::ptrdiff_t>(position), std::move(page));
}

std::unique_ptr<TPage> TIndexFile::SlotCache::TakeAt(std::size_t position) {
    std::unique_ptr<TPage> page = std::move(pages[position]);
    pages.erase(pages.begin() + static_cast<std::ptrdiff_t>(position));
    numbers.erase(numbers.begin() + static_cast<std::ptrdiff_t>(position));
    return page;
}

TPage* TIndexFile::FindCached(int slot, std::uint32_t pageNumber) {
    SlotCache& cache = caches_[slot];
    // The two most recently used pages first: a descent touches the same few.
    TPage* recent = cache.mruFront;
    for (int i = 0; i < 2 && recent != nullptr; ++i, recent = recent->mruNext)
        if (recent->pageNumber == pageNumber) return recent;
    const std::size_t at = cache.PositionOf(pageNumber);
    if (at < cache.numbers.size() && cache.numbers[at] == pageNumber) return cache.pages[at].get();
    return nullptr;
}

std::unique_ptr<TPage> TIndexFile::TakePageObject(int slot) {
    SlotCache& cache = caches_[slot];
    for (int attempt = 0; cache.pages.size() >= cache.capacity; ++attempt) {
        TPage* victim = nullptr;
        for (TPage* p = cache.mruBack; p != nullptr; p = p->mruPrev)
            if (!p->modified && p->pins == 0) {
                victim = p;
                break;
            }
        if (victim != nullptr) {
            Unlink(cache, victim);
            return cache.TakeAt(cache.PositionOf(victim->pageNumber));
        }
        // During a transaction modified pages stay in memory until the commit.
        if (attempt == 0 && !owner_.TransactionLockHeld()) {
            FlushPages(header_.slots[slot].temporary);
            continue;
        }
        cache.capacity += 4;
    }
    return spare_.Pop();
}

TPage* TIndexFile::InsertCached(int slot, std::unique_ptr<TPage> page) {
    SlotCache& cache = caches_[slot];
    TPage* raw = page.get();
    cache.InsertAt(cache.PositionOf(raw->pageNumber), std::move(page));
    Touch(cache, raw);
    return raw;
}

void TIndexFile::DropCache(int slot) {
    SlotCache& cache = caches_[slot];
    for (auto& page : cache.pages) {
        page->mruPrev = page->mruNext = nullptr;
        spare_.Push(std::move(page));
    }
    cache.pages.clear();
    cache.numbers.clear();
    cache.mruFront = cache.mruBack = nullptr;
}

bool TIndexFile::ShortReadAllowed() const {
    return (Exclusive || owner_.TransactionLockHeld()) && owner_.WrittenTo();
}

void TIndexFile::ReadPageImage(int slot, std::uint32_t pageNumber, std::uint8_t* image) {
    TFileHandler& file = FileOf(slot);
    std::size_t got;
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(pageNumber) * static_cast<std::int64_t>(kIndexPageSize));
        got = file.ReadBuffer(image, kIndexPageSize, ShortReadAllowed() || header_.slots[slot].temporary);
    }
    if (got < kIndexPageSize) std::memset(image + got, 0, kIndexPageSize - got);
    if (Encrypted) ScrambleBuffer(image, kIndexPageSize, kDataSeeds);
}

TPage* TIndexFile::GetPage(TCursorContext* cursor, int slot, std::uint32_t pageNumber, bool forAllocation) {
    if (pageNumber == 0) Raise(err::IndexPagesCorrupt);
    const IndexDescriptor& d = header_.slots[slot];
    const std::uint32_t next = NextPageNumber(slot);
    const PageProperties properties = PageProperties::Of(d, slot);
    if (pageNumber == next) {
        if (pageNumber > kMaxPageNumber ||
            (static_cast<std::uint64_t>(pageNumber) + 1) * kIndexPageSize > kMaxFileBytes)
            Raise(err::TableFull);
        std::unique_ptr<TPage> page = TakePageObject(slot);
        page->Reset(this, slot, pageNumber, properties);
        page->modified = true;
        page->pins = 1;
        if (d.temporary) {
            ++tempNextPage_;
        } else {
            ++header_.nextPage;
            header_.changed = true;
        }
        return InsertCached(slot, std::move(page));
    }
    if (pageNumber > next) Raise(err::IndexPagesCorrupt);  // beyond the last page
    if (TPage* cached = FindCached(slot, pageNumber)) {
        Touch(caches_[slot], cached);
        ++cached->pins;
        return cached;
    }
    if (cursor != nullptr && !owner_.StrictChangeDetection() && cursor->CheckForChanges()) return nullptr;
    pageImage_.resize(kIndexPageSize);
    ReadPageImage(slot, pageNumber, pageImage_.data());
    std::unique_ptr<TPage> page = TakePageObject(slot);
    page->Reset(this, slot, pageNumber, properties);
    if (!page->Decode(pageImage_.data(), !forAllocation)) {
        spare_.Push(std::move(page));
        Raise(err::IndexPagesCorrupt);
    }
    page->pins = 1;
    TPage* raw = InsertCached(slot, std::move(page));
    if (raw->pageNumber != pageNumber) Raise(err::IndexPagesCorrupt);
    return raw;
}

void TIndexFile::ReleasePage(TPage* page) {
    if (page != nullptr && page->pins > 0) --page->pins;
}

TPage* TIndexFile::AllocatePage(TCursorContext* cursor, int slot) {
    IndexDescriptor& d = header_.slots[slot];
    TPage* page;
    if (d.firstFreePage != 0) {
        if (d.firstFreePage >= NextPageNumber(slot)) Raise(err::IndexPagesCorrupt, d.name);
        page = GetPage(cursor, slot, d.firstFreePage, true);
        if (page == nullptr) return nullptr;
        d.firstFreePage = page->next;
        header_.changed = true;
    } else {
        page = GetPage(cursor, slot, NextPageNumber(slot));
    }
    page->ClearEntries();
    page->freed = false;
    page->type = PageType::Leaf;
    page->previous = 0;
    page->next = 0;
    page->modified = true;
    return page;
}

void TIndexFile::FreePage(TCursorContext*, TPage* page) {
    IndexDescriptor& d = header_.slots[page->slot];
    page->ClearEntries();
    page->previous = 0;
    page->next = d.firstFreePage;
    page->freed = true;
    page->modified = true;
    d.firstFreePage = page->pageNumber;
    header_.changed = true;
}

bool TIndexFile::FlushPages(bool temporary) {
    std::vector<TPage*> dirty;
    for (int s = 0; s < kIndexSlotCount; ++s) {
        if (header_.slots[s].temporary != temporary) continue;
        for (auto& page : caches_[s].pages)
            if (page->modified && page->pins == 0) dirty.push_back(page.get());
    }
    if (dirty.empty()) return false;
    std::sort(dirty.begin(), dirty.end(), [](TPage* a, TPage* b) { return a->pageNumber < b->pageNumber; });
    TFileHandler& file = temporary ? FileOf(dirty.front()->slot) : static_cast<TFileHandler&>(*this);
    std::vector<std::uint8_t> buffer;
    for (std::size_t first = 0; first < dirty.size();) {
        std::size_t last = first;
        while (last + 1 < dirty.size() && dirty[last + 1]->pageNumber == dirty[last]->pageNumber + 1) ++last;
        const std::size_t pages = last - first + 1;
        buffer.assign(pages * kIndexPageSize, 0);
        for (std::size_t i = 0; i < pages; ++i) {
            std::uint8_t* image = buffer.data() + i * kIndexPageSize;
            // A page that does not fit its 4096 bytes is never written.
            if (!dirty[first + i]->freed && dirty[first + i]->Overfull()) Raise(err::IndexPagesCorrupt);
            dirty[first + i]->Encode(image);
            if (Encrypted) ScrambleBuffer(image, kIndexPageSize, kDataSeeds);
        }
        {
            FileAccessGuard guard(file);
            file.SeekFile(SeekOrigin::Begin,
                          static_cast<std::int64_t>(dirty[first]->pageNumber) * static_cast<std::int64_t>(kIndexPageSize));
            file.WriteBuffer(buffer.data(), buffer.size());
        }
        for (std::size_t i = first; i <= last; ++i) dirty[i]->modified = false;
        first = last + 1;
    }
    if (!temporary) owner_.MarkWrittenTo();
    return true;
}

void TIndexFile::ClearPages(bool temporary) {
    for (int s = 0; s < kIndexSlotCount; ++s)
        if (header_.slots[s].temporary == temporary) DropCache(s);
}

void TIndexFile::TrimPageCaches() {
    const std::uint32_t base = BaseCacheCapacity();
    for (auto& cache : caches_) {
        for (TPage* p = cache.mruBack; p != nullptr && cache.pages.size() > base;) {
            TPage* older = p->mruPrev;
            if (!p->modified && p->pins == 0) {
                Unlink(cache, p);
                spare_.Push(cache.TakeAt(cache.PositionOf(p->pageNumber)));
            }
            p = older;
        }
        cache.capacity = base;
    }
}

// ---- temporary page file ---------------------------------------------------------------

void TIndexFile::OpenTemporaryFile() {
    if (tempFile_ && tempFile_->IsOpen()) return;
    std::string folder = owner_.PrivateDirectory();
    if (folder.empty()) {
        folder = std::filesystem::temp_directory_path().string();
        if (!folder.empty() && folder.back() != '/') folder += '/';
    }
    // Named from the first 5 digits of the thread's identifier and the first
    // running number that names no existing file.
    const std::string digits = std::to_string(static_cast<unsigned long>(::syscall(SYS_gettid))).substr(0, 5);
    tempFile_ = std::make_unique<TFileHandler>();
    tempFile_->InMemory = InMemory;
    tempFile_->Exclusive = true;
    for (unsigned n = 0;; ++n) {
        tempFile_->Name = folder + digits + std::to_string(n) + ".IDX";
        if (!tempFile_->FileExists()) break;
    }
    tempFile_->CreateFile();
    tempName_ = tempFile_->Name;
    tempNextPage_ = 1;
}

void TIndexFile::CloseTemporaryFile() {
    if (!tempFile_) return;
    if (tempFile_->IsOpen()) {
        tempFile_->CloseFile();
        tempFile_->DeleteFile();
    }
    tempFile_.reset();
    tempName_.clear();
    tempNextPage_ = 1;
}

void TIndexFile::DropTemporaryIndexes() {
    bool any = false;
    for (int s = header_.secondaryCount; s >= 1; --s) {
        if (s <= kMaxSecondaryIndexes && header_.slots[s].temporary) {
            RemoveSlot(s);
            any = true;
        }
    }
    if (header_.slots[kTextSlot].temporary) {
        DropCache(kTextSlot);
        header_.slots[kTextSlot] = TextIndexDescriptor();
        any = true;
    }
    if (any || tempFile_) CloseTemporaryFile();
}

// ---- index definitions ------------------------------------------------------------------

IndexDescriptor TIndexFile::CheckedDescriptor(const IndexDescriptor& d, const std::vector<FieldDescriptor>& fields,
                                              bool primary) const {
    if (d.fieldCount > kMaxIndexFields) Raise(err::IndexLimits, d.name);
    IndexDescriptor slot = d;
    int fieldBytes = 0;
    for (int i = 0; i < d.fieldCount; ++i) {
        const std::uint16_t n = d.fieldNumbers[i];
        if (n == 0 || n > fields.size()) Raise(err::InvalidIndexFieldNumber, d.name);
        const FieldDescriptor& f = fields[n - 1];
        if (f.type == fieldtype::Blob) Raise(err::InvalidIndexField, d.name, f.name);
        fieldBytes += KeySizeOf(f) + 1;
    }
    for (int i = d.fieldCount; i < kMaxIndexFields; ++i) {
        slot.fieldNumbers[i] = 0;
        slot.fieldDescending[i] = 0;
    }
    if (fieldBytes < 1 || fieldBytes > kMaxKeyFieldBytes) Raise(err::InvalidKeySize, d.name);
    if (primary) slot.unique = true;
    slot.keyLength = static_cast<std::uint16_t>(fieldBytes + (slot.unique ? 0 : 4));
    slot.rootPage = 0;
    slot.firstFreePage = 0;
    slot.dataRootPage = 0;
    slot.reserved94 = 0;
    slot.removeMark = 0;
    return slot;
}

void TIndexFile::SetPrimaryIndex(const IndexDescriptor& d, const std::vector<FieldDescriptor>& fields) {
    if (header_.slots[kPrimarySlot].keyLength != 0) Raise(err::PrimaryIndexExists);
    if (d.fieldCount > kMaxIndexFields) Raise(err::IndexLimits);
    if (d.fieldCount == 0) {
        SetNoPrimaryFields(true);
        return;
    }
    IndexDescriptor slot = CheckedDescriptor(d, fields, true);
    slot.name.clear();
    slot.temporary = false;
    header_.noPrimaryFields = false;
    header_.slots[kPrimarySlot] = slot;
    DropCache(kPrimarySlot);
    header_.changed = true;
}

void TIndexFile::CheckNewSecondaryName(const std::string& name, int exceptSlot) const {
    if (TrimBlanks(name).empty()) Raise(err::IndexNameMissing);
    if (!ValidFirstCharacter(name)) Raise(err::InvalidIndexName, name);
    for (int s = 1; s <= header_.secondaryCount && s <= kMaxSecondaryIndexes; ++s)
        if (s != exceptSlot && SameName(header_.slots[s].name, name)) Raise(err::IndexExists, name);
}

int TIndexFile::AddSecondaryIndex(const IndexDescriptor& d, const std::vector<FieldDescriptor>& fields) {
    if (header_.secondaryCount >= kMaxSecondaryIndexes || d.fieldCount > kMaxIndexFields)
        Raise(err::IndexLimits, d.name);
    CheckNewSecondaryName(d.name, 0);
    IndexDescriptor slot = CheckedDescriptor(d, fields, false);
    slot.name = d.name.substr(0, kMaxIndexNameLength);
    if (slot.temporary) OpenTemporaryFile();
    const int s = header_.secondaryCount + 1;
    DropCache(s);
    header_.slots[s] = slot;
    header_.secondaryCount = static_cast<std::uint8_t>(s);
    header_.changed = true;
    return s;
}

void TIndexFile::SetTextIndex(const IndexDescriptor& d, const std::vector<FieldDescriptor>& fields) {
    if (d.fieldCount > kMaxIndexFields) Raise(err::IndexLimits, kTextIndexName);
    IndexDescriptor& slot = header_.slots[kTextSlot];
    for (int i = 0; i < d.fieldCount; ++i) {
        const std::uint16_t n = d.fieldNumbers[i];
        if (n == 0 || n > fields.size()) Raise(err::InvalidIndexFieldNumber, kTextIndexName);
        if (!IsTextField(fields[n - 1])) Raise(err::InvalidIndexField, kTextIndexName, fields[n - 1].name);
    }
    if (d.temporary) OpenTemporaryFile();
    if (slot.temporary != d.temporary) DropCache(kTextSlot);
    slot.name = kTextIndexName;
    slot.keyLength = kTextKeyLength;
    slot.descending = d.descending;
    slot.caseInsensitive = d.caseInsensitive;
    slot.unique = false;
    slot.compression = static_cast<std::uint8_t>(KeyCompression::Full);
    slot.fieldCount = d.fieldCount;
    slot.fieldNumbers = d.fieldNumbers;
    slot.fieldDescending = d.fieldDescending;
    for (int i = d.fieldCount; i < kMaxIndexFields; ++i) slot.fieldNumbers[i] = slot.fieldDescending[i] = 0;
    slot.noCounts = d.noCounts;  // its branches carry no counts either way
    slot.temporary = d.temporary;
    slot.rootPage = 0;
    header_.changed = true;
}

void TIndexFile::RemoveSlot(int s) {
    DropCache(s);
    for (int i = s; i < header_.secondaryCount && i < kMaxSecondaryIndexes; ++i) {
        header_.slots[i] = header_.slots[i + 1];
        std::swap(caches_[i], caches_[i + 1]);
        for (auto& page : caches_[i].pages) page->slot = i;
    }
    const int last = std::min<int>(header_.secondaryCount, kMaxSecondaryIndexes);
    header_.slots[last] = IndexDescriptor{};
    caches_[last].capacity = BaseCacheCapacity();
    header_.secondaryCount = static_cast<std::uint8_t>(last - 1);
    header_.changed = true;
}

void TIndexFile::DeleteIndex(int s) {
    if (s == kPrimarySlot) {
        SetNoPrimaryFields(true);
        return;
    }
    if (s < 1 || s > header_.secondaryCount) Raise(err::InvalidIndexName);
    // Pages of a deleted index are not reclaimed (an optimise rebuilds the
    // file), but written ones must not stay behind in the caches.
    if (!header_.slots[s].temporary) FlushPages(false);
    RemoveSlot(s);
}

void TIndexFile::RenameIndex(int s, const std::string& newName) {
    if (s < 1 || s > header_.secondaryCount) Raise(err::InvalidIndexName, newName);
    CheckNewSecondaryName(newName, s);
    header_.slots[s].name = newName.substr(0, kMaxIndexNameLength);
    header_.changed = true;
}

bool TIndexFile::IndexNameExists(const std::string& name) const {
    for (int s = 1; s <= header_.secondaryCount && s <= kMaxSecondaryIndexes; ++s)
        if (SameName(header_.slots[s].name, name)) return true;
    return false;
}

void TIndexFile::SetRootPage(int s, std::uint32_t page) {
    if (header_.slots[s].rootPage == page) return;
    header_.slots[s].rootPage = page;
    header_.changed = true;
}

void TIndexFile::SetDataRootPage(int s, std::uint32_t page) {
    if (header_.slots[s].dataRootPage == page) return;
    header_.slots[s].dataRootPage = page;
    header_.changed = true;
}

void TIndexFile::SetSecondaryCount(int count) {
    if (header_.secondaryCount == count) return;
    header_.secondaryCount = static_cast<std::uint8_t>(std::clamp(count, 0, kMaxSecondaryIndexes));
    header_.changed = true;
}

void TIndexFile::IncActiveRecords() {
    ++header_.activeRecords;
    header_.changed = true;
}

void TIndexFile::DecActiveRecords() {
    --header_.activeRecords;
    header_.changed = true;
}

void TIndexFile::SetActiveRecords(std::int32_t count) {
    if (header_.activeRecords == count) return;
    header_.activeRecords = count;
    header_.changed = true;
}

void TIndexFile::SetNoPrimaryFields(bool flag) {
    if (flag) {
        header_.slots[kPrimarySlot] = IndexDescriptor{};
        DropCache(kPrimarySlot);
    }
    if (header_.noPrimaryFields == flag && !flag) return;
    header_.noPrimaryFields = flag;
    header_.changed = true;
}

int TIndexFile::LockRead() {
    int n = 0;
    return LockReadByte(n) ? n : 0;
}

// ---- text index parameters ----------------------------------------------------------------

namespace {

// Walks the chain of raw data pages, placing each item whole on one page.
class TRawChainReader {
public:
    TRawChainReader(TIndexFile& file, TCursorContext* cursor) : file_(file), cursor_(cursor) {}

    void Start(std::uint32_t root) { Enter(root); }
    void Read(void* out, std::size_t size) {
        if (at_ + size > kPageDataSize) {
            const std::uint32_t next = page_->next;
            if (next == 0) Corrupt();
            Enter(next);
        }
        std::memcpy(out, page_->RawData() + at_, size);
        at_ += size;
    }
    std::uint32_t ReadLength() {
        std::uint8_t b[4];
        Read(b, 4);
        return indexbytes::GetU32(b);
    }

private:
    void Enter(std::uint32_t number) {
        page_ = TPageRef(file_.GetPage(cursor_, kTextSlot, number));
        if (!page_) Corrupt();
        if (page_->type != PageType::Raw) Corrupt();
        at_ = 0;
    }
    [[noreturn]] void Corrupt() { file_.Raise(err::IndexPagesCorrupt); }

    TIndexFile& file_;
    TCursorContext* cursor_;
    TPageRef page_;
    std::size_t at_ = 0;
};

class TRawChainWriter {
public:
    TRawChainWriter(TIndexFile& file, TCursorContext* cursor) : file_(file), cursor_(cursor) {}

    void Start() {
        std::uint32_t root = file_.GetDataRootPage(kTextSlot);
        if (root == 0) {
            page_ = TPageRef(file_.AllocatePage(cursor_, kTextSlot));
            page_->MakeRaw();
            file_.SetDataRootPage(kTextSlot, page_->pageNumber);
        } else {
            Enter(root);
        }
    }
    void Write(const void* data, std::size_t size) {
        if (at_ + size > kPageDataSize) Advance();
        std::memcpy(page_->RawData() + at_, data, size);
        page_->modified = true;
        at_ += size;
    }
    void WriteLength(std::uint32_t v) {
        std::uint8_t b[4];
        indexbytes::PutU32(b, v);
        Write(b, 4);
    }

private:
    void Enter(std::uint32_t number) {
        page_ = TPageRef(file_.GetPage(cursor_, kTextSlot, number));
        // Only raw data pages belong to the chain; anything else is not ours to overwrite.
        if (!page_ || page_->type != PageType::Raw) file_.Raise(err::IndexPagesCorrupt);
        const std::uint32_t next = page_->next;
        const std::uint32_t previous = page_->previous;
        page_->MakeRaw();  // a reused page is overwritten from position 0
        page_->next = next;
        page_->previous = previous;
        page_->modified = true;
        at_ = 0;
    }
    void Advance() {
        if (page_->next != 0) {
            Enter(page_->next);
            return;
        }
        TPageRef fresh(file_.AllocatePage(cursor_, kTextSlot));
        fresh->MakeRaw();
        page_->next = fresh->pageNumber;
        page_->modified = true;
        page_ = std::move(fresh);
        at_ = 0;
    }

    TIndexFile& file_;
    TCursorContext* cursor_;
    TPageRef page_;
    std::size_t at_ = 0;
};

}  // namespace

std::optional<TextIndexParameters> TIndexFile::ReadTextIndexParameters(TCursorContext* cursor) {
    const std::uint32_t root = GetDataRootPage(kTextSlot);
    if (root == 0) return std::nullopt;
    TRawChainReader reader(*this, cursor);
    reader.Start(root);
    TextIndexParameters result;
    const auto count = static_cast<std::int32_t>(reader.ReadLength());
    if (count < 0) Raise(err::IndexPagesCorrupt);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t length = reader.ReadLength();
        if (length > kPageDataSize) Raise(err::IndexPagesCorrupt);
        std::string word(length, '\0');
        if (length > 0) reader.Read(word.data(), length);
        result.stopWords.push_back(std::move(word));
    }
    for (auto* set : {&result.spaceCharacters, &result.includeCharacters}) {
        if (reader.ReadLength() != kCharacterSetSize) Raise(err::IndexPagesCorrupt);
        reader.Read(set->data(), kCharacterSetSize);
    }
    return result;
}

void TIndexFile::WriteTextIndexParameters(TCursorContext* cursor, const TextIndexParameters& parameters) {
    TRawChainWriter writer(*this, cursor);
    writer.Start();
    writer.WriteLength(static_cast<std::uint32_t>(parameters.stopWords.size()));
    for (const std::string& word : parameters.stopWords) {
        const std::size_t length = std::min(word.size(), kMaxStopWordLength);
        writer.WriteLength(static_cast<std::uint32_t>(length));
        if (length > 0) writer.Write(word.data(), length);
    }
    for (const auto* set : {&parameters.spaceCharacters, &parameters.includeCharacters}) {
        writer.WriteLength(kCharacterSetSize);
        writer.Write(set->data(), kCharacterSetSize);
    }
}

}  // namespace pixhold::engine
