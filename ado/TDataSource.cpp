#include "ado/TDataSource.h"

TDataSource::TDataSource(QObject* parent) : QObject(parent) {}

TDataSource::~TDataSource()
{
    if (m_dataSet) m_dataSet->detach(this);
}

void TDataSource::setDataSet(TDataSet* dataSet)
{
    if (dataSet == m_dataSet) return;
    if (m_dataSet) m_dataSet->detach(this);
    m_dataSet = dataSet;
    if (m_dataSet) m_dataSet->attach(this);
    if (m_enabled) emit layoutChanged();
}

void TDataSource::setEnabled(bool enabled)
{
    if (enabled == m_enabled) return;
    m_enabled = enabled;
    emit layoutChanged();
}

void TDataSource::dataSetDestroyed()
{
    m_dataSet = nullptr;
    if (m_enabled) emit layoutChanged();
}
