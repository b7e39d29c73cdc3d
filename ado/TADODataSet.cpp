#include "ado/TADODataSet.h"

void TADODataSet::setCommandText(const QString& text)
{
    Close();
    m_commandText = text;
}
