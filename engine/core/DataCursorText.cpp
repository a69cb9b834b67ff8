// The upkeep of the "Sys Text" index by a cursor's changes: the words of the
// text-indexed string and memo fields, one 68-byte key per field and word
// (presence byte, field number, the word upper-cased and zero-padded to 61
// bytes, the record identifier).

#include <cstring>

#include "BlobFile.h"
#include "DataCursor.h"
#include "DataTable.h"
#include "EngineError.h"
#include "IndexKey.h"

namespace pixhold::engine {

namespace {

constexpr std::size_t kWordBytes = 61;

bool InSet(const std::array<std::uint8_t, 32>& bits, unsigned char c) { return (bits[c / 8] >> (c % 8)) & 1u; }

}  // namespace

std::vector<std::string> SplitTextWords(const std::string& text, const TextIndexParameters& parameters) {
    std::vector<std::string> words;
    std::string word;
    auto end = [&] {
        if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
        word.clear();
    };
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (InSet(parameters.spaceCharacters, c)) {
            end();
        } else if (InSet(parameters.includeCharacters, c) && word.size() < kWordBytes) {
            word += ch;
        }
        // Any other character is dropped without ending the word ("don't" is "dont").
    }
    end();
    return words;
}

std::string TDataCursor::TextFieldText(std::uint16_t field, const std::uint8_t* image) {
    const FieldDescriptor& f = fields_[field - 1];
    if (f.type != fieldtype::Blob) return recordbuffer::Text(f, image);
    if (const OpenBlobBuffer* blob = BlobOf(field, image)) return {blob->value.begin(), blob->value.end()};
    if (!recordbuffer::IsPresent(f, image) || !table_->BlobFileOpen()) return {};
    const auto slot = recordbuffer::GetBlobSlot(f, image);
    if (slot.firstBlock == 0 || static_cast<std::int32_t>(slot.firstBlock) < 0) return {};
    std::vector<std::uint8_t> value;
    if (!table_->BlobFile().ReadValue(nullptr, slot.firstBlock, slot.ownerID, value)) Raise(err::BlobBuffersCorrupt);
    return {value.begin(), value.end()};
}

TDataCursor::TextWords TDataCursor::TextWordsOf(const std::uint8_t* image, const std::uint8_t* changesIn) {
    TextWords result;
    const TEditKeys::Slot* text = Keys().Text();
    if (text == nullptr) return result;
    const IndexDescriptor& d = table_->IndexDefinition(kTextSlot);
    const TextIndexParameters& parameters = Keys().TextParameters();
    const TableLocale& locale = table_->DataFile().Locale();
    for (int i = 0; i < d.fieldCount && i < kMaxIndexFields; ++i) {
        const std::uint16_t field = d.fieldNumbers[i];
        if (field < 1 || field > fields_.size()) continue;
        if (changesIn != nullptr && fields_[field - 1].type == fieldtype::Blob) {
            // A memo counts only when its BLOB was changed in this edit.
            const OpenBlobBuffer* blob = BlobOf(field, changesIn);
            if (blob == nullptr || !blob->modified) continue;
        }
        std::set<std::string>& words = result[field];
        for (const std::string& word : SplitTextWords(TextFieldText(field, image), parameters)) {
            std::string upper = locale.ToUpper(word);
            if (std::find(parameters.stopWords.begin(), parameters.stopWords.end(), upper) !=
                parameters.stopWords.end())
                continue;
            if (upper.size() > kWordBytes) upper.resize(kWordBytes);
            words.insert(upper);
        }
    }
    return result;
}

bool TDataCursor::UpdateTextIndex(const TextWords& oldWords, std::uint32_t oldID, const TextWords& newWords,
                                  std::uint32_t newID, std::uint32_t record) {
    const TEditKeys::Slot* text = Keys().Text();
    if (text == nullptr) return false;
    TIndexTree tree = text->Tree(table_->IndexFile());
    auto key = [](std::uint16_t field, const std::string& word, std::uint32_t id) {
        std::vector<std::uint8_t> k(kTextKeyLength, 0);
        k[0] = 1;
        k[1] = static_cast<std::uint8_t>(field >> 8);
        k[2] = static_cast<std::uint8_t>(field & 0xff);
        std::memcpy(k.data() + 3, word.data(), std::min(word.size(), kWordBytes));
        keycodec::PutInt32(k.data() + 3 + kWordBytes, static_cast<std::int32_t>(id));
        return k;
    };
    static const std::set<std::string> kNone;
    std::set<std::uint16_t> fields;
    for (const auto& [field, words] : oldWords) fields.insert(field);
    for (const auto& [field, words] : newWords) fields.insert(field);
    bool changed = false;
    for (const std::uint16_t field : fields) {
        const auto o = oldWords.find(field);
        const auto n = newWords.find(field);
        const std::set<std::string>& before = o == oldWords.end() ? kNone : o->second;
        const std::set<std::string>& after = n == newWords.end() ? kNone : n->second;
        for (const std::string& word : before) {
            if (oldID == newID && after.count(word) != 0) continue;
            tree.DeleteKey(key(field, word, oldID).data());
            changed = true;
        }
        for (const std::string& word : after) {
            if (oldID == newID && before.count(word) != 0) continue;
            tree.InsertKey(key(field, word, newID).data(), record);
            changed = true;
        }
    }
    return changed;
}

}  // namespace pixhold::engine
