#include "EditKeys.h"

#include "DataTable.h"

namespace pixhold::engine {

namespace {

void AddBytes(std::string& out, const IndexDescriptor& d) {
    out += d.name;
    out += '\0';
    out += static_cast<char>(d.fieldCount);
    out += static_cast<char>((d.unique ? 1 : 0) | (d.descending ? 2 : 0) | (d.caseInsensitive ? 4 : 0));
    for (int i = 0; i < d.fieldCount && i < kMaxIndexFields; ++i) {
        out += static_cast<char>(d.fieldNumbers[i] & 0xff);
        out += static_cast<char>(d.fieldNumbers[i] >> 8);
        out += static_cast<char>(d.fieldDescending[i]);
    }
    out += static_cast<char>(d.keyLength & 0xff);
    out += static_cast<char>(d.keyLength >> 8);
}

}  // namespace

std::string TEditKeys::Signature(TDataTable& table) {
    std::string s;
    s += table.PrimaryIndexHasFields() ? 'P' : 'N';
    for (int slot = 0; slot < table.IndexCount(); ++slot) AddBytes(s, table.IndexDefinition(slot));
    return s;
}

TEditKeys::TEditKeys(TDataTable& table) : signature_(Signature(table)) {
    const std::uint32_t locale = table.DataFile().Header().Locale();
    const bool languageZero = table.DataFile().Header().languageID == 0;
    auto add = [&](int number) {
        Slot s;
        s.slot = number;
        const IndexDescriptor& d = table.IndexDefinition(number);
        s.name = number == kDeletedSlot ? std::string(kDeletedIndexName) : d.name;
        s.layout = std::make_unique<TKeyLayout>(TKeyLayout::For(d, number, table.Fields()));
        s.unique = number == kDeletedSlot || s.layout->unique;
        s.comparer = std::make_unique<TKeyComparer>(*s.layout, locale);
        s.builder = std::make_unique<TKeyBuilder>(*s.layout, table.DataFile().Locale(), languageZero);
        slots_.push_back(std::move(s));
    };
    if (table.PrimaryIndexHasFields()) add(kPrimarySlot);
    for (int slot = 1; slot < table.IndexCount(); ++slot) add(slot);
    add(kDeletedSlot);
}

bool TEditKeys::Current(TDataTable& table) const { return Signature(table) == signature_; }

bool TEditKeys::Holds(TIndexFile& file, const Slot& slot, const std::uint8_t* key) {
    TIndexTree tree = slot.Tree(file);
    TIndexPath path;
    bool exact = false;
    tree.Seek(key, path, exact);
    return path.depth != 0 && exact;
}

}  // namespace pixhold::engine
