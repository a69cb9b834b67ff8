// Open-time verification of the index file header and its repair.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "EngineError.h"
#include "IndexFile.h"
#include "IndexKey.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

bool ValidFirstCharacter(const std::string& name) {
    if (name.empty()) return false;
    const auto c = static_cast<std::uint8_t>(name[0]);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool IsTextField(const FieldDescriptor& f) {
    return f.type == fieldtype::String ||
           (f.type == fieldtype::Blob && (f.subtype == fieldsubtype::Memo || f.subtype == fieldsubtype::FormattedMemo));
}

// Whether the field number may stand at position i of the slot's list.
bool FieldUsable(const IndexDescriptor& d, int slot, int i, const std::vector<FieldDescriptor>& fields) {
    const std::uint16_t n = d.fieldNumbers[i];
    if (n == 0) {
        // A zero is allowed only where no non-zero number follows it.
        for (int j = i + 1; j < kMaxIndexFields; ++j)
            if (d.fieldNumbers[j] != 0) return false;
        return true;
    }
    if (n > fields.size()) return false;
    const FieldDescriptor& f = fields[n - 1];
    return slot == kTextSlot ? IsTextField(f) : f.type != fieldtype::Blob;
}

// The usable field numbers of a slot, in order.
std::vector<std::uint16_t> UsableFields(const IndexDescriptor& d, int slot, const std::vector<FieldDescriptor>& fields) {
    std::vector<std::uint16_t> found;
    for (int i = 0; i < kMaxIndexFields; ++i)
        if (d.fieldNumbers[i] != 0 && FieldUsable(d, slot, i, fields)) found.push_back(d.fieldNumbers[i]);
    return found;
}

int FieldBytes(const std::vector<std::uint16_t>& numbers, const std::vector<FieldDescriptor>& fields) {
    int sum = 0;
    for (std::uint16_t n : numbers) sum += KeySizeOf(fields[n - 1]) + 1;
    return sum;
}

}  // namespace

void TIndexFile::ValidateHeader(const std::vector<FieldDescriptor>& fields) const {
    const IndexFileHeader& h = header_;
    if (h.formatMark != kIndexFormatMark) Raise(err::WrongVersion);
    auto corrupt = [this]() { Raise(err::HeaderCorrupt); };
    if (h.secondaryCount > kMaxSecondaryIndexes) corrupt();
    const std::uint32_t pages = PageCount();
    auto validPointer = [pages](std::uint32_t p) { return p == 0 || p <= pages; };

    std::vector<int> slots;
    for (int s = 0; s <= h.secondaryCount; ++s) slots.push_back(s);
    slots.push_back(kDeletedSlot);
    slots.push_back(kTextSlot);
    for (int s : slots) {
        const IndexDescriptor& d = h.slots[s];
        if (d.temporary) continue;  // its pages are not in this file
        if (!validPointer(d.rootPage) || !validPointer(d.firstFreePage) || !validPointer(d.dataRootPage)) corrupt();
        if (d.compression > static_cast<std::uint8_t>(KeyCompression::Full)) corrupt();
        if (s == kDeletedSlot) {
            if (d.keyLength != kDeletedKeyLength) corrupt();
            continue;
        }
        if (s == kPrimarySlot) {
            if (!d.name.empty()) corrupt();
            if (h.noPrimaryFields) continue;
            if (!d.unique) corrupt();
        } else if (s != kTextSlot) {
            if (!ValidFirstCharacter(d.name)) corrupt();
            for (int t = 1; t <= h.secondaryCount; ++t)
                if (t != s && SameTrimmedName(h.slots[t].name, d.name)) corrupt();
        }
        if (d.fieldCount > kMaxIndexFields) corrupt();
        for (int i = 0; i < kMaxIndexFields; ++i)
            if (!FieldUsable(d, s, i, fields)) corrupt();
        const std::vector<std::uint16_t> found = UsableFields(d, s, fields);
        // Keys are built and pages decoded with these figures, so they must agree.
        if (found.size() != d.fieldCount) corrupt();
        if (s == kTextSlot) {
            if (d.keyLength != kTextKeyLength) corrupt();
            continue;
        }
        const int bytes = FieldBytes(found, fields);
        if (bytes == 0 || bytes > kMaxKeyFieldBytes) corrupt();
        if (d.keyLength != bytes + (d.unique ? 0 : 4)) corrupt();
    }
}

bool TIndexFile::RepairHeader(TCursorContext& cursor, bool verifyOnly, const std::vector<FieldDescriptor>& fields) {
    IndexFileHeader work = header_;
    bool clean = true;
    auto report = [&](const std::string& message, const char* fixed = ", error fixed") {
        clean = false;
        cursor.LogMessage(verifyOnly ? message : message + fixed);
    };
    const int count = std::min<int>(work.secondaryCount, kMaxSecondaryIndexes);
    const std::uint32_t pages = work.nextPage > 0 ? work.nextPage - 1 : 0;
    auto validPointer = [pages](std::uint32_t p) { return p == 0 || p <= pages; };

    std::vector<int> slots;
    for (int s = 0; s <= count; ++s) slots.push_back(s);
    slots.push_back(kTextSlot);
    for (int s : slots) {
        IndexDescriptor& d = work.slots[s];
        // Whatever its field count says (a damaged one is mended below): the
        // key length depends on the unique mark.
        if (s == kPrimarySlot && !verifyOnly) {
            d.name.clear();
            d.unique = true;
        }
        if (s != kPrimarySlot && s != kTextSlot) {
            if (!ValidFirstCharacter(d.name)) {
                report("Invalid index name for index " + d.name);
                if (!verifyOnly) d.name = ("_" + d.name).substr(0, kMaxIndexNameLength);
            }
            for (int t = 1; t < s; ++t) {
                if (SameTrimmedName(work.slots[t].name, d.name)) {
                    report("Duplicate index name for index " + d.name);
                    if (!verifyOnly) d.name = ("_" + d.name).substr(0, kMaxIndexNameLength);
                    break;
                }
            }
        }
        // Field numbers: a zero before a non-zero one, or one that names no
        // field the index may use, is removed and the later ones move up.
        for (int i = 0; i < kMaxIndexFields;) {
            if (FieldUsable(d, s, i, fields)) {
                ++i;
                continue;
            }
            report("Invalid field number " + std::to_string(d.fieldNumbers[i]) + " in index " + d.name,
                   ", error fixed and field removed from index");
            if (verifyOnly) {
                ++i;
                continue;
            }
            for (int j = i; j + 1 < kMaxIndexFields; ++j) {
                d.fieldNumbers[j] = d.fieldNumbers[j + 1];
                d.fieldDescending[j] = d.fieldDescending[j + 1];
            }
            d.fieldNumbers[kMaxIndexFields - 1] = 0;
            d.fieldDescending[kMaxIndexFields - 1] = 0;
        }
        const std::vector<std::uint16_t> found = UsableFields(d, s, fields);
        if (s == kPrimarySlot) {
            if (work.noPrimaryFields && !found.empty()) {
                report("Invalid internal primary index flag in header");
                if (!verifyOnly) work.noPrimaryFields = false;
            }
            if (found.empty()) {
                if (!work.noPrimaryFields) report("Invalid internal primary index flag in header");
                if (!verifyOnly) {
                    work.noPrimaryFields = true;
                    d = IndexDescriptor{};
                }
                continue;
            }
        }
        if (s != kTextSlot) {
            const int bytes = FieldBytes(found, fields);
            const int keyLength = bytes + (d.unique ? 0 : 4);
            if (bytes > kMaxKeyFieldBytes || (bytes == 0 && s != kPrimarySlot)) {
                report("Invalid key size of " + std::to_string(keyLength) + " for index " + d.name,
                       ", error fixed and index removed");
                if (!verifyOnly) d.removeMark = 1;
                continue;
            }
            if (d.keyLength != keyLength) {
                report("Invalid key size of " + std::to_string(d.keyLength) + " for index " + d.name);
                if (!verifyOnly) d.keyLength = static_cast<std::uint16_t>(keyLength);
            }
        }
        if (d.fieldCount != found.size()) {
            report("Invalid key field count of " + std::to_string(d.fieldCount) + " for index " + d.name);
            if (!verifyOnly) d.fieldCount = static_cast<std::uint8_t>(found.size());
        }
        if (d.compression > static_cast<std::uint8_t>(KeyCompression::Full)) {
            report("Invalid key compression for index " + d.name);
            if (!verifyOnly) d.compression = static_cast<std::uint8_t>(KeyCompression::None);
        }
        // Bad page pointers are only reported: the table repair rebuilds the pages.
        if (!validPointer(d.rootPage)) {
            clean = false;
            cursor.LogMessage("Invalid root page pointer for index " + d.name);
        }
        if (!validPointer(d.firstFreePage)) {
            clean = false;
            cursor.LogMessage("Invalid free page pointer for index " + d.name);
        }
        if (!validPointer(d.dataRootPage)) {
            clean = false;
            cursor.LogMessage("Invalid data root page pointer for index " + d.name);
        }
    }
    // "Sys Deleted" gets its creation values back below, but its pages stay:
    // bad pointers to them are reported like those of the other slots.
    const IndexDescriptor& deletedSlot = work.slots[kDeletedSlot];
    for (const auto& [pointer, what] : {std::pair{deletedSlot.rootPage, "root"},
                                        {deletedSlot.firstFreePage, "free"},
                                        {deletedSlot.dataRootPage, "data root"}}) {
        if (validPointer(pointer)) continue;
        clean = false;
        cursor.LogMessage("Invalid " + std::string(what) + " page pointer for index " + kDeletedIndexName);
    }
    if (verifyOnly) return clean;

    header_ = work;
    for (int s = count; s >= 1; --s)
        if (header_.slots[s].removeMark != 0) RemoveSlot(s);
    // The internal slots go back to their creation values; their pages stay.
    IndexDescriptor& deleted = header_.slots[kDeletedSlot];
    IndexDescriptor freshDeleted = DeletedIndexDescriptor();
    freshDeleted.rootPage = deleted.rootPage;
    freshDeleted.firstFreePage = deleted.firstFreePage;
    freshDeleted.dataRootPage = deleted.dataRootPage;
    deleted = freshDeleted;
    IndexDescriptor& text = header_.slots[kTextSlot];
    text.name = kTextIndexName;
    text.keyLength = kTextKeyLength;
    text.compression = static_cast<std::uint8_t>(KeyCompression::Full);
    text.unique = false;
    header_.formatMark = kIndexFormatMark;
    header_.changed = true;
    return clean;
}

}  // namespace pixhold::engine
