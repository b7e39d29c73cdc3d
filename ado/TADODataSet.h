#pragma once

#include "ado/TCustomADODataSet.h"

// A dataset defined by its command text, a select statement (with the
// values of its Parameters).
class TADODataSet : public TCustomADODataSet {
public:
    const QString& CommandText() const { return m_commandText; }
    void setCommandText(const QString& text);  // closes the dataset first

protected:
    QString statementText() const override { return m_commandText; }

private:
    QString m_commandText;
};
