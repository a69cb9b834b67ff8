#include <vector>

#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "MaintenanceSupport.h"
#include "Record.h"
#include "TableCopy.h"
#include "TableMaintenance.h"
#include "TempTable.h"

namespace pixhold::engine {

namespace {

// Closes the cursor at the end of the scope.
class TCursorScope {
public:
    explicit TCursorScope(TDataCursor& cursor) : cursor_(cursor) {}
    ~TCursorScope() {
        try {
            cursor_.CloseCursor();
        } catch (...) {
            // Closing on the way out of a failure.
        }
    }
    TCursorScope(const TCursorScope&) = delete;
    TCursorScope& operator=(const TCursorScope&) = delete;

private:
    TDataCursor& cursor_;
};

std::uint32_t RecordIDOf(const std::vector<std::uint8_t>& image) {
    const std::uint8_t* p = image.data() + recordlayout::RecordID;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

void OpenMaintenanceCursor(TDataCursor& cursor, const std::string& name, bool inMemory,
                           const TMaintenanceEvents& events) {
    cursor.TableName = name;
    cursor.Exclusive = true;
    cursor.InMemory = inMemory;
    if (events.OnPasswordRequest) cursor.OnPasswordRequest = [&events](TDataCursor&) { return events.OnPasswordRequest(); };
    cursor.OpenCursor();
}

void TTableMaintenance::OptimizeTable(const std::string& indexName, bool noBackup) {
    TDataCursor source(directory_);
    OpenMaintenanceCursor(source, tableName_, inMemory_, Events);
    TCursorScope sourceScope(source);
    source.SetIndexName(indexName);
    TDataTable& from = source.Table();

    TTempTable temp(directory_.Session(), inMemory_);
    temp.Create(DefinitionOf(from));
    TRecordAppender appender(temp.Table());
    std::vector<FieldDescriptor> blobFields;
    for (const FieldDescriptor& f : from.Fields())
        if (f.type == fieldtype::Blob) blobFields.push_back(f);

    TProgressMeter meter(Events.OnProgress, directory_.Session().ProgressSteps(), source.GetRecordCount());
    std::vector<std::uint8_t> image(from.RecordSize());
    source.SetToBegin();
    while (source.GetNextRecord(image.data()) == 0) {
        for (const FieldDescriptor& f : blobFields) {
            try {
                appender.PutBlob(image, f, ReadBlobValue(from, image.data(), f));
            } catch (const ECofferEngineError& e) {
                // Named after the table being optimised, not the temporary one.
                from.Raise(e.ErrorCode());
            }
        }
        appender.Append(image, RecordIDOf(image));
        meter.Advance();
    }
    temp.Table().DataFile().SetRecordIDCounter(from.LastRecordID());
    source.CloseCursor();
    temp.Close();
    ReplaceTable(directory_, tableName_, inMemory_, temp, noBackup);
    meter.Finish();
}

}  // namespace pixhold::engine
