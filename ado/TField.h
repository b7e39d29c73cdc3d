#pragma once

#include "ado/TFieldDef.h"
#include "jet/Value.h"

#include <QDateTime>
#include <QString>

class TDataSet;

// A column of a dataset. The As... readers and the text readers give the
// value of the dataset's current record (its edit buffer while the dataset is
// in edit state); the setters need the dataset in edit state (see
// TDataSet::Edit) and change the edit buffer until Post writes it.
//
// The ...At(index) readers give the value of any record without moving the
// current record: `index` is the record's position in the dataset's current
// order, 0 .. RecordCount()-1 (RecNo()-1 for the current one). They are
// meant for views that paint only the rows they show; each call is O(1).
class TField {
public:
    TField(TDataSet* dataSet, int index, const TFieldDef& def);

    TDataSet* DataSet() const { return m_dataSet; }
    const TFieldDef& Def() const { return m_def; }
    const QString& FieldName() const { return m_def.name; }
    TFieldType DataType() const { return m_def.type; }
    int Size() const { return m_def.size; }
    int Precision() const { return m_def.precision; }
    int Scale() const { return m_def.scale; }
    bool Required() const { return m_def.required; }
    int Index() const { return m_index; }       // 0-based position in TDataSet::Fields
    int FieldNo() const { return m_index + 1; } // 1-based

    // View settings; changing one tells the dataset's data sources (layoutChanged).
    QString DisplayLabel() const { return m_displayLabel.isEmpty() ? m_def.name : m_displayLabel; }
    void setDisplayLabel(const QString& label);
    bool Visible() const { return m_visible; }
    void setVisible(bool visible);
    // Width in characters a view gives the field by default (from its type and size).
    int DisplayWidth() const;
    void setDisplayWidth(int characters);
    // Auto-numbered fields and fields without a base column are read-only.
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool CanModify() const;

    // Current record.
    bool IsNull() const;
    jet::Value Value() const;
    jet::Value AsVariant() const { return Value(); }
    QString AsString() const;      // the plain text value; empty for null
    int AsInteger() const;         // throws for values that are not whole numbers in range
    qint64 AsLargeInt() const;
    double AsFloat() const;
    bool AsBoolean() const;
    QDateTime AsDateTime() const;  // local time as stored, no zone conversion
    QString DisplayText() const;   // the text a view shows
    QString Text() const;          // the text offered for editing

    // Any record, by position in the current order, current record untouched.
    bool IsNullAt(int index) const;
    jet::Value ValueAt(int index) const;
    QString AsStringAt(int index) const;
    QString DisplayTextAt(int index) const;
    QString TextAt(int index) const;

    // Edit buffer of the current record (dataset in dsEdit).
    void setValue(const jet::Value& value);
    void setAsVariant(const jet::Value& value) { setValue(value); }
    void setAsString(const QString& text);     // parsed by the rules of the field's type
    void setAsInteger(int value);
    void setAsLargeInt(qint64 value);
    void setAsFloat(double value);
    void setAsBoolean(bool value);
    void setAsDateTime(const QDateTime& value);
    void setText(const QString& text) { setAsString(text); }
    void Clear();                              // sets null

    // Formatting and parsing by the rules of this field's type.
    // Integers: decimal. Date/Time: "yyyy/M/d H:mm:ss", the time left out at
    // exactly midnight (milliseconds are not shown and do not count).
    QString textOf(const jet::Value& value) const;
    // Empty text gives null (except for text fields); throws EDatabaseError on text
    // the type cannot take.
    jet::Value valueFromText(const QString& text) const;
    // The value converted to the form the field stores; throws when it does not fit.
    jet::Value toStoredForm(const jet::Value& value) const;

    static QString formatDateTime(jet::DateTime value);

private:
    [[noreturn]] void fail(const QString& message) const;

    TDataSet* m_dataSet;
    int m_index;
    TFieldDef m_def;
    QString m_displayLabel;
    int m_displayWidth = -1;
    bool m_visible = true;
    bool m_readOnly = false;
};
