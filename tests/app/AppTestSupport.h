#pragma once

#include "qtcommon/MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>

// A folder for one test with a register database made by `jetdb demo`.
class RegisterFolder {
public:
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // db/vask.mdb, as the program expects it beside the executable; or
    // db/vask.accdb, which the data link names, for a register made with --accdb.
    QString database() const { return m_dir.filePath(QStringLiteral("db/") + m_databaseName); }

    // Creates db/vask.mdb with `entries` rows in all_key, the last `pending`
    // not exported; false (and the tool's message in error) when it fails.
    // With a password the file is protected by it; `encoded`: its pages are
    // encoded (written by jetdb encode from a plain copy); `options` go to
    // `jetdb demo` (--jet3, say). With --accdb it is an Access 2010 file,
    // db/vask.accdb, and db/connection.udl names it with the ACE provider, as
    // an organisation that converted its register would set the program up.
    bool makeRegister(int entries, int pending, QString* error = nullptr, const QString& password = QString(),
                      bool encoded = false, const QStringList& options = {})
    {
        if (options.contains(QStringLiteral("--accdb"))) {
            m_databaseName = QStringLiteral("vask.accdb");
            QDir().mkpath(QFileInfo(database()).absolutePath());
            writeDataLink(QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=vask.accdb;Persist Security "
                                         "Info=False"));
        }
        QDir().mkpath(QFileInfo(database()).absolutePath());
        const QString made = encoded ? m_dir.filePath(QStringLiteral("plain.mdb")) : database();
        if (!runJetdb(password,
                      QStringList{QStringLiteral("demo"), made, QStringLiteral("--entries"), QString::number(entries),
                                  QStringLiteral("--pending"), QString::number(pending)} +
                          options,
                      error))
            return false;
        return !encoded || runJetdb(password, {QStringLiteral("encode"), made, database()}, error);
    }

    // A data-link file db/connection.udl as Windows writes it: UTF-16LE with
    // a byte-order mark, CRLF lines "[oledb]", the comment, the string.
    void writeDataLink(const QString& connectionString) const
    {
        const QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") +
                             connectionString + QStringLiteral("\r\n");
        QFile file(m_dir.filePath(QStringLiteral("db/connection.udl")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        file.write("\xFF\xFE");
        file.write(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    }

    // The rows of a table as `jetdb json` prints them, an independent read of the file.
    static QList<QJsonObject> rows(const QString& file, const QString& table, const QString& password = QString())
    {
        QProcess jetdb;
        QStringList arguments{QStringLiteral("json"), file, table};
        if (!password.isEmpty()) arguments = QStringList{QStringLiteral("--password"), password} + arguments;
        jetdb.start(QStringLiteral(JETDB_PATH), arguments);
        jetdb.waitForFinished(60000);
        QList<QJsonObject> out;
        for (const QByteArray& line : jetdb.readAllStandardOutput().split('\n'))
            if (!line.trimmed().isEmpty()) out << QJsonDocument::fromJson(line).object();
        return out;
    }

    // is_del of every entry, by id.
    static QMap<int, int> exportStates(const QString& file, const QString& password = QString())
    {
        QMap<int, int> states;
        for (const QJsonObject& row : rows(file, QStringLiteral("all_key"), password))
            states[row.value(QStringLiteral("id")).toInt()] = row.value(QStringLiteral("is_del")).toInt();
        return states;
    }

private:
    static bool runJetdb(const QString& password, QStringList arguments, QString* error)
    {
        if (!password.isEmpty()) arguments = QStringList{QStringLiteral("--password"), password} + arguments;
        QProcess jetdb;
        jetdb.start(QStringLiteral(JETDB_PATH), arguments);
        const bool ok = jetdb.waitForFinished(120000) && jetdb.exitCode() == 0;
        if (!ok && error) *error = QString::fromUtf8(jetdb.readAllStandardError());
        return ok;
    }

    QTemporaryDir m_dir;
    QString m_databaseName = QStringLiteral("vask.mdb");
};

// A message box as the test saw it.
struct SeenBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QString informative; // the text under the message, when the box has one
};

// Answers the modal windows a test provokes, in the order it expects them.
// Message boxes are answered through the program's one seam
// (MessageBoxes): their answers are queued before the action and no box is
// ever shown; a box nobody answered is recorded as unexpected. Other modal
// windows (the export dialog, the save dialog): a timer looks at
// QApplication::activeModalWidget(); when the window there is the kind the
// next step expects, the step runs. A modal window nobody expects is
// recorded and closed, and so is any window still open when a step has
// waited too long, so a test never hangs.
class ModalScript : public QObject {
public:
    using Match = std::function<bool(QWidget*)>;
    using Act = std::function<void(QWidget*)>;

    explicit ModalScript(int stepLimitMs = 15000) : m_stepLimitMs(stepLimitMs)
    {
        MessageBoxes::reset();
        MessageBoxes::setScripted(true);
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::look);
        m_timer.start(10);
        m_deadline = QDeadlineTimer(m_stepLimitMs);
    }
    ~ModalScript() override { MessageBoxes::reset(); }

    // The next message box: recorded, then answered with `button`.
    ModalScript& answerBox(QMessageBox::StandardButton button)
    {
        return answerBox([] {}, button);
    }
    // The same, `meanwhile` running while the box is up (another program's
    // change while the operator reads the question).
    ModalScript& answerBox(std::function<void()> meanwhile, QMessageBox::StandardButton button)
    {
        MessageBoxes::setNextAnswer([this, meanwhile = std::move(meanwhile), button](const MessageBoxes::Box& box) {
            meanwhile();
            if (box.buttons & button) return button;
            m_problems << QStringLiteral("box \"%1\" has no such button").arg(box.text);
            return QMessageBox::NoButton;
        });
        return *this;
    }

    // The next dialog of type Dialog: `act` works it; it is closed afterwards if still open.
    template <class Dialog>
    ModalScript& onDialog(std::function<void(Dialog*)> act)
    {
        return then([](QWidget* w) { return qobject_cast<Dialog*>(w) != nullptr; },
                    [act](QWidget* w) { act(static_cast<Dialog*>(w)); });
    }

    ModalScript& then(Match match, Act act)
    {
        if (m_steps.empty()) m_deadline = QDeadlineTimer(m_stepLimitMs);
        m_steps.push_back({std::move(match), std::move(act)});
        return *this;
    }

    // Waits until every step ran (false when one timed out).
    bool finish(int ms = 15000)
    {
        QDeadlineTimer until(ms);
        while ((!m_steps.empty() || !m_busy.isEmpty() || MessageBoxes::pendingAnswers() > 0) && !until.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!m_steps.empty()) m_problems << QStringLiteral("%1 expected window(s) never came").arg(m_steps.size());
        if (MessageBoxes::pendingAnswers() > 0)
            m_problems << QStringLiteral("%1 expected message box(es) never came").arg(MessageBoxes::pendingAnswers());
        for (const MessageBoxes::Box& box : MessageBoxes::takeUnexpected())
            m_problems << QStringLiteral("unexpected message box \"%1\"").arg(box.text);
        return m_problems.isEmpty();
    }

    // The message boxes shown so far, in order.
    const QList<SeenBox>& boxes()
    {
        for (const MessageBoxes::Box& box : MessageBoxes::takeShown())
            m_boxes << SeenBox{box.caption, box.text, box.icon, box.buttons, box.informative};
        return m_boxes;
    }
    // Windows nobody expected, steps that timed out.
    const QStringList& problems() const { return m_problems; }

private:
    struct Step {
        Match match;
        Act act;
    };

    void look()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            if (!m_steps.empty() && m_deadline.hasExpired()) {
                m_problems << QStringLiteral("an expected window never came");
                m_steps.clear();
            }
            return;
        }
        if (m_busy.contains(modal)) return; // a step is working it
        if (m_steps.empty() || !m_steps.front().match(modal)) {
            if (m_steps.empty() || m_deadline.hasExpired() || qobject_cast<QMessageBox*>(modal)) {
                m_problems << QStringLiteral("unexpected window \"%1\" %2").arg(modal->windowTitle(), describe(modal));
                record(modal);
                closeWindow(modal);
            }
            return;
        }
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        m_deadline = QDeadlineTimer(m_stepLimitMs);
        record(modal);
        m_busy.insert(modal);
        // Run from a queued call, not from the timer: Qt does not fire a
        // timer again while its own handler runs, and the step may open
        // modal windows that the timer has to answer.
        QMetaObject::invokeMethod(
            this,
            [this, step = std::move(step), guard = QPointer<QWidget>(modal), modal] {
                step.act(modal);
                m_busy.remove(modal);
                if (guard && guard->isVisible() && guard == QApplication::activeModalWidget()) closeWindow(guard);
            },
            Qt::QueuedConnection);
    }

    void record(QWidget* modal)
    {
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            m_boxes << SeenBox{box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->informativeText()};
    }

    static QString describe(QWidget* modal)
    {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) return box->text();
        return QString::fromLatin1(modal->metaObject()->className());
    }

    static void closeWindow(QWidget* modal)
    {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        else modal->close();
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
    QSet<QWidget*> m_busy;
    QList<SeenBox> m_boxes;
    QStringList m_problems;
    int m_stepLimitMs;
    QDeadlineTimer m_deadline;
};
