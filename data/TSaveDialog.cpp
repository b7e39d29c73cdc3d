#include "data/TSaveDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

bool TSaveDialog::Execute()
{
    QString chosen = m_chooser ? m_chooser(m_owner, m_fileName)
                               : QFileDialog::getSaveFileName(m_owner, QString(), m_fileName, QString(), nullptr,
                                                              QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty()) return false;
    m_fileName = QDir::toNativeSeparators(QFileInfo(chosen).absoluteFilePath());
    return true;
}
