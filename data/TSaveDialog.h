#pragma once

#include <QString>
#include <functional>

class QWidget;

// The file-save dialog of the export: no filter, no default extension and
// no question before an existing file is replaced.
class TSaveDialog {
public:
    // Returns the chosen path, or an empty text when the operator cancels.
    using Chooser = std::function<QString(QWidget* parent, const QString& proposed)>;

    explicit TSaveDialog(QWidget* owner) : m_owner(owner) {}

    // Shows the dialog; true when a file was chosen, FileName() is then its full path.
    bool Execute();
    const QString& FileName() const { return m_fileName; }

    // Replaces the platform dialog, e.g. by a test that answers for the operator.
    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }

private:
    QWidget* m_owner;
    QString m_fileName;
    Chooser m_chooser;
};
