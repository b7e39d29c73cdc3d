#include "jet/ComplexColumn.h"

#include "base/NameCase.h"
#include "jet/Database.h"
#include "jet/JetError.h"

namespace jet {

namespace {

const std::string* catalogName(Database& db, int64_t id)
{
    for (const CatalogEntry& e : db.catalog())
        if (e.id == id) return &e.name;
    return nullptr;
}

int64_t number(const Value& v)
{
    const int64_t* n = std::get_if<int64_t>(&v);
    return n ? *n : -1;
}

} // namespace

ComplexColumn::ComplexColumn(Database& db, const TableDef& table, const ColumnDef& column)
{
    const std::string where = "'" + db.path() + "', table '" + table.name + "', column '" + column.utf8Name + "'";
    if (!db.hasTable("MSysComplexColumns"))
        throw JetError(where + ": a complex column, but the file has no MSysComplexColumns");
    Table& complexColumns = db.table("MSysComplexColumns");
    const TableDef& cd = complexColumns.def();
    auto at = [&](const char* name) {
        const ColumnDef* c = cd.findColumn(name);
        if (!c) throw JetError("'" + db.path() + "': MSysComplexColumns has no column " + name);
        return cd.columnIndex(c->number);
    };
    const size_t idColumn = at("ComplexID"), flatColumn = at("FlatTableID"), typeColumn = at("ComplexTypeObjectID");
    int64_t flatId = -1, typeId = -1;
    complexColumns.scan([&](RowLocator, std::vector<Value>& row) {
        if (number(row[idColumn]) != int64_t(column.complexId)) return true;
        flatId = number(row[flatColumn]);
        typeId = number(row[typeColumn]);
        return false;
    });
    const std::string* flatName = catalogName(db, flatId);
    const std::string* typeName = catalogName(db, typeId);
    if (!flatName || !typeName || !db.hasTable(*flatName) || !db.hasTable(*typeName))
        throw JetError(where + ": MSysComplexColumns names no table of the file for its values (complex id " +
                       std::to_string(column.complexId) + ")");
    flat_ = &db.table(*flatName);

    const std::string attachment = "MSysComplexType_Attachment", versions = "MSysComplexTypeVH_",
                      multiValue = "MSysComplexType_";
    if (base::NameCase::equalUtf8(*typeName, attachment)) kind_ = "attachments";
    else if (typeName->rfind(versions, 0) == 0) kind_ = "version history";
    else if (typeName->rfind(multiValue, 0) == 0) kind_ = "multi-value (" + typeName->substr(multiValue.size()) + ")";
    else kind_ = "complex (" + *typeName + ")";

    // The template's columns are the values; of the others, the autonumber
    // is the flat table's own key and the Long one the row's key.
    const TableDef& templateDef = db.table(*typeName).def();
    const TableDef& fd = flat_->def();
    bool keyFound = false;
    for (size_t i = 0; i < fd.columns.size(); ++i) {
        const ColumnDef& c = fd.columns[i];
        if (templateDef.findColumn(c.utf8Name)) valueColumns_.push_back(i);
        else if (!c.isAutoNumber() && c.type == ColumnType::Long && !keyFound) keyColumn_ = i, keyFound = true;
    }
    if (!keyFound) throw JetError(where + ": its table of values '" + *flatName + "' has no column for the row's key");
}

std::map<int64_t, std::vector<std::vector<Value>>> ComplexColumn::valuesByKey() const
{
    std::map<int64_t, std::vector<std::vector<Value>>> out;
    flat_->scan([&](RowLocator, std::vector<Value>& row) {
        std::vector<Value> values;
        for (size_t c : valueColumns_) values.push_back(std::move(row[c]));
        out[number(row[keyColumn_])].push_back(std::move(values));
        return true;
    });
    return out;
}

void ComplexColumn::deleteValues(int64_t key) const
{
    std::vector<RowLocator> rows;
    std::vector<bool> wanted(flat_->def().columns.size(), false);
    wanted[keyColumn_] = true;
    flat_->scan(
        [&](RowLocator at, std::vector<Value>& row) {
            if (number(row[keyColumn_]) == key) rows.push_back(at);
            return true;
        },
        &wanted);
    for (RowLocator at : rows) flat_->deleteRow(at);
}

} // namespace jet
