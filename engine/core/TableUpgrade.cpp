#include <string>

#include "DataDirectory.h"
#include "DataFile.h"
#include "EngineError.h"
#include "FileHandler.h"
#include "MaintenanceSupport.h"
#include "TableFileNames.h"
#include "TableMaintenance.h"

namespace pixhold::engine {

namespace {

// The data file header as it is on disk, read past the table (whose open
// refuses other versions).
DataFileHeader ReadDataHeader(const std::string& fileName, bool inMemory) {
    TFileHandler file;
    file.Name = fileName;
    file.InMemory = inMemory;
    file.Exclusive = true;
    file.OpenFile();
    std::uint8_t bytes[datafile::kHeaderSize];
    try {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 0);
        file.ReadBuffer(bytes, sizeof bytes);
    } catch (...) {
        try {
            file.CloseFile();
        } catch (...) {
        }
        throw;
    }
    file.CloseFile();
    return DataFileHeader::Decode(bytes);
}

}  // namespace

void TTableMaintenance::UpgradeTable() {
    const DataFileHeader header =
        ReadDataHeader(TableFileName(inMemory_ ? std::string{} : directory_.Path(), tableName_, tableext::Data), inMemory_);
    const int version = header.formatMark;
    // Older layouts are not known to this engine: such a table is refused.
    if (version < datafile::kFormatMark) RaiseTableError(err::WrongVersion, tableName_);
    TMaintenanceLog log(Events);
    if (version == datafile::kFormatMark) {
        // Opening checks the password of an encrypted table.
        TExclusiveTable table(directory_, tableName_, inMemory_, Events);
        table.Close();
        log.Note(tableName_ + " is already at the highest " + "table version of " + std::to_string(version) +
                 ", upgrade aborted");
        return;
    }
    log.Note(tableName_ + " is already at a higher " + "table version then the current engine version" +
             ", upgrade aborted");
}

}  // namespace pixhold::engine
