#include <iomanip>

#include "Commands.h"
#include "DataTable.h"
#include "FieldTypes.h"
#include "Json.h"
#include "OpenTable.h"

namespace pixhold::tools {

using namespace engine;

namespace {

std::string IndexFields(const IndexDescriptor& index, const std::vector<FieldDescriptor>& fields) {
    std::string names;
    for (int i = 0; i < index.fieldCount; ++i) {
        if (i > 0) names += ';';
        const std::uint16_t number = index.fieldNumbers[static_cast<std::size_t>(i)];
        names += number >= 1 && number <= fields.size() ? PlainText(fields[number - 1u].name) : "#" + std::to_string(number);
    }
    return names;
}

void PrintIndex(std::ostream& out, const std::string& label, const IndexDescriptor& index,
                const std::vector<FieldDescriptor>& fields) {
    out << "  " << PlainText(label) << ": " << IndexFields(index, fields);
    if (index.unique) out << " unique";
    if (index.descending) out << " descending";
    if (index.caseInsensitive) out << " nocase";
    if (index.compression != 0) out << " compression=" << static_cast<int>(index.compression);
    if (index.noCounts) out << " nocounts";
    out << " (key length " << index.keyLength << ")\n";
}

}  // namespace

int RunInfo(const CommandLine& line, std::ostream& out) {
    OpenTable table(line.folder, line.table, line.Value("password").value_or(""), false);
    TDataFile& data = table.Table().DataFile();
    const DataFileHeader& h = data.Header();
    out << "table: " << line.folder << line.table << '\n';
    out << "description: " << PlainText(data.GetDescription()) << '\n';
    out << "encrypted: " << (data.IsEncrypted() ? "yes" : "no") << '\n';
    out << "locale: " << h.Locale() << " (language " << h.languageID << ", sort " << h.sortID << ")\n";
    out << "user version: " << h.userMajorVersion << '.' << h.userMinorVersion << '\n';
    out << "format mark: " << static_cast<int>(h.formatMark) << '\n';
    out << "writer version: " << h.writerVersion << '\n';
    out << "record size: " << h.recordSize << '\n';
    out << "last record id: " << h.lastRecordID << '\n';
    out << "last blob owner id: " << h.lastBlobOwnerID << '\n';
    out << "blob block size: " << data.BlobBlockSize() << '\n';
    out << "records: " << table.Cursor().GetRecordCount() << '\n';
    out << "physical records: " << data.PhysicalRecordCount() << '\n';
    out << "blob blocks: " << (table.Table().BlobFileOpen() ? table.Table().BlobFile().BlockCount() : 0) << '\n';
    out << "index pages: " << table.Table().IndexFile().PageCount() << '\n';

    out << "fields: " << table.Fields().size() << '\n';
    for (const FieldDescriptor& f : table.Fields()) {
        out << "  " << f.number << ' ' << PlainText(f.name) << ' ' << FieldTypeNameOf(f);
        if (TypeHasDeclaredSize(f.type)) out << ':' << static_cast<int>(f.size);
        if (f.required != 0) out << " required";
        if (!f.defaultValue.empty()) out << " default=" << JsonString(f.defaultValue);
        if (!f.minimum.empty()) out << " min=" << JsonString(f.minimum);
        if (!f.maximum.empty()) out << " max=" << JsonString(f.maximum);
        out << '\n';
    }
    out << "indexes: " << table.Table().IndexCount() - (table.Table().PrimaryIndexHasFields() ? 0 : 1) << '\n';
    if (table.Table().PrimaryIndexHasFields())
        PrintIndex(out, "primary", table.Table().IndexDefinition(kPrimarySlot), table.Fields());
    for (int slot = 1; slot < table.Table().IndexCount(); ++slot) {
        const IndexDescriptor& index = table.Table().IndexDefinition(slot);
        PrintIndex(out, index.name, index, table.Fields());
    }
    return 0;
}

}  // namespace pixhold::tools
