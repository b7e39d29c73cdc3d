#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jet {

class Database;
class Table;

// A complex column (type 0x12, Access 2007 and later): attachments, a
// multi-value list, or the version history of an append-only memo. The row
// holds a key; the values are the rows of a hidden "flat" table that carry
// that key. MSysComplexColumns ties them together, one row per column:
//
//   column               meaning
//   ColumnName           the column's name
//   ComplexID            the id the column definition holds (ColumnDef::complexId)
//   ConceptualTableID    the catalog id of the column's table
//   FlatTableID          the catalog id of the flat table, "f_<hex>_<column>"
//   ComplexTypeObjectID  the catalog id of the type's template table:
//                        MSysComplexType_Attachment, MSysComplexType_<Type>
//                        (multi-value), MSysComplexTypeVH_<hex> (version history)
//
// The flat table has the template's columns (the values: FileName,
// FileType, FileData ... of an attachment, Value of a multi-value list), an
// autonumber of its own, and a Long column with the key of the row a value
// belongs to. Each row of the table gets a new key when it is inserted (from
// the counter Format::tdef.complexAutoNumber, one for all complex columns
// of the row), whether or not it has values.
class ComplexColumn {
public:
    // Throws JetError naming the table and column when the catalog does not
    // describe the column.
    ComplexColumn(Database& db, const TableDef& table, const ColumnDef& column);

    // "attachments", "multi-value (Text)", "version history".
    const std::string& kind() const { return kind_; }
    Table& flatTable() const { return *flat_; }
    // The value columns (positions in the flat table's columns), in its order.
    const std::vector<size_t>& valueColumns() const { return valueColumns_; }

    // Every value of the column: the value columns of the flat table's rows,
    // by the key of the row they belong to.
    std::map<int64_t, std::vector<std::vector<Value>>> valuesByKey() const;
    // Deletes the values of a key (its row is deleted); needs a write.
    void deleteValues(int64_t key) const;

private:
    std::string kind_;
    Table* flat_ = nullptr;
    size_t keyColumn_ = 0;
    std::vector<size_t> valueColumns_;
};

} // namespace jet
