#include "data/UImport.h"

#include "ado/EDatabaseError.h"
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "qtcommon/DefaultErrorDisplay.h"
#include "data/ExportSave.h"
#include "data/GbkTextFile.h"
#include "data/RegisterStatements.h"
#include "data/TSaveDialog.h"
#include "qtcommon/MessageBoxes.h"

#include <QApplication>
#include <QFont>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>

#include <algorithm>
#include <iterator>

namespace {

// Shows a wait cursor while a handler works.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Runs an action of the operator. When it failed because the server
// dropped the session (restarted, network cut), a new session is opened and
// the action runs once more: a save that failed left nothing marked and no
// file. A commit in doubt is not tried again: its file is kept for the
// operator to decide.
template <typename Action>
auto onceMoreOnANewSession(TADOConnection* connection, Action action) -> decltype(action())
{
    try {
        return action();
    } catch (const ECommitInDoubt&) {
        throw;
    } catch (const EDatabaseError& error) {
        if (!connection || !connection->ReconnectAfter(error)) throw;
    }
    return action();
}

} // namespace

TFrmImport::TFrmImport(TADOConnection* connection, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      Memo1(new QPlainTextEdit(this)),
      Button1(new QPushButton(QStringLiteral("数据导出"), this)),
      Button2(new QPushButton(QStringLiteral("保存至文件"), this)),
      ADOQuery1(new TADOQuery),
      ADOQuery2(new TADOQuery),
      SaveDialog1(new TSaveDialog(this)),
      m_pendingQuery(ADOQuery1),
      m_markQuery(ADOQuery2),
      m_saveDialog(SaveDialog1)
{
    setObjectName(QStringLiteral("FrmImport"));
    setWindowTitle(QStringLiteral("数据导出"));
    setFixedSize(406, 236);

    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, 0, 406, 193);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont(QStringLiteral("宋体"));
    memoFont.setPixelSize(12);
    Memo1->setFont(memoFont);

    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(96, 202, 75, 25);
    Button1->setAutoDefault(false);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(232, 202, 75, 25);
    Button2->setAutoDefault(false);

    ADOQuery1->setConnection(connection);
    ADOQuery2->setConnection(connection);

    connect(Button1, &QPushButton::clicked, this, [this] { DefaultErrorDisplay::guard(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { DefaultErrorDisplay::guard(this, [this] { Button2Click(); }); });
}

TFrmImport::~TFrmImport() = default;

void TFrmImport::Button1Click()
{
    Memo1->clear();
    m_listed.clear();
    if (ADOQuery1->Active()) ADOQuery1->Close();

    // Large registers take a moment: a progress dialog appears after half a
    // second and lets the operator stop.
    QProgressDialog progress(QStringLiteral("正在生成导出数据……"), QStringLiteral("取消"), 0, 0, this);
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    std::optional<RegisterExport::Listing> listing;
    {
        WaitCursor wait;
        listing = onceMoreOnANewSession(ADOQuery1->Connection(), [&] {
            return RegisterExport::build(*ADOQuery1, [&progress](int done, int total) {
                progress.setMaximum(total);
                progress.setValue(done);
                return !progress.wasCanceled();
            });
        });
    }
    if (listing && listing->listed.empty()) {
        Memo1->appendPlainText(listing->text);
        return;
    }
    if (listing) {
        progress.setLabelText(QStringLiteral("正在显示导出数据……"));
        WaitCursor wait;
        Memo1->setPlainText(listing->text);
        m_listed = std::move(listing->listed);
    }
    progress.reset();
    ADOQuery1->Close();
    ADOQuery2->Close();
}

void TFrmImport::Button2Click()
{
    if (!SaveDialog1->Execute()) return;
    const QString fullPath = SaveDialog1->FileName();
    QString message = savedMessage(fullPath);
    {
        WaitCursor wait;
        // The raw text keeps every character as typed (plain text would
        // turn no-break spaces into spaces).
        const QString text = Memo1->document()->toRawText();
        // One claim: the entries still pending are marked and their records
        // written in one transaction; entries another operator or program
        // exported or deleted meanwhile are left out of the file.
        if (!ADOQuery2->Connection())
            throw EDatabaseError(QStringLiteral("The export has no database connection"));
        const ExportSave::Result saved = onceMoreOnANewSession(
            ADOQuery2->Connection(), [&] { return ExportSave::save(*ADOQuery2->Connection(), fullPath, text, m_listed); });
        std::vector<qint64> done;
        std::merge(saved.marked.begin(), saved.marked.end(), saved.takenElsewhere.begin(), saved.takenElsewhere.end(),
                   std::back_inserter(done));
        std::vector<qint64> left;
        std::set_difference(m_listed.begin(), m_listed.end(), done.begin(), done.end(), std::back_inserter(left));
        m_listed = std::move(left);
        if (!saved.fileWritten) {
            message = nothingSavedMessage(int(saved.takenElsewhere.size()));
        } else if (!saved.takenElsewhere.empty()) {
            Memo1->setPlainText(saved.writtenText);
            message += takenElsewhereNote(int(saved.takenElsewhere.size()), int(saved.marked.size()));
        }
    }
    MessageBoxes::show(this, {QMessageBox::NoIcon, DefaultErrorDisplay::applicationTitle(), message, QString(),
                              QMessageBox::Ok});
}
