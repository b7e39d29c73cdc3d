#pragma once

#include "jet/Value.h"

#include <QString>
#include <stdexcept>

class TDataSet;

// Field types as the ADO layer reports them.
enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftGuid,
    ftFMTBcd,
    ftWideMemo,
    ftByte,
};

// One column of a dataset as its provider describes it.
struct TFieldDef {
    QString name;
    TFieldType type = ftUnknown;
    int size = 0;       // characters for text, bytes for binary data
    int precision = 0;  // digits of ftBCD/ftFMTBcd
    int scale = 0;      // digits after the point of ftBCD/ftFMTBcd
    bool required = false;
};

// Every error of the dataset layer; the message is meant for the user.
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// A column of the dataset's current record. Reads give the current record (or
// the record a view is painting, see TDataSet::setPeekPosition); writes need
// the dataset in edit state.
class TField {
public:
    TField(TDataSet* dataSet, int index, const TFieldDef& def);

    TDataSet* DataSet() const { return m_dataSet; }
    const QString& FieldName() const { return m_def.name; }
    TFieldType DataType() const { return m_def.type; }
    int Size() const { return m_def.size; }
    int Precision() const { return m_def.precision; }
    int Scale() const { return m_def.scale; }
    bool Required() const { return m_def.required; }
    int Index() const { return m_index; }
    int FieldNo() const { return m_index + 1; }

    QString DisplayLabel() const { return m_displayLabel.isEmpty() ? m_def.name : m_displayLabel; }
    void setDisplayLabel(const QString& label) { m_displayLabel = label; }
    bool Visible() const { return m_visible; }
    void setVisible(bool visible) { m_visible = visible; }
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    // Width in characters that a view gives the field by default.
    int DisplayWidth() const;

    bool IsNull() const;
    jet::Value Value() const;
    jet::Value AsVariant() const { return Value(); }
    QString AsString() const;
    int AsInteger() const;
    qint64 AsLargeInt() const;
    double AsFloat() const;
    bool AsBoolean() const;
    jet::DateTime AsDateTime() const;
    QString DisplayText() const;  // the text a view shows
    QString Text() const;         // the text offered for editing

    void setValue(const jet::Value& value);
    void setAsVariant(const jet::Value& value) { setValue(value); }
    void setAsString(const QString& text);
    void setAsInteger(int value);
    void setAsLargeInt(qint64 value);
    void setAsFloat(double value);
    void setAsBoolean(bool value);
    void setAsDateTime(jet::DateTime value);
    void setText(const QString& text) { setAsString(text); }
    void Clear();

    // Formatting and parsing by the rules of this field's type.
    QString textOf(const jet::Value& value, bool forDisplay) const;
    jet::Value valueFromText(const QString& text) const;  // empty text gives null; throws on bad text
    jet::Value toStoredForm(const jet::Value& value) const;  // throws when the value does not fit the type

private:
    [[noreturn]] void fail(const QString& message) const;
    qint64 checkedInteger(qint64 value) const;

    TDataSet* m_dataSet;
    int m_index;
    TFieldDef m_def;
    QString m_displayLabel;
    bool m_visible = true;
    bool m_readOnly = false;
};
