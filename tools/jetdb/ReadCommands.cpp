// Commands that only read a database.
#include "Commands.h"
#include "JsonOutput.h"
#include "PostgresSchema.h"

#include "jet/Checker.h"
#include "jet/ComplexColumn.h"
#include "jet/Database.h"
#include "jet/IndexTree.h"
#include "jet/UsageMap.h"
#include "jet/RowCodec.h"

#include <cstdio>
#include <iostream>

namespace jetdb {
namespace {

void expectArgs(const std::vector<std::string>& a, size_t min, size_t max)
{
    if (a.size() < min) throw UsageError("missing arguments");
    if (a.size() > max) throw UsageError("too many arguments");
}

int tables(const std::vector<std::string>& a)
{
    bool system = !a.empty() && a[0] == "--system";
    std::vector<std::string> rest(a.begin() + (system ? 1 : 0), a.end());
    expectArgs(rest, 1, 1);
    auto db = openDatabase(rest[0]);
    for (const std::string& t : db->tableNames(system)) std::cout << t << "\n";
    return 0;
}

std::string typeText(const jet::TableDef& table, const jet::ColumnDef& c)
{
    if (!jet::isKnownColumnType(c.type)) {
        char code[24];
        std::snprintf(code, sizeof code, "Unknown(0x%02X)", unsigned(c.type));
        return code;
    }
    std::string s = jet::columnTypeName(c.type);
    // Lengths are bytes; a Text character takes two of them in UTF-16, one in a code page.
    const bool twoBytes = c.type == jet::ColumnType::Text && table.text->isUnicode();
    if (c.type == jet::ColumnType::Text || c.type == jet::ColumnType::Binary)
        s += "(" + std::to_string(twoBytes ? c.length / 2 : c.length) + ")";
    if (c.type == jet::ColumnType::Numeric)
        s += "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    return s;
}

void printSchema(jet::Table& t)
{
    const jet::TableDef& d = t.def();
    std::cout << "TABLE " << d.name << " (" << d.rowCount << " rows, autonumber " << d.autoNumber << ")\n";
    for (const jet::ColumnDef& c : d.columns) {
        std::cout << "  " << c.utf8Name << " " << typeText(d, c);
        if (c.isComplex()) {
            jet::ComplexColumn complex(t.database(), d, c);
            std::cout << " " << complex.kind() << " IN " << complex.flatTable().name() << "\n";
            continue;
        }
        if (c.isCalculated()) std::cout << " CALCULATED";
        if (c.flags & jet::kColumnAutoLong) std::cout << " AUTOINCREMENT";
        if (c.isAutoGuid()) std::cout << " AUTOGUID";
        if (!(c.flags & jet::kColumnNullable) && c.type != jet::ColumnType::Boolean) std::cout << " NOT NULL";
        if (c.isCompressedUnicode()) std::cout << " COMPRESSED";
        if (jet::isTextType(c.type)) std::cout << " SORT " << jet::TableDef::sortOrderName(c);
        std::cout << "\n";
    }
    for (const jet::LogicalIndex& li : d.indexes) {
        const jet::RealIndex& ri = d.realIndexes[li.realIndex];
        std::cout << "  INDEX " << li.utf8Name << " (";
        for (size_t k = 0; k < ri.columns.size(); ++k) {
            const jet::ColumnDef* c = d.columnByNumber(ri.columns[k].columnNumber);
            std::cout << (k ? ", " : "") << (c ? c->utf8Name : "?") << (ri.columns[k].ascending ? "" : " DESC");
        }
        std::cout << ")";
        if (li.isPrimaryKey()) std::cout << " PRIMARY KEY";
        if (li.isForeignKey()) std::cout << " FOREIGN KEY";
        if (ri.isUnique()) std::cout << " UNIQUE";
        if (ri.ignoresNulls()) std::cout << " IGNORE NULLS";
        if (ri.flags & jet::kIndexRequired) std::cout << " REQUIRED";
        std::cout << " root " << ri.rootPage << " entries " << ri.uniqueEntryCount << "\n";
    }
}

// The tables as PostgreSQL statements, each ended by ';', after one that
// tells psql the text is UTF-8; renamed objects and defaults left out on
// standard error.
void printPostgresSchema(jet::Database& db, const std::vector<std::string>& names)
{
    const PostgresSchema schema(db, names);
    std::cout << "set client_encoding = 'UTF8';\n";
    for (const PostgresSchema::ServerTable& table : schema.tables())
        for (const std::string& statement : table.statements) std::cout << statement << ";\n";
    for (const std::string& line : schema.renamed()) std::cerr << "jetdb schema: renamed: " << line << "\n";
    for (const std::string& line : schema.warnings()) std::cerr << "jetdb schema: warning: " << line << "\n";
}

int schema(const std::vector<std::string>& arguments)
{
    std::vector<std::string> a;
    std::string dialect;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != "--sql") {
            a.push_back(arguments[i]);
            continue;
        }
        if (i + 1 == arguments.size()) throw UsageError("--sql needs the dialect: --sql postgresql");
        dialect = arguments[++i];
        if (dialect != "postgresql") throw UsageError("unknown dialect '" + dialect + "'; jetdb knows postgresql");
    }
    expectArgs(a, 1, 2);
    auto db = openDatabase(a[0]);
    if (!dialect.empty()) {
        std::vector<std::string> names;
        if (a.size() == 2) names.push_back(db->table(a[1]).def().name);
        else names = db->tableNames();
        printPostgresSchema(*db, names);
        return 0;
    }
    if (a.size() == 2) {
        printSchema(db->table(a[1]));
    } else {
        for (const std::string& name : db->tableNames()) printSchema(db->table(name));
    }
    return 0;
}

int json(const std::vector<std::string>& a)
{
    expectArgs(a, 2, 2);
    auto db = openDatabase(a[0]);
    jet::Table& t = db->table(a[1]);
    std::vector<std::string> keys;
    for (const jet::ColumnDef& c : t.def().columns) keys.push_back(jsonString(c.utf8Name) + ":");
    // Complex columns print the rows of their values, read first.
    std::vector<ComplexJson> complexValues(t.def().columns.size());
    std::vector<const ComplexJson*> complex(t.def().columns.size(), nullptr);
    for (size_t i = 0; i < t.def().columns.size(); ++i) {
        if (!t.def().columns[i].isComplex()) continue;
        jet::ComplexColumn column(*db, t.def(), t.def().columns[i]);
        for (size_t v : column.valueColumns()) complexValues[i].names.push_back(column.flatTable().def().columns[v].utf8Name);
        complexValues[i].values = column.valuesByKey();
        complex[i] = &complexValues[i];
    }
    // Rows go out in blocks of a pipe's size: one write per row costs more
    // than the row, and a reader that stops reading holds the output (and
    // the read of the file) from the first block on.
    constexpr size_t kBlock = 1 << 16;
    std::string out;
    out.reserve(kBlock + 4096);
    RowJsonScratch scratch;
    t.scanViews([&](jet::RowLocator, const jet::RowView& row) {
        appendRowJson(out, keys, row, scratch, &complex);
        out += '\n';
        if (out.size() >= kBlock) {
            std::cout.write(out.data(), std::streamsize(out.size()));
            out.clear();
        }
        return true;
    });
    std::cout.write(out.data(), std::streamsize(out.size()));
    return 0;
}

int count(const std::vector<std::string>& a)
{
    expectArgs(a, 2, 2);
    auto db = openDatabase(a[0]);
    std::cout << db->table(a[1]).def().rowCount << "\n";
    return 0;
}

int check(const std::vector<std::string>& a)
{
    expectArgs(a, 1, 1);
    auto db = openDatabase(a[0]);
    jet::Checker checker(*db);
    std::vector<std::string> problems = checker.run();
    for (const std::string& p : problems) std::cout << p << "\n";
    for (const std::string& n : checker.notes()) std::cout << "note: " << n << "\n";
    return problems.empty() ? 0 : 1;
}

int indexDump(const std::vector<std::string>& a)
{
    expectArgs(a, 3, 3);
    auto db = openDatabase(a[0]);
    jet::Table& t = db->table(a[1]);
    const size_t count = t.def().realIndexes.size();
    size_t n = count;
    if (!a[2].empty() && a[2].size() < 10 && a[2].find_first_not_of("0123456789") == std::string::npos) n = std::stoul(a[2]);
    if (n >= count)
        throw UsageError("the table has " + std::to_string(count) + " physical indexes: N is a number from 0 to " +
                         std::to_string(count ? count - 1 : 0) + ", not '" + a[2] + "'");
    jet::IndexTree tree(db->pager(), t.def(), t.def().realIndexes[n], t.location());
    std::cout << "depth " << tree.depth() << ", pages";
    jet::UsageMap owned = jet::UsageMap::read(db->pager(), t.def().usedPagesPointer, t.location());
    jet::UsageMap own = jet::UsageMap::read(db->pager(), t.def().realIndexes[n].usageMapPointer, t.location());
    for (uint32_t p : tree.pages())
        std::cout << " " << p << (owned.contains(p) ? "T" : "") << (own.contains(p) ? "I" : "");
    std::cout << " (index map:";
    for (uint32_t p : own.pages()) std::cout << " " << p;
    std::cout << ")";
    std::cout << "\n";
    static const char* hex = "0123456789abcdef";
    for (const jet::IndexEntry& e : tree.entries()) {
        std::string k;
        for (uint8_t b : e.key) (k += hex[b >> 4]) += hex[b & 15], k += ' ';
        std::cout << k << "-> " << e.page << ":" << int(e.row) << "\n";
    }
    return 0;
}

int propsDump(const std::vector<std::string>& a)
{
    expectArgs(a, 2, 2);
    auto db = openDatabase(a[0]);
    const jet::CatalogEntry* e = db->catalogEntry(a[1]);
    if (!e) throw UsageError("no table " + a[1]);
    static const char* hex = "0123456789abcdef";
    for (size_t i = 0; i < e->properties.size(); ++i) {
        uint8_t b = e->properties[i];
        std::cout << hex[b >> 4] << hex[b & 15] << ((i % 32 == 31) ? '\n' : ' ');
    }
    std::cout << "\n";
    return 0;
}

CommandRegistration r1({"tables", "tables [--system] FILE", "list the tables, one per line", tables});
CommandRegistration r2({"schema", "schema FILE [TABLE] [--sql postgresql]",
                        "columns with types and sizes, indexes with their flags; with --sql postgresql the statements "
                        "that make the tables on a PostgreSQL server",
                        schema});
CommandRegistration r3({"json", "json FILE TABLE",
                        "every row as one JSON object per line (as mdb-json prints; a complex column of an Access 2007 "
                        "or later file as the array of its values: attachments, multi-value entries)",
                        json});
CommandRegistration r4({"count", "count FILE TABLE", "the row count the table definition holds", count});

CommandRegistration r6({"index", "index FILE TABLE N", "the entries of the table's N-th physical index, in order", indexDump});
CommandRegistration r7({"props", "props FILE TABLE", "the table's property blob in hex", propsDump});
CommandRegistration r5({"check", "check FILE",
                        "integrity check: indexes against rows, row counts, usage maps; exit 1 with one line per problem "
                        "(lines starting 'note:' are what Access itself leaves, such as drifted system-table counts)",
                        check});

} // namespace
} // namespace jetdb
