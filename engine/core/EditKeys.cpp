#include "EditKeys.h"

#include "DataTable.h"

namespace pixhold::engine {

namespace {

// The parts of an index definition that its keys are built and compared by.
bool SameShape(const IndexDescriptor& a, const IndexDescriptor& b) {
    if (a.name != b.name || a.fieldCount != b.fieldCount || a.unique != b.unique || a.descending != b.descending ||
        a.caseInsensitive != b.caseInsensitive || a.keyLength != b.keyLength)
        return false;
    for (int i = 0; i < a.fieldCount && i < kMaxIndexFields; ++i)
        if (a.fieldNumbers[i] != b.fieldNumbers[i] || a.fieldDescending[i] != b.fieldDescending[i]) return false;
    return true;
}

}  // namespace

TEditKeys::TEditKeys(TDataTable& table) : primaryHasFields_(table.PrimaryIndexHasFields()) {
    for (int slot = 0; slot < table.IndexCount(); ++slot) shapes_.push_back(table.IndexDefinition(slot));
    const std::uint32_t locale = table.DataFile().Header().Locale();
    const bool languageZero = table.DataFile().Header().languageID == 0;
    auto make = [&](int number) {
        Slot s;
        s.slot = number;
        const IndexDescriptor& d = table.IndexDefinition(number);
        s.name = number == kDeletedSlot ? std::string(kDeletedIndexName) : d.name;
        s.layout = std::make_unique<TKeyLayout>(TKeyLayout::For(d, number, table.Fields()));
        s.unique = number == kDeletedSlot || s.layout->unique;
        s.comparer = std::make_unique<TKeyComparer>(*s.layout, locale);
        s.builder = std::make_unique<TKeyBuilder>(*s.layout, table.DataFile().Locale(), languageZero);
        return s;
    };
    auto add = [&](int number) { slots_.push_back(make(number)); };
    if (table.PrimaryIndexHasFields()) add(kPrimarySlot);
    for (int slot = 1; slot < table.IndexCount(); ++slot) add(slot);
    add(kDeletedSlot);
    if (table.IndexDefinition(kTextSlot).fieldCount > 0) {
        text_ = make(kTextSlot);
        const auto stored = table.IndexFile().ReadTextIndexParameters(nullptr);
        textParameters_ = stored ? *stored : DefaultTextParameters();
    }
}

TextIndexParameters TEditKeys::DefaultTextParameters() {
    TextIndexParameters p;
    p.stopWords = {"A",  "AN",   "AND",  "BE",   "FOR",   "HOW", "IN",  "IS",   "IT",    "OF",  "ON",
                   "OR", "THAT", "THE",  "THIS", "TO",    "WAS", "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
    auto set = [](std::array<std::uint8_t, 32>& bits, unsigned c) { bits[c / 8] |= static_cast<std::uint8_t>(1u << (c % 8)); };
    for (unsigned c = 1; c <= 32; ++c) set(p.spaceCharacters, c);
    for (const char c : std::string("*+,-./:;<=>\\`")) set(p.spaceCharacters, static_cast<unsigned char>(c));
    for (unsigned c = '0'; c <= '9'; ++c) set(p.includeCharacters, c);
    for (unsigned c = 'A'; c <= 'Z'; ++c) set(p.includeCharacters, c);
    for (unsigned c = 'a'; c <= 'z'; ++c) set(p.includeCharacters, c);
    set(p.includeCharacters, '_');
    for (unsigned c = 128; c <= 254; ++c) set(p.includeCharacters, c);
    return p;
}

bool TEditKeys::Current(TDataTable& table) const {
    if (table.PrimaryIndexHasFields() != primaryHasFields_ || table.IndexCount() != static_cast<int>(shapes_.size()))
        return false;
    for (int slot = 0; slot < table.IndexCount(); ++slot)
        if (!SameShape(table.IndexDefinition(slot), shapes_[static_cast<std::size_t>(slot)])) return false;
    return true;
}

bool TEditKeys::Holds(TIndexFile& file, const Slot& slot, const std::uint8_t* key) {
    TIndexTree tree = slot.Tree(file);
    TIndexPath path;
    bool exact = false;
    tree.Seek(key, path, exact);
    return path.depth != 0 && exact;
}

}  // namespace pixhold::engine
