#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "MaintenanceSupport.h"
#include "Record.h"
#include "TableCopy.h"
#include "TableDefinitionCheck.h"
#include "TableKeys.h"
#include "TableMaintenance.h"
#include "TempTable.h"
#include "ValueText.h"

namespace pixhold::engine {

namespace {

std::uint32_t BlockSizeOf(std::uint32_t size) { return size == 0 ? blobfile::kDefaultBlockSize : size; }

// What decides the record layout of a field (names, defaults and checks do not).
bool SameLayout(const FieldDescriptor& a, const FieldDescriptor& b) {
    return a.type == b.type && a.subtype == b.subtype && a.size == b.size && a.decimals == b.decimals &&
           a.readOnly == b.readOnly;
}

bool SameIndex(const IndexDescriptor& a, const IndexDescriptor& b) {
    if (a.name != b.name || a.unique != b.unique || a.descending != b.descending ||
        a.caseInsensitive != b.caseInsensitive || a.compression != b.compression || a.fieldCount != b.fieldCount)
        return false;
    for (int i = 0; i < a.fieldCount; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (a.fieldNumbers[k] != b.fieldNumbers[k] || a.fieldDescending[k] != b.fieldDescending[k]) return false;
    }
    return true;
}

bool PrimaryDefined(const TableDefinition& d) { return !d.indexes.empty() && d.indexes.front().fieldCount != 0; }

// How a data loss is answered: the callback is asked until it says to stop asking.
class TLossQuestions {
public:
    explicit TLossQuestions(const TMaintenanceEvents& events) : events_(events) {}
    // False when the operation is to stop.
    bool Continue(TDataLossCause cause, const std::string& context) {
        if (stopAsking_ || !events_.OnDataLost) return true;
        bool go = true;
        events_.OnDataLost(cause, context, go, stopAsking_);
        return go;
    }

private:
    const TMaintenanceEvents& events_;
    bool stopAsking_ = false;
};

// The data of a restructure that rewrites the records.
class TRestructureRun {
public:
    TRestructureRun(TDataTable& source, TableDefinition target, std::vector<int> sourceNumbers,
                    const TMaintenanceEvents& events)
        : source_(source), target_(std::move(target)), sourceNumbers_(std::move(sourceNumbers)), events_(events),
          questions_(events) {}

    // Builds the new table; false when the user stopped it.
    bool Rewrite(TTempTable& temp, std::int64_t lastAutoInc) {
        temp.Create(target_);
        TDataTable& to = temp.Table();
        TRecordAppender appender(to);
        const std::vector<FieldDescriptor>& newFields = to.Fields();
        const std::vector<FieldDescriptor>& oldFields = source_.Fields();
        TDataFile& data = source_.DataFile();
        const std::uint32_t count = data.PhysicalRecordCount();
        TProgressMeter meter(events_.OnProgress, source_.Session().ProgressSteps(), count);
        std::vector<std::uint8_t> oldImage(source_.RecordSize());
        std::uint32_t largest = 0;
        for (std::uint32_t n = 1; n <= count; ++n) {
            meter.Advance();
            TRecord* record = data.GetRecord(nullptr, n, true);
            const bool deleted = record->IsDeleted();
            std::memcpy(oldImage.data(), record->Data(), oldImage.size());
            data.ReleaseRecord(record);
            if (deleted) continue;
            std::vector<std::uint8_t> image = appender.BlankImage();
            PutDefaults(image, newFields);
            bool stopped = false;
            for (std::size_t i = 0; i < oldFields.size() && !stopped; ++i) {
                stopped = !CarryField(oldImage, oldFields[i], static_cast<int>(i + 1), image, newFields, appender);
            }
            const std::uint32_t id = Le32(oldImage.data() + recordlayout::RecordID);
            if (!stopped) stopped = !AppendRecord(appender, image, id, newFields);
            if (stopped) return false;
            largest = std::max(largest, id);
        }
        TDataFile& newData = to.DataFile();
        // Never below an identifier the table has given: it would come back.
        const std::uint32_t last = std::max(source_.LastRecordID(), static_cast<std::uint32_t>(std::max<std::int64_t>(0, lastAutoInc)));
        newData.SetRecordIDCounter(std::max({last, largest, newData.Header().lastRecordID}));
        meter.Finish();
        return true;
    }

private:
    static std::uint32_t Le32(const std::uint8_t* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }

    static void PutDefaults(std::vector<std::uint8_t>& image, const std::vector<FieldDescriptor>& fields) {
        for (const FieldDescriptor& f : fields) {
            if (!f.TakesRoom() || f.defaultValue.empty()) continue;
            try {
                const auto stored = ValueTextToStored(f.type, f.physicalSize, f.defaultValue);
                if (!stored) continue;
                image[f.offset] = 1;
                std::memcpy(image.data() + f.offset + 1, stored->data(), std::min<std::size_t>(stored->size(), f.physicalSize));
            } catch (const EConvertError&) {
                // The definition check let only convertible defaults through.
            }
        }
    }

    // The new field that takes the values of source field `number`.
    const FieldDescriptor* NewFieldFor(int number, const std::vector<FieldDescriptor>& newFields) const {
        for (std::size_t i = 0; i < sourceNumbers_.size() && i < newFields.size(); ++i)
            if (sourceNumbers_[i] == number) return &newFields[i];
        return nullptr;
    }

    // Copies one field's value into the new image; false when the user stopped.
    bool CarryField(const std::vector<std::uint8_t>& oldImage, const FieldDescriptor& from, int number,
                    std::vector<std::uint8_t>& image, const std::vector<FieldDescriptor>& newFields,
                    TRecordAppender& appender) {
        const FieldDescriptor* to = NewFieldFor(number, newFields);
        if (to == nullptr) return questions_.Continue(TDataLossCause::dlFieldDelete, from.name);
        if (!from.TakesRoom() || !to->TakesRoom()) return true;  // the record identifier is kept anyway
        if (oldImage[from.offset] == 0) return true;             // null stays null
        if (from.type == fieldtype::Blob || to->type == fieldtype::Blob) {
            if (from.type != to->type) return questions_.Continue(TDataLossCause::dlFieldConversion, from.name);
            appender.PutBlob(image, *to, ReadBlobValue(source_, oldImage.data(), from));
            return true;
        }
        const std::vector<std::uint8_t> stored(oldImage.begin() + from.offset + 1,
                                               oldImage.begin() + from.offset + 1 + from.physicalSize);
        if (from.type == to->type && from.physicalSize == to->physicalSize) {
            image[to->offset] = 1;
            std::memcpy(image.data() + to->offset + 1, stored.data(), stored.size());
            return true;
        }
        try {
            const std::string text = StoredToValueText(from.type, stored);
            // A text that does not fit the new size would be cut.
            const std::size_t room = to->type == fieldtype::String ? to->physicalSize - 1u : to->physicalSize;
            if (TypeHasDeclaredSize(to->type) && text.size() > room) throw EConvertError("does not fit");
            const auto value = ValueTextToStored(to->type, to->physicalSize, text);
            if (!value) return true;
            image[to->offset] = 1;
            std::memset(image.data() + to->offset + 1, 0, to->physicalSize);
            std::memcpy(image.data() + to->offset + 1, value->data(), std::min<std::size_t>(value->size(), to->physicalSize));
        } catch (const EConvertError&) {
            return questions_.Continue(TDataLossCause::dlFieldConversion, from.name);
        }
        return true;
    }

    // Required fields must have a value, within their minimum and maximum.
    static std::optional<std::string> ValidityFailure(const std::vector<std::uint8_t>& image,
                                                      const std::vector<FieldDescriptor>& fields) {
        for (const FieldDescriptor& f : fields) {
            if (!f.TakesRoom()) continue;
            if (f.required != 0 && image[f.offset] == 0) return f.name;
        }
        return std::nullopt;
    }

    bool AppendRecord(TRecordAppender& appender, std::vector<std::uint8_t>& image, std::uint32_t id,
                      const std::vector<FieldDescriptor>& newFields) {
        std::optional<std::pair<TDataLossCause, std::string>> loss;
        if (const auto field = ValidityFailure(image, newFields)) {
            loss = std::make_pair(TDataLossCause::dlValidityFailure, *field);
        } else {
            const int slot = appender.DuplicateSlot(image);
            if (slot >= 0) {
                loss = std::make_pair(TDataLossCause::dlKeyViolation, appender.Table().IndexDefinition(slot).name);
            } else {
                try {
                    appender.Append(image, id);
                    return true;
                } catch (const ECofferEngineError&) {
                    loss = std::make_pair(TDataLossCause::dlUnknown, std::string{});
                }
            }
        }
        for (const FieldDescriptor& f : newFields)
            if (f.type == fieldtype::Blob) appender.DropBlob(image, f);
        return questions_.Continue(loss->first, loss->second);
    }

    TDataTable& source_;
    TableDefinition target_;
    std::vector<int> sourceNumbers_;
    const TMaintenanceEvents& events_;
    TLossQuestions questions_;
};

}  // namespace

void TTableMaintenance::RestructureTable(const TableDefinition& definition, std::int64_t lastAutoInc, bool noBackup) {
    if (lastAutoInc < -1) RaiseTableError(err::FieldLimits, tableName_);
    // The numbers the caller gave say which old field each new one continues
    // (0: a new field); with none given at all, fields continue by position.
    std::vector<int> sourceNumbers;
    bool numbered = false;
    for (const FieldDescriptor& f : definition.fields) numbered = numbered || f.number != 0;
    for (std::size_t i = 0; i < definition.fields.size(); ++i)
        sourceNumbers.push_back(numbered ? definition.fields[i].number : static_cast<int>(i + 1));
    TableDefinition target = CheckTableDefinition(definition, tableName_);
    // A text index without fields is no text index.
    if (target.textIndex && target.textIndex->fieldCount == 0) target.textIndex.reset();

    TExclusiveTable source(directory_, tableName_, inMemory_, Events);
    const TableDefinition current = DefinitionOf(*source);
    if (!target.textIndexParameters) target.textIndexParameters = current.textIndexParameters;

    std::vector<FieldDescriptor> laidOut = target.fields;
    LayOutFields(laidOut);
    bool rewrite = target.params.encrypted != current.params.encrypted ||
                   BlockSizeOf(target.params.blobBlockSize) != BlockSizeOf(current.params.blobBlockSize) ||
                   target.params.languageID != current.params.languageID ||
                   target.params.sortID != current.params.sortID || laidOut.size() != current.fields.size();
    for (std::size_t i = 0; !rewrite && i < laidOut.size(); ++i)
        rewrite = !SameLayout(laidOut[i], current.fields[i]) || sourceNumbers[i] != static_cast<int>(i + 1);
    // Index changes are carried out by the same rewrite: the new table's
    // indexes are built from its records in one pass.
    bool indexes = target.indexes.size() != current.indexes.size() || PrimaryDefined(target) != PrimaryDefined(current) ||
                   target.textIndexParameters != current.textIndexParameters ||
                   target.textIndex.has_value() != current.textIndex.has_value();
    for (std::size_t i = 0; !indexes && i < target.indexes.size(); ++i)
        indexes = !SameIndex(target.indexes[i], current.indexes[i]);
    if (!indexes && target.textIndex && current.textIndex) indexes = !SameIndex(*target.textIndex, *current.textIndex);

    if (rewrite || indexes) {
        TTempTable temp(directory_.Session(), inMemory_);
        TRestructureRun run(*source, target, sourceNumbers, Events);
        if (!run.Rewrite(temp, lastAutoInc)) return;  // stopped: the temporary table goes, the source stays
        source.Close();
        temp.Close();
        ReplaceTable(directory_, tableName_, inMemory_, temp, noBackup || inMemory_);
        return;
    }

    // Only names, defaults, checks and header values change: written in place.
    TDataFile& data = source->DataFile();
    for (std::size_t i = 0; i < laidOut.size(); ++i)
        data.UpdateFieldDescriptor(static_cast<std::uint16_t>(i + 1), laidOut[i]);
    const std::uint32_t last =
        std::max(source->LastRecordID(), static_cast<std::uint32_t>(std::max<std::int64_t>(0, lastAutoInc)));
    data.ChangeTableInfo(target.params.password, target.params.description, target.params.userMajorVersion,
                         target.params.userMinorVersion, last);
    source->RaiseChangeCounters(true, false, false);
    source.Close();
    if (Events.OnProgress) Events.OnProgress(100);
}

}  // namespace pixhold::engine
