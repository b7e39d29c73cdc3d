#include "app/UMain.h"

#include "ado/EDatabaseError.h"
#include "ado/ServerProvider.h"
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "ado/TDataSource.h"
#include "app/ActionImages.h"
#include "app/FindBar.h"
#include "app/UnitDM.h"
#include "app/UnitLogin.h"
#include "qtcommon/DefaultErrorDisplay.h"
#include "qtcommon/IgnoredError.h"
#include "data/RegisterStatements.h"
#include "data/UImport.h"
#include "grid/DBGridEx.h"
#include "qtcommon/MessageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kLoadLayoutFile = QStringLiteral("ColumnINFO.ini");
// The close handling names the file in other letter case; the grid resolves
// both names to the one file.
const QString kSaveLayoutFile = QStringLiteral("ColumnInfo.ini");

void setUpRegisterGrid(TDBGridEx* grid, TDataSource* source)
{
    grid->setDataSource(source);
    grid->setOptions(dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs | dgConfirmDelete |
                     dgCancelOnExit);
    grid->setSDefaultColor(clBlack);
    grid->setSAllowInputDocFile(false);
    grid->setSConfirmBy(TConfirmBy::Single);
}

} // namespace

TFrmMain::TFrmMain(TDM* dm, const SignInGate& signIn, QWidget* parent)
    : QMainWindow(parent),
      ImageList1(ActionImages::createImageList(this)),
      find_entp(new QAction(ActionImages::icon(ActionImages::Export), QStringLiteral("导出数据"), this)),
      action_exit(new QAction(ActionImages::icon(ActionImages::Exit), QStringLiteral("退出"), this)),
      action_Refresh(new QAction(ActionImages::icon(ActionImages::Refresh), QStringLiteral("刷新信息"), this)),
      MM(new QMenuBar(this)),
      PopupMenu1(new QMenu(this)),
      Panel3(new QFrame),
      CoolBar1(new QFrame(Panel3)),
      ToolBar1(new QToolBar(CoolBar1)),
      btnFindEnte(new QToolButton),
      ToolButton5(new QToolButton),
      ToolButton2(new QToolButton),
      Panel2(new QFrame),
      DBGridEx1(new TDBGridEx(Panel2)),
      DBGridEx2(new TDBGridEx(Panel2)),
      TabSet1(new QTabBar(Panel2)),
      StatusBar1(new QStatusBar(this)),
      ADOQuery1(new TADOQuery),
      ADOQuery2(new TADOQuery),
      DataSource1(new TDataSource(this)),
      DataSource2(new TDataSource(this)),
      Timer1(new QTimer(this)),
      FindBar1(new FindBar(DBGridEx1, Panel2)),
      action_Find(new QAction(QStringLiteral("查找..."), this)),
      action_FindNext(new QAction(QStringLiteral("查找下一个"), this)),
      action_FindPrevious(new QAction(QStringLiteral("查找上一个"), this)),
      m_dm(dm),
      m_registerListing(ADOQuery1),
      m_departmentListing(ADOQuery2)
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("新型加密锁管理"));
    setWindowIcon(ActionImages::icon(ActionImages::Key));
    resize(740, 491);

    find_entp->setObjectName(QStringLiteral("find_entp"));
    action_exit->setObjectName(QStringLiteral("action_exit"));
    action_Refresh->setObjectName(QStringLiteral("action_Refresh"));
    action_Refresh->setShortcut(QKeySequence(Qt::Key_F5));
    action_Refresh->setShortcutContext(Qt::WindowShortcut);
    addAction(action_Refresh); // F5 works wherever the focus is in the window
    connect(find_entp, &QAction::triggered, this, [this] { DefaultErrorDisplay::guard(this, [this] { find_entpExecute(); }); });
    connect(action_Refresh, &QAction::triggered, this, [this] { action_RefreshExecute(); });
    const struct {
        QAction* action;
        const char* name;
        QKeySequence key;
    } findActions[] = {{action_Find, "action_Find", QKeySequence(Qt::CTRL | Qt::Key_F)},
                       {action_FindNext, "action_FindNext", QKeySequence(Qt::Key_F3)},
                       {action_FindPrevious, "action_FindPrevious", QKeySequence(Qt::SHIFT | Qt::Key_F3)}};
    for (const auto& entry : findActions) {
        entry.action->setObjectName(QString::fromLatin1(entry.name));
        entry.action->setShortcut(entry.key);
        entry.action->setShortcutContext(Qt::WindowShortcut);
        addAction(entry.action);
    }
    connect(action_Find, &QAction::triggered, FindBar1, &FindBar::openBar);
    connect(action_FindNext, &QAction::triggered, FindBar1, &FindBar::findNext);
    connect(action_FindPrevious, &QAction::triggered, FindBar1, &FindBar::findPrevious);
    // Leaving through the action is the same as the close box: layout saved, question asked.
    connect(action_exit, &QAction::triggered, this, &QWidget::close);

    ADOQuery1->setConnection(dm->ADOConn);
    ADOQuery1->setCursorType(ctStatic);
    ADOQuery1->setSQLText(RegisterStatements::registerListing());
    // The count follows a deletion at once, not only at the next reload.
    ADOQuery1->AfterDelete = [this](TDataSet* dataSet) { setStatusCount(dataSet->RecordCount()); };
    // The list read again after another program changed the register.
    ADOQuery1->AfterRefresh = ADOQuery1->AfterDelete;
    ADOQuery1->BeforeDelete = [this](TDataSet*) {
        m_deletingId = currentEntryId();
        m_deleteReconnected = false;
    };
    ADOQuery1->OnDeleteError = [this](TDataSet*, const EDatabaseError& error, TDataAction& action) {
        action = ADOQuery1DeleteError(error);
    };
    ADOQuery2->setConnection(dm->ADOConn);
    ADOQuery2->setCursorType(ctStatic);
    ADOQuery2->setSQLText(RegisterStatements::departmentListing());
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DataSource1->setDataSet(ADOQuery1);
    DataSource2->setObjectName(QStringLiteral("DataSource2"));
    DataSource2->setDataSet(ADOQuery2);

    buildMenus();
    buildToolBar();

    Panel2->setObjectName(QStringLiteral("Panel2"));
    DBGridEx1->setName(QStringLiteral("DBGridEx1"));
    setUpRegisterGrid(DBGridEx1, DataSource1);
    DBGridEx1->setPopupMenu(PopupMenu1);
    DBGridEx1->installEventFilter(this); // Ctrl+Delete is looked at before the grid asks
    DBGridEx2->setName(QStringLiteral("DBGridEx2"));
    setUpRegisterGrid(DBGridEx2, DataSource2);
    DBGridEx2->hide();
    TabSet1->setObjectName(QStringLiteral("TabSet1"));
    TabSet1->setShape(QTabBar::RoundedSouth);
    TabSet1->addTab(QStringLiteral("密钥制作信息"));
    TabSet1->setDrawBase(false);
    auto* panelLayout = new QVBoxLayout(Panel2);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(DBGridEx1, 1);
    panelLayout->addWidget(DBGridEx2, 1);
    panelLayout->addWidget(FindBar1);
    panelLayout->addWidget(TabSet1, 0, Qt::AlignLeft);

    auto* client = new QWidget(this);
    auto* clientLayout = new QVBoxLayout(client);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    clientLayout->setSpacing(0);
    clientLayout->addWidget(Panel3);
    clientLayout->addWidget(Panel2, 1);
    setCentralWidget(client);

    buildStatusBar();

    // Everything else in the program happens when the operator acts. Other
    // programs write to an Access register, though, and nothing but the
    // file tells this window: this timer looks at the file's state (a look,
    // not a read) and reads the register again when another program has
    // committed. It starts with the window, after the sign-in.
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kChangeLookInterval);
    connect(Timer1, &QTimer::timeout, this, &TFrmMain::Timer1Timer);

    // FormCreate: the sign-in gate.
    m_signedIn = signIn ? signIn(dm) : runSignInDialog(dm);
}

TFrmMain::~TFrmMain()
{
    // The grids go with the window's children, after the queries.
    DataSource1->setDataSet(nullptr);
    DataSource2->setDataSet(nullptr);
}

bool TFrmMain::runSignInDialog(TDM* dm)
{
    TFrmLogin login(dm->ADOConn);
    return login.exec() == QDialog::Accepted;
}

void TFrmMain::buildMenus()
{
    MM->setObjectName(QStringLiteral("MM"));
    setMenuBar(MM);
    QMenu* fileMenu = MM->addMenu(QStringLiteral("文件"));
    fileMenu->setObjectName(QStringLiteral("N1"));
    fileMenu->addAction(action_exit);
    QMenu* editMenu = MM->addMenu(QStringLiteral("编辑"));
    editMenu->setObjectName(QStringLiteral("N2"));
    // The export item of this menu is hidden; the action itself stays
    // visible in the grid's context menu.
    QAction* exportItem = editMenu->addAction(find_entp->icon(), find_entp->text());
    exportItem->setObjectName(QStringLiteral("N3"));
    exportItem->setVisible(false);
    connect(exportItem, &QAction::triggered, find_entp, &QAction::trigger);
    editMenu->addSeparator();
    editMenu->addAction(action_Refresh);
    editMenu->addAction(action_Find);

    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addAction(find_entp);
    PopupMenu1->addAction(action_Refresh);
}

void TFrmMain::buildToolBar()
{
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(58);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFrameShape(QFrame::NoFrame);
    auto* panelLayout = new QVBoxLayout(Panel3);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(CoolBar1);
    auto* bandLayout = new QVBoxLayout(CoolBar1);
    bandLayout->setContentsMargins(2, 2, 2, 2);
    bandLayout->addWidget(ToolBar1);

    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    const struct {
        QToolButton* button;
        const char* name;
        QAction* action;
    } buttons[] = {{btnFindEnte, "btnFindEnte", find_entp}, {ToolButton5, "ToolButton5", action_Refresh},
                   {ToolButton2, "ToolButton2", action_exit}};
    for (const auto& entry : buttons) {
        entry.button->setObjectName(QString::fromLatin1(entry.name));
        entry.button->setDefaultAction(entry.action);
        entry.button->setAutoRaise(true);
        entry.button->setIconSize(QSize(32, 32));
        entry.button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        entry.button->setFixedSize(55, 52);
        QAction* placed = ToolBar1->addWidget(entry.button);
        if (entry.button == btnFindEnte) placed->setVisible(false);
        if (entry.button == ToolButton5) ToolBar1->addSeparator();
    }
}

void TFrmMain::buildStatusBar()
{
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(true);
    setStatusBar(StatusBar1);
    const int widths[3] = {50, 150, 50};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(StatusBar1);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(panel);
        m_statusPanels[i] = panel;
    }
    m_statusPanels[0]->setText(QStringLiteral("数量"));
    m_statusPanels[0]->setAlignment(Qt::AlignCenter);
}

QString TFrmMain::StatusPanelText(int panel) const
{
    return m_statusPanels[panel]->text();
}

void TFrmMain::setStatusCount(int count)
{
    m_statusPanels[1]->setText(QString::number(count));
}

void TFrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TFrmMain::FormShow()
{
    DBGridEx2->hide();
    DBGridEx1->show();
    TabSet1->setCurrentIndex(0);
    action_RefreshExecute();
    Timer1->start();
}

bool TFrmMain::onServer() const
{
    return ServerProvider::serves(m_dm->ADOConn->Provider());
}

void TFrmMain::tell(const QString& text, const std::exception* reason)
{
    MessageBoxes::show(this, {QMessageBox::Information, messageCaption(), text,
                              reason ? QString::fromUtf8(reason->what()) : QString(), QMessageBox::Ok});
}

qint64 TFrmMain::currentEntryId() const
{
    try {
        if (!ADOQuery1->Active() || ADOQuery1->IsEmpty()) return -1;
        const TField* id = ADOQuery1->FindField(QStringLiteral("id"));
        return id && !id->IsNull() ? id->AsLargeInt() : -1;
    } catch (const std::exception&) {
        ignoreBecause("an entry that cannot be read is no entry to keep or offer");
        return -1;
    }
}

void TFrmMain::Timer1Timer()
{
    // The operator is busy in the modal window; the register is looked at
    // again when this window has the focus back.
    if (QApplication::activeModalWidget()) return;
    readAgainIfChangedElsewhere();
}

void TFrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) Timer1Timer();
}

bool TFrmMain::readAgainIfChangedElsewhere()
{
    if (!ADOQuery1->Active() || ADOQuery1->State() == dsEdit) return false;
    try {
        if (!m_dm->ADOConn->ChangedElsewhere()) return false;
        // Sort and current entry stay; AfterRefresh shows the new count.
        ADOQuery1->Refresh();
        return true;
    } catch (const std::exception&) {
        ignoreBecause("a register that cannot be read now is looked at again at the next tick");
        return false;
    }
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == DBGridEx1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier) && !currentEntryMayBeOffered())
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TFrmMain::currentEntryMayBeOffered()
{
    if (!ADOQuery1->Active() || ADOQuery1->IsEmpty()) return true; // the grid does nothing then
    const qint64 id = currentEntryId();
    if (onServer()) {
        // Nothing cheap tells of a server's changes; a session it dropped is
        // opened again now rather than after the question.
        try {
            m_dm->ADOConn->CheckConnection();
        } catch (const std::exception& error) {
            tell(serverUnreachableOnDeleteMessage(), &error);
            return false;
        }
        return true;
    }
    if (!readAgainIfChangedElsewhere() || currentEntryId() == id) return true;
    tell(entryGoneMessage());
    return false;
}

TDataAction TFrmMain::ADOQuery1DeleteError(const EDatabaseError& error)
{
    TADOConnection* connection = m_dm->ADOConn;
    try {
        // A session the server dropped: once more on a new one.
        if (!m_deleteReconnected && connection->ReconnectAfter(error)) {
            m_deleteReconnected = true;
            return daRetry;
        }
        if (onServer()) connection->CheckConnection();
    } catch (const std::exception& unreachable) {
        tell(serverUnreachableOnDeleteMessage(), &unreachable);
        return daAbort;
    }
    // Another program may have deleted the entry (a file's delete then finds
    // its row gone, a server's finds no row): the register as it is now says.
    try {
        ADOQuery1->Refresh();
    } catch (const std::exception&) {
        ignoreBecause("the delete's own error is the one to show");
        return daFail;
    }
    if (currentEntryId() == m_deletingId) return daFail;
    tell(entryGoneMessage());
    return daAbort;
}

void TFrmMain::action_RefreshExecute()
{
    // A server is asked first whether it still answers: one that cannot be
    // reached leaves the list as it is, and the operator is told.
    if (onServer()) {
        try {
            m_dm->ADOConn->CheckConnection();
        } catch (const std::exception& error) {
            tell(serverUnreachableOnRefreshMessage(), &error);
            return;
        }
    }
    try {
        ADOQuery1->Close();
        ADOQuery1->Open();
        setStatusCount(ADOQuery1->RecordCount());
        // The grid rebuilds its columns at every opening: apply the layout again.
        DBGridEx1->LoadColumnCaptions();
        DBGridEx1->LoadColumnVisibility(kLoadLayoutFile);
        DBGridEx1->LoadColumnWidths();
    } catch (const std::exception&) {
        ignoreBecause("a lost or locked database only leaves the list as it is");
    }
}

void TFrmMain::find_entpExecute()
{
    TFrmImport dialog(m_dm->ADOConn, this);
    dialog.exec();
}

void TFrmMain::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery()) event->accept();
    else event->ignore();
}

bool TFrmMain::FormCloseQuery()
{
    try {
        for (TDBGridEx* grid : {DBGridEx1, DBGridEx2}) {
            grid->SaveColumnLayout(kSaveLayoutFile);
        }
    } catch (const std::exception& error) {
        // A read-only program folder must not keep the operator from leaving:
        // the refusal is shown and the question still comes.
        DefaultErrorDisplay::show(error, this);
    }
    return MessageBoxes::show(this, {QMessageBox::Information, messageCaption(), exitQuestion(), QString(),
                                     QMessageBox::Yes | QMessageBox::No}) == QMessageBox::Yes;
}
