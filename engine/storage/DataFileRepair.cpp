#include <algorithm>
#include <string>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "DataFile.h"
#include "EngineError.h"
#include "ValueText.h"

namespace pixhold::engine {
namespace {

bool ValidFirstCharacter(const std::string& name) {
    if (name.empty()) return false;
    const auto c = static_cast<unsigned char>(name[0]);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool IsBlank(const std::string& name) { return name.find_first_not_of(' ') == std::string::npos; }

bool SameName(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b), U_FOLD_CASE_DEFAULT) == 0;
}

bool DeclaredSizeValid(const FieldDescriptor& f) {
    if (TypeHasDeclaredSize(f.type)) return f.size >= 1 && f.size <= 250;
    return f.size == 0;
}

// The findings of one verify or repair run, each logged as it is made.
class FindingLog {
public:
    FindingLog(TCursorContext& cursor, bool verifyOnly) : cursor_(cursor), verifyOnly_(verifyOnly) {}

    // A finding whose message ends "<tail>" when verifying and "<tail>, error fixed"
    // (or ", error cannot be fixed") when repairing.
    void Report(const std::string& message, bool fixable = true) {
        found_ = true;
        if (verifyOnly_) {
            cursor_.LogMessage(message);
        } else {
            cursor_.LogMessage(message + (fixable ? ", error fixed" : ", error cannot be fixed"));
        }
    }
    bool Mend() const { return !verifyOnly_; }
    bool Found() const { return found_; }

private:
    TCursorContext& cursor_;
    bool verifyOnly_;
    bool found_ = false;
};

std::string CutName(const std::string& name) { return name.substr(0, datafile::kFieldNameLength); }

}  // namespace

void TDataFile::ValidateHeader() {
    if (header_.formatMark != datafile::kFormatMark) Raise(err::WrongVersion);
    if (header_.languageID != 0 && !TableLocale::IsInstalled(header_.Locale())) Raise(err::LanguageNotAvailable);
    const std::vector<std::uint32_t> offsets = ExpectedFieldOffsets(fields_);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const FieldDescriptor& f = fields_[i];
        bool bad = IsBlank(f.name) || !ValidFirstCharacter(f.name) || f.name.size() > datafile::kFieldNameLength;
        for (std::size_t j = 0; j < i && !bad; ++j) {
            bad = SameName(fields_[j].name, f.name) || fields_[j].number == f.number;
        }
        bad = bad || !KnownFieldType(f.type) || !DeclaredSizeValid(f) ||
              f.physicalSize != PhysicalSizeOf(f.type, f.size);
        bad = bad || !CheckValueText(f.type, f.minimum) || !CheckValueText(f.type, f.maximum) ||
              !CheckValueText(f.type, f.defaultValue);
        bad = bad || (f.decimals != 0 && f.type != fieldtype::Decimal);
        bad = bad || f.offset != offsets[i] || f.number != static_cast<std::int16_t>(i + 1);
        if (bad) Raise(err::HeaderCorrupt);
    }
    const std::uint32_t recordSize = ComputeRecordSize(fields_);
    if (recordSize != header_.recordSize || recordSize == 0) Raise(err::HeaderCorrupt);
    const std::int64_t length = GetFileSize();
    const auto start = static_cast<std::int64_t>(DataStart());
    if (length < start || (length - start) % recordSize != 0) Raise(err::HeaderCorrupt);
    const auto records = static_cast<std::uint64_t>((length - start) / recordSize);
    if (header_.nextRecordNumber != records + 1) Raise(err::HeaderCorrupt);
    if (static_cast<std::int32_t>(header_.firstFree) < 0 || header_.firstFree > records) Raise(err::HeaderCorrupt);
}

bool TDataFile::HeaderMendable() const {
    // A table has fields: a count of 0 has lost where the records start.
    if (fields_.empty()) return false;
    // A size of 0 is derived back from the physical size while the physical
    // sizes still lay the fields out where the offsets say.
    bool layoutFits = ComputeRecordSize(fields_) == header_.recordSize;
    const std::vector<std::uint32_t> layout = ExpectedFieldOffsets(fields_);
    for (std::size_t i = 0; i < fields_.size(); ++i) layoutFits = layoutFits && fields_[i].offset == layout[i];
    return std::all_of(fields_.begin(), fields_.end(), [layoutFits](const FieldDescriptor& f) {
        const int fromPhysical = f.physicalSize - (f.type == fieldtype::String ? 1 : 0);
        return KnownFieldType(f.type) &&
               (!TypeHasDeclaredSize(f.type) || f.size != 0 || (layoutFits && fromPhysical >= 1));
    });
}

bool TDataFile::LayoutFits() const {
    const std::vector<std::uint32_t> offsets = ExpectedFieldOffsets(fields_);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const FieldDescriptor& f = fields_[i];
        if (!KnownFieldType(f.type) || !DeclaredSizeValid(f) || f.physicalSize != PhysicalSizeOf(f.type, f.size) ||
            f.offset != offsets[i])
            return false;
    }
    const std::uint32_t recordSize = ComputeRecordSize(fields_);
    return recordSize == header_.recordSize && recordSize != 0;
}

bool TDataFile::RepairHeader(TCursorContext& cursor, bool verifyOnly) {
    FindingLog log(cursor, verifyOnly);
    // When the physical sizes still lay the fields out where the offsets and
    // the record size say, they are right and a declared size that disagrees
    // is the damaged one: it is derived back from the physical size, so that
    // no field moves.
    auto fits = [this](const std::vector<FieldDescriptor>& fields) {
        if (ComputeRecordSize(fields) != header_.recordSize) return false;
        const std::vector<std::uint32_t> layout = ExpectedFieldOffsets(fields);
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].offset != layout[i]) return false;
        return true;
    };
    bool physicalSizesFit = fits(fields_);
    // Likewise a read-only flag that takes a field's room away, when the
    // fields lie where they would with the room.
    if (!physicalSizesFit) {
        std::vector<FieldDescriptor> withRoom = fields_;
        for (FieldDescriptor& f : withRoom) f.readOnly = 0;
        if (fits(withRoom)) {
            physicalSizesFit = true;
            for (FieldDescriptor& f : fields_) {
                if (f.readOnly == 0 || f.IsAutoInc()) continue;
                log.Report("Invalid read-only flag for field " + f.name + " in table header");
                if (log.Mend()) f.readOnly = 0;
            }
        }
    }
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        FieldDescriptor& f = fields_[i];
        const std::string n = std::to_string(i + 1);
        const std::string inHeader = " in table header";

        if (IsBlank(f.name)) {
            log.Report("Invalid field name (blank) for field # " + n + inHeader);
            if (log.Mend()) f.name = "Repaired_Fld" + n;
        } else if (!ValidFirstCharacter(f.name)) {
            log.Report("Invalid field name (first character) for field " + f.name + inHeader);
            if (log.Mend()) f.name = CutName("_" + f.name);
        }
        if (f.name.size() > datafile::kFieldNameLength) {
            log.Report("Invalid field name (too long) for field " + f.name + inHeader);
            if (log.Mend()) f.name = CutName(f.name);
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (!SameName(fields_[j].name, f.name)) continue;
            log.Report("Invalid field name (duplicate) for field " + f.name + inHeader);
            // The number goes after a "_": a name must not begin with a digit.
            if (log.Mend()) f.name = CutName("_" + n + f.name);
            break;
        }
        if (!KnownFieldType(f.type)) {
            log.Report("Invalid field data type (Unknown) for field " + f.name + inHeader, false);
        }
        // A mended size, or a physical size that does not follow from it, gets
        // the physical size derived again.
        bool derive = false;
        if (TypeHasDeclaredSize(f.type)) {
            const std::string sized = "Invalid field length for field " + f.name + inHeader + " (" +
                                      std::to_string(f.size) + ")";
            const int fromPhysical = f.physicalSize - (f.type == fieldtype::String ? 1 : 0);
            if (physicalSizesFit && f.physicalSize != PhysicalSizeOf(f.type, f.size) && fromPhysical >= 1 &&
                fromPhysical <= 250) {
                log.Report(sized);
                if (log.Mend()) f.size = static_cast<std::uint8_t>(fromPhysical);
            } else if (f.size > 250) {
                log.Report(sized);
                f.size = log.Mend() ? 250 : f.size;
                derive = true;
            } else if (f.size == 0) {
                log.Report(sized, false);
            } else if (f.physicalSize != PhysicalSizeOf(f.type, f.size)) {
                log.Report(sized);
                derive = true;
            }
        } else if (KnownFieldType(f.type) &&
                   (f.size != 0 || f.physicalSize != PhysicalSizeOf(f.type, f.size))) {
            log.Report("Invalid field length for field " + f.name + inHeader);
            f.size = log.Mend() ? 0 : f.size;
            derive = true;
        }
        if (derive && log.Mend()) f.physicalSize = static_cast<std::uint8_t>(PhysicalSizeOf(f.type, f.size));
        if (!CheckValueText(f.type, f.defaultValue)) {
            log.Report("Invalid default value for field " + f.name + inHeader);
            if (log.Mend()) f.defaultValue.clear();
        }
        if (!CheckValueText(f.type, f.minimum)) {
            log.Report("Invalid minimum value for field " + f.name + inHeader);
            if (log.Mend()) f.minimum.clear();
        }
        if (!CheckValueText(f.type, f.maximum)) {
            log.Report("Invalid maximum value for field " + f.name + inHeader);
            if (log.Mend()) f.maximum.clear();
        }
        if (f.decimals != 0 && f.type != fieldtype::Decimal) {
            log.Report("Invalid field decimals for field " + f.name + inHeader);
            if (log.Mend()) f.decimals = f.physicalDecimals = 0;
        }
        // Earlier fields are final by now, so the expected offset is too.
        const std::uint32_t offset = ExpectedFieldOffsets(fields_)[i];
        if (f.offset != offset) {
            log.Report("Invalid field offset for field " + f.name + inHeader);
            if (log.Mend()) f.offset = static_cast<std::uint16_t>(offset);
        }
        if (f.number != static_cast<std::int16_t>(i + 1)) {
            log.Report("Invalid field number for field " + f.name + inHeader);
            if (log.Mend()) f.number = static_cast<std::int16_t>(i + 1);
        }
    }

    const std::uint32_t computed = ComputeRecordSize(fields_);
    if (computed != header_.recordSize) {
        log.Report("Invalid physical record length in table header");
        if (log.Mend() && computed <= datafile::kMaxRecordSize) header_.recordSize = static_cast<std::uint16_t>(computed);
    }
    const std::uint32_t recordSize = log.Mend() ? header_.recordSize : computed;
    const auto start = static_cast<std::int64_t>(DataStart());
    std::int64_t length = GetFileSize();
    if (recordSize != 0 && length > start && (length - start) % recordSize != 0) {
        log.Report("Physical records not aligned on even record size boundaries");
        if (log.Mend()) {
            length -= (length - start) % recordSize;
            {
                FileAccessGuard guard(*this);
                SeekFile(SeekOrigin::Begin, length);
                WriteBuffer(nullptr, 0);
            }
            if (Owner().ForceBufferFlush()) FlushFile();
        }
    }
    const std::uint64_t records =
        (recordSize == 0 || length <= start) ? 0 : static_cast<std::uint64_t>((length - start) / recordSize);
    if (header_.nextRecordNumber != records + 1) {
        log.Report("Physical record count not correct");
        if (log.Mend()) header_.nextRecordNumber = static_cast<std::uint32_t>(records + 1);
    }
    if (static_cast<std::int32_t>(header_.firstFree) < 0 || header_.firstFree > records) {
        log.Report("Invalid next free record pointer");
        if (log.Mend()) header_.firstFree = 0;
    }
    const auto blobFields = static_cast<std::uint16_t>(std::count_if(
        fields_.begin(), fields_.end(), [](const FieldDescriptor& f) { return f.type == fieldtype::Blob; }));
    if (header_.blobFieldCount != blobFields) {
        log.Report("Invalid BLOB field count in table header");
        if (log.Mend()) header_.blobFieldCount = blobFields;
    }

    if (log.Mend()) {
        // The record scan of the repair rebuilds the free chain.
        header_.formatMark = datafile::kFormatMark;
        header_.firstFree = 0;
        SetHeaderChanged();
        descriptorsChanged_ = true;
        ClearRecordCache();
    }
    return !log.Found();
}

}  // namespace pixhold::engine
