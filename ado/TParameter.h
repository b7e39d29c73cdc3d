#pragma once

#include "jet/Value.h"

#include <QDateTime>
#include <QString>

// One parameter of a query's statement: named after its :name mark, or
// unnamed for a ? mark. Its value is set before the query opens or runs and
// reaches the database as a value of the statement, never as its text.
// A new parameter is null.
class TParameter {
public:
    explicit TParameter(const QString& name) : m_name(name) {}

    const QString& Name() const { return m_name; }
    const jet::Value& Value() const { return m_value; }
    bool IsNull() const { return jet::isNull(m_value); }

    void setValue(const jet::Value& value) { m_value = value; }
    void setAsString(const QString& text);
    void setAsInteger(int value) { m_value = int64_t(value); }
    void setAsLargeInt(qint64 value) { m_value = int64_t(value); }
    void setAsFloat(double value) { m_value = value; }
    void setAsBoolean(bool value) { m_value = value; }
    void setAsDateTime(const QDateTime& value); // local time as given, no zone conversion; invalid: null
    void Clear() { m_value = std::monostate{}; }

private:
    QString m_name;
    jet::Value m_value;
};
