#include "data/schema/RegisterSchema.h"

#include "data/schema/RegisterStates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using jet::ColumnSpec;
using jet::ColumnType;
using jet::IndexSpec;
using jet::TableSpec;
using jet::Value;

ColumnSpec column(const char* name, ColumnType type, uint16_t length = 0)
{
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

ColumnSpec numeric(const char* name, uint8_t precision, uint8_t scale)
{
    ColumnSpec c = column(name, ColumnType::Numeric);
    c.precision = precision;
    c.scale = scale;
    return c;
}

jet::Decimal decimal(int64_t v)
{
    jet::Decimal d;
    d.negative = v < 0;
    d.low = uint64_t(v < 0 ? -v : v);
    d.precision = 16;
    return d;
}

std::optional<Value> text(const char* s) { return Value{jet::fromUtf8(s)}; }

bool keepsDecimals(const jet::Format& format) { return &format != &jet::Format::jet3(); }

} // namespace

std::vector<TableSpec> RegisterSchema::tables(const jet::Format& format)
{
    TableSpec allKey;
    allKey.name = "all_key";
    ColumnSpec id = column("id", ColumnType::Long);
    id.autoNumber = true;
    ColumnSpec added = column("add_date", ColumnType::DateTime);
    added.defaultValue = "Now()";
    ColumnSpec state = column("is_del", ColumnType::Integer);
    state.defaultValue = std::to_string(RegisterStates::kEntryPending);
    allKey.columns = {id, column("USBKEY_SERIAL", ColumnType::Text, 50), column("username", ColumnType::Text, 50), added,
                      state};
    allKey.indexes = {IndexSpec{"PrimaryKey", {{"id", true}}, true, true, false},
                      IndexSpec{"add_date", {{"add_date", true}}, false, false, false},
                      IndexSpec{"USBKEY_SERIAL", {{"USBKEY_SERIAL", true}}, false, false, false}};

    TableSpec counted;
    counted.name = "counted";
    ColumnSpec active = column("is_del", ColumnType::Integer);
    active.defaultValue = std::to_string(RegisterStates::kAccountActive);
    ColumnSpec user = column("username", ColumnType::Text, 50);
    user.required = true;
    counted.columns = {user, column("password", ColumnType::Text, 50), active};
    counted.indexes = {IndexSpec{"PrimaryKey", {{"username", true}}, true, true, false}};

    TableSpec dept;
    dept.name = "SME_KEY_DEPT";
    const bool decimals = keepsDecimals(format);
    dept.columns = {decimals ? numeric("ID", 16, 0) : column("ID", ColumnType::Double),
                    decimals ? numeric("DEPT_ID", 16, 0) : column("DEPT_ID", ColumnType::Double),
                    column("KEY_SERIAL", ColumnType::Text, 3),
                    column("KEY_INVO", ColumnType::Long),
                    column("KEY_LIMITDATE", ColumnType::DateTime),
                    column("REALNAME", ColumnType::Text, 40),
                    column("P_INDEX", ColumnType::Text, 40),
                    column("ORGANIZA", ColumnType::Text, 160),
                    column("is_state", ColumnType::Long)};
    dept.indexes = {IndexSpec{"PrimaryKey", {{"ID", true}}, true, true, false}};

    TableSpec province;
    province.name = "SME_PROVINCE_LIST";
    province.columns = {column("P_INDEX", ColumnType::Text, 40), column("p_name", ColumnType::Text, 80)};
    province.indexes = {IndexSpec{"PrimaryKey", {{"P_INDEX", true}}, true, true, false}};
    return {allKey, counted, dept, province};
}

void RegisterSchema::addSampleRows(jet::Database& db, long long entries, long long pending,
                                   const std::function<void(long long done)>& progress)
{
    const Value active{int64_t(RegisterStates::kAccountActive)};
    jet::Table& counted = db.table("counted");
    counted.insertRow({text("admin"), text("admin"), active});
    counted.insertRow({text("operator"), text("usbkey"), active});
    counted.insertRow({text("olduser"), text("olduser"), Value{int64_t(RegisterStates::kAccountRetired)}});

    jet::Table& province = db.table("SME_PROVINCE_LIST");
    const char* provinces[][2] = {{"11", "北京市"}, {"31", "上海市"}, {"44", "广东省"}, {"51", "四川省"}};
    for (auto& p : provinces) province.insertRow({text(p[0]), text(p[1])});

    jet::Table& dept = db.table("SME_KEY_DEPT");
    struct Dept {
        int id, deptId;
        const char* serial;
        const char* name;
        const char* province;
        const char* organisation;
    } depts[] = {{1, 101, "A01", "张伟", "11", "北京市信息中心"},
                 {2, 102, "A02", "李娜", "31", "上海市数据管理局"},
                 {3, 103, "B01", "王芳", "44", "广东省政务服务中心"},
                 {4, 104, "B02", "刘洋", "99", "未登记省份的分支机构"}};
    const jet::DateTime limit = jet::fromCivil(jet::CivilTime{2027, 12, 31});
    const bool decimals = keepsDecimals(db.pager().format());
    auto number = [&](int v) { return decimals ? Value{decimal(v)} : Value{double(v)}; };
    for (const Dept& d : depts)
        dept.insertRow({number(d.id), number(d.deptId), text(d.serial), Value{int64_t(d.id % 3)}, Value{limit},
                        text(d.name), text(d.province), text(d.organisation), Value{int64_t(1)}});

    jet::Table& keys = db.table("all_key");
    const char* users[] = {"admin", "operator"};
    const jet::DateTime start = jet::fromCivil(jet::CivilTime{2024, 1, 2, 8, 30, 0});
    const long long step = entries > 0 ? std::max(1LL, 2LL * 365 * 24 * 3600 / entries) : 1;
    char serial[32];
    for (long long i = 0; i < entries; ++i) {
        std::snprintf(serial, sizeof serial, "USBK-%08lld", (i * 7919) % 100000000);
        const double seconds = double(i * step);
        const jet::DateTime when{start.days + std::floor(seconds) / 86400.0};
        const int64_t state = i >= entries - pending ? RegisterStates::kEntryPending : RegisterStates::kEntryExported;
        keys.insertRow({std::nullopt, text(serial), text(users[i % 2]), Value{when}, Value{state}});
        db.spillIfLarge();
        if (progress && (i + 1) % 100000 == 0) progress(i + 1);
    }
}
