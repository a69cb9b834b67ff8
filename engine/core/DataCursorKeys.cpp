// Key searches, ranges, bookmarks, standing on another cursor's record, and
// cloning.

#include <algorithm>
#include <cstring>

#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataTable.h"
#include "EngineError.h"

namespace pixhold::engine {

namespace {

// U+FFFF, which every collation sorts after all characters: the highest text.
constexpr std::uint8_t kHighestText[3] = {0xEF, 0xBF, 0xBF};

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

// Key bytes of the first `fieldCount` fields (each a null flag and its value).
int TDataCursor::FieldBytesOf(int fieldCount) const {
    int bytes = 0;
    for (int i = 0; i < fieldCount && i < static_cast<int>(layout_.parts.size()); ++i)
        bytes += layout_.parts[i].keySize + 1;
    return bytes;
}

// A range bound as a whole key: a bound for fewer fields than the index has
// (or any bound of an index that is not unique, whose keys end in the record
// identifier) is padded after its fields with the lowest value (low bound) or
// the highest (high bound), reversed for a descending index. A missing bound
// leaves that end of the range open.
std::vector<std::uint8_t> TDataCursor::PaddedBound(bool isKey, const std::uint8_t* bound, int fieldCount,
                                                   bool high) const {
    const int partCount = static_cast<int>(layout_.parts.size());
    std::vector<std::uint8_t> key(layout_.keyLength, 0);
    int padFrom = 0;
    if (bound != nullptr) {
        if (isKey) std::memcpy(key.data(), bound, key.size());
        else builder_->Build(bound, key.data());
        if (fieldCount >= 1 && fieldCount < partCount) padFrom = FieldBytesOf(fieldCount);
        else if (!layout_.unique) padFrom = FieldBytesOf(partCount);
        else padFrom = layout_.keyLength;
    }
    const bool highest = high != layout_.descending;
    const bool collated = table_->DataFile().Header().languageID != 0;
    int at = 0;
    for (const KeyPart& part : layout_.parts) {
        const int end = at + 1 + part.keySize;
        for (int i = std::max(at, padFrom); i < end; ++i) key[i] = highest ? 0xFF : 0x00;
        if (highest && collated && part.IsString() && at >= padFrom) {
            // Collated text sorts by characters, not bytes: the highest is a
            // run of the highest character, zero-terminated.
            std::fill(key.begin() + at + 1, key.begin() + end, 0);
            for (int i = at + 1; i + 3 < end; i += 3) std::memcpy(&key[i], kHighestText, 3);
        }
        at = end;
    }
    for (int i = std::max(at, padFrom); i < layout_.keyLength; ++i) key[i] = highest ? 0xFF : 0x00;
    return key;
}

void TDataCursor::SetRange(bool isKey, const std::uint8_t* low, int lowFieldCount, const std::uint8_t* high,
                           int highFieldCount) {
    CheckOpen();
    if (physicalOrder_) return;
    Guarded([&] {
        rangeLow_ = PaddedBound(isKey, low, lowFieldCount, false);
        rangeHigh_ = PaddedBound(isKey, high, highFieldCount, true);
        rangeActive_ = true;
        ComputeRangePositions();
        MoveToBegin();
    });
}

void TDataCursor::ResetRange() {
    CheckOpen();
    if (physicalOrder_) return;
    Guarded([&] {
        rangeActive_ = false;
        rangeLow_.clear();
        rangeHigh_.clear();
        ComputeRangePositions();
        MoveToBegin();
    });
}

bool TDataCursor::FindKey(bool isKey, const std::uint8_t* keyOrRecord, std::uint8_t* outRecord, int fieldCount,
                          int partialLength, [[maybe_unused]] bool nearest) {
    CheckOpen();
    if (physicalOrder_) return false;
    // An exact and a nearest search stand on the same key, the first not less
    // than the one sought; the result tells whether it is the one sought.
    bool found = false;
    Guarded([&] {
        std::vector<std::uint8_t> key(layout_.keyLength, 0);
        if (isKey) std::memcpy(key.data(), keyOrRecord, key.size());
        else builder_->Build(keyOrRecord, key.data());
        const int partCount = static_cast<int>(layout_.parts.size());
        const bool partial = (fieldCount >= 1 && fieldCount < partCount) || !layout_.unique ||
                             (fieldCount == 0 && partialLength > 0);
        std::size_t compared = key.size();
        if (partial) {
            const int fields = (fieldCount == 0 && partialLength <= 0) ? partCount : std::min(fieldCount, partCount);
            int length = FieldBytesOf(fields);
            if (partialLength > 0) length += partialLength + 1;
            compared = std::min<std::size_t>(static_cast<std::size_t>(length), key.size());
            std::fill(key.begin() + static_cast<std::ptrdiff_t>(compared), key.end(),
                      layout_.descending ? 0xFF : 0x00);
        }
        if (!StandNearest(key.data())) {
            // Past the last key: on the last record.
            if (!GoLast()) {
                SetNothing();
                if (outRecord != nullptr) std::memset(outRecord, 0, recordSize_);
                return;
            }
        }
        found = comparer_->CompareKeys(pos_.key.data(), key.data(), compared) == 0;
        ReadCurrent(outRecord);
    });
    return found;
}

// ---- bookmarks ---------------------------------------------------------------------------------------

TBookmark TDataCursor::GetBookmark() {
    CheckOpen();
    TBookmark bookmark;
    Guarded([&] {
        const bool on = !pos_.bottom && !pos_.top;
        if (physicalOrder_) {
            const std::uint32_t n = on ? pos_.record : 0;
            bookmark = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                        static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
        } else {
            bookmark = on ? pos_.key : TBookmark(layout_.keyLength, 0);
        }
    });
    return bookmark;
}

bool TDataCursor::SetToBookmark(const TBookmark& bookmark, bool nearest) {
    CheckOpen();
    bool result = false;
    Guarded([&] {
        const std::size_t expected = physicalOrder_ ? 4u : layout_.keyLength;
        if (bookmark.size() != expected) return;
        if (physicalOrder_) StandPhysical(Le32(bookmark.data()), true);
        else StandNearest(bookmark.data());
        if (pos_.bottom || pos_.top) return;
        ReadCurrent(nullptr);
        result = nearest || CompareBookmarks(GetBookmark(), bookmark) == 0;
    });
    return result;
}

int TDataCursor::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
    if (physicalOrder_ || !comparer_ || a.size() != layout_.keyLength || b.size() != layout_.keyLength) {
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
        if (a.size() == 4) {
            const std::uint32_t x = Le32(a.data());
            const std::uint32_t y = Le32(b.data());
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        const int c = std::memcmp(a.data(), b.data(), a.size());
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return comparer_->CompareKeys(a.data(), b.data());
}

// ---- another cursor's record ----------------------------------------------------------------------------

int TDataCursor::SetToCursor(TDataCursor& other) {
    CheckOpen();
    std::vector<std::uint8_t> image(other.RecordSize(), 0);
    const bool otherOn = other.IsOpen() && &other.Table() == table_ && other.GetCurrentRecord(image.data()) == 0;
    const std::uint32_t otherRecord = otherOn ? other.CurrentRecordNumber() : 0;
    int result = 0;
    Guarded([&] {
        if (physicalOrder_) {
            const bool found = otherOn && StandPhysical(otherRecord, true) && pos_.record == otherRecord;
            if (!found) result = err::RecordNotFound;
        } else if (!otherOn) {
            result = err::RecordNotFound;
        } else {
            const std::vector<std::uint8_t> key = builder_->Build(image.data());
            const bool stood = StandNearest(key.data());
            if (!stood || comparer_->CompareKeys(pos_.key.data(), key.data()) != 0) result = err::RecordNotFound;
        }
        if (!pos_.bottom && !pos_.top) ReadCurrent(nullptr);
    });
    return result;
}

std::unique_ptr<TDataCursor> TDataCursor::CloneCursor() {
    CheckOpen();
    auto clone = std::make_unique<TDataCursor>(directory_);
    clone->TableName = TableName;
    clone->Exclusive = Exclusive;
    clone->ReadOnly = ReadOnly;
    clone->InMemory = InMemory;
    clone->ResultCursor = ResultCursor && slot_ == kNoIndex;
    clone->OnPasswordRequest = OnPasswordRequest;
    clone->OnMessage = OnMessage;
    clone->OpenCursor();
    if (slot_ != kNoIndex) clone->SetIndexName(indexName_);
    for (const auto& f : filters_) {
        TFilter* copy = nullptr;
        switch (f->kind_) {
            case TFilter::Kind::Expression:
                copy = f->parsed_ ? clone->AddFilter(f->parsed_->Clone(), f->options_)
                                  : clone->AddFilter(std::string_view(f->text_), f->options_);
                break;
            case TFilter::Kind::Callback: copy = clone->AddFilter(f->callback_, f->dataset_, f->options_); break;
            case TFilter::Kind::Custom: copy = clone->AddFilter(f->custom_->Clone(), f->options_); break;
        }
        if (f->active_) clone->ActivateFilter(copy);
    }
    if (rangeActive_) {
        // The bounds are whole keys already: copied as they are.
        clone->Guarded([&] {
            clone->rangeLow_ = rangeLow_;
            clone->rangeHigh_ = rangeHigh_;
            clone->rangeActive_ = true;
            clone->ComputeRangePositions();
            clone->MoveToBegin();
        });
    }
    // Where the record is not to be found the clone stands on the nearest
    // one, as a search does.
    if (!pos_.bottom && !pos_.top) (void)clone->SetToCursor(*this);
    else if (pos_.top && !pos_.bottom) clone->SetToEnd();
    return clone;
}

}  // namespace pixhold::engine
