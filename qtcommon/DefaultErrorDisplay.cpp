#include "qtcommon/DefaultErrorDisplay.h"
#include "qtcommon/MessageBoxes.h"

#include <QApplication>
#include <QFileInfo>

QString DefaultErrorDisplay::applicationTitle()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (name.isEmpty()) name = QCoreApplication::applicationName();
    return name.left(1) + name.mid(1).toLower();
}

QString DefaultErrorDisplay::messageText(const std::exception& error)
{
    QString text = QString::fromUtf8(error.what());
    if (!text.endsWith(u'.')) text += u'.';
    return text;
}

void DefaultErrorDisplay::show(const std::exception& error, QWidget* parent)
{
    MessageBoxes::show(parent, {QMessageBox::Critical, applicationTitle(), messageText(error), QString(), QMessageBox::Ok});
}

void DefaultErrorDisplay::guard(QWidget* parent, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        show(error, parent);
    }
}
