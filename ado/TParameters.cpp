#include "ado/TParameters.h"

#include "ado/EDatabaseError.h"
#include "base/NameCase.h"
#include "sql/Session.h"

TParameters::TParameters() = default;
TParameters::~TParameters() = default;

TParameter* TParameters::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EDatabaseError(QStringLiteral("Parameter index %1 out of range: the statement has %2 parameters")
                                 .arg(index)
                                 .arg(Count()));
    return m_items[std::size_t(index)].get();
}

TParameter* TParameters::FindParam(const QString& name) const
{
    const std::string wanted = name.toStdString();
    for (const auto& item : m_items)
        if (!item->Name().isEmpty() && base::NameCase::equalUtf8(item->Name().toStdString(), wanted)) return item.get();
    return nullptr;
}

TParameter* TParameters::ParamByName(const QString& name) const
{
    TParameter* parameter = FindParam(name);
    if (!parameter) throw EDatabaseError(QStringLiteral("Parameter '%1' not found: the statement has no :%1").arg(name));
    return parameter;
}

void TParameters::ParseSQL(const QString& statement)
{
    std::vector<sql::ParameterMark> marks;
    try {
        marks = sql::ParameterBinding::marksOf(statement.toStdString());
    } catch (const sql::SqlError&) {
        marks.clear();
    }
    // Earlier parameters keep their values: by name, and ? ones by position.
    std::vector<std::unique_ptr<TParameter>> oldNamed, oldUnnamed;
    for (auto& item : m_items) (item->Name().isEmpty() ? oldUnnamed : oldNamed).push_back(std::move(item));
    m_items.clear();
    std::size_t unnamedSeen = 0;
    for (const sql::ParameterMark& mark : marks) {
        const QString name = QString::fromStdString(mark.name);
        std::unique_ptr<TParameter> parameter;
        if (name.isEmpty()) {
            if (unnamedSeen < oldUnnamed.size()) parameter = std::move(oldUnnamed[unnamedSeen]);
            ++unnamedSeen;
        } else {
            if (FindParam(name)) continue;
            for (auto& item : oldNamed)
                if (item && base::NameCase::equalUtf8(item->Name().toStdString(), mark.name)) parameter = std::move(item);
        }
        m_items.push_back(parameter ? std::move(parameter) : std::make_unique<TParameter>(name));
    }
}

sql::ParameterValues TParameters::values() const
{
    sql::ParameterValues values;
    values.reserve(m_items.size());
    for (const auto& item : m_items) values.push_back({item->Name().toStdString(), item->Value()});
    return values;
}
