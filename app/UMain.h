#pragma once

#include "ado/TDataSet.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class FindBar;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QTabBar;
class QTimer;
class QToolBar;
class QToolButton;
class TADOQuery;
class TDataSource;
class TDBGridEx;
class TDM;
class TImageList;

// The main window: the key register newest first in DBGridEx1 with its
// entry count in the status bar, refresh (tool bar, menu, the grid's context
// menu, F5), the export dialog, deletion of an entry with Ctrl+Delete, and
// the exit question. Its creation runs the sign-in gate.
//
// Other programs change the register too (the program that issues keys,
// other operators' windows): the window reads an Access register again when
// another program committed to it (Timer1, and when the window gains the
// focus), and a server's session that was lost is opened again once per
// action of the operator. An entry that is gone is never offered for
// deletion: the operator is told and sees the register as it is now.
//
// Ctrl+F opens a find bar under the grid that makes the next entry whose
// serial number or user name begins with the typed text current (FindBar).
class TFrmMain : public QMainWindow {
    Q_OBJECT
public:
    // Returns true when an operator signed in.
    using SignInGate = std::function<bool(TDM* dm)>;

    // Runs the sign-in gate (by default the sign-in dialog) before the
    // window is shown; when it fails, SignedIn() is false and the program
    // must end without showing the window.
    explicit TFrmMain(TDM* dm, const SignInGate& signIn = {}, QWidget* parent = nullptr);
    ~TFrmMain() override;

    bool SignedIn() const { return m_signedIn; }

    TImageList* const ImageList1;
    QAction* const find_entp;
    QAction* const action_exit;
    QAction* const action_Refresh;
    QMenuBar* const MM;
    QMenu* const PopupMenu1;
    QFrame* const Panel3;
    QFrame* const CoolBar1;
    QToolBar* const ToolBar1;
    QToolButton* const btnFindEnte;
    QToolButton* const ToolButton5;
    QToolButton* const ToolButton2;
    QFrame* const Panel2;
    TDBGridEx* const DBGridEx1;
    TDBGridEx* const DBGridEx2;
    QTabBar* const TabSet1;
    QStatusBar* const StatusBar1;
    TADOQuery* const ADOQuery1; // the register listing
    TADOQuery* const ADOQuery2; // the department listing (never opened)
    TDataSource* const DataSource1;
    TDataSource* const DataSource2;
    // Looks every few seconds whether another program changed the register.
    QTimer* const Timer1;
    // The find bar under the grid (hidden until Ctrl+F) and its actions:
    // "查找..." in the Edit menu, F3 and Shift+F3 anywhere in the window.
    FindBar* const FindBar1;
    QAction* const action_Find;
    QAction* const action_FindNext;
    QAction* const action_FindPrevious;

    // Text of status panel 0..2.
    QString StatusPanelText(int panel) const;

    static QString exitQuestion() { return QStringLiteral("确定要退出本系统吗？"); }
    static QString messageCaption() { return QStringLiteral("USBKEY管理系统"); }
    // The entry the operator wanted to delete is no longer in the register.
    static QString entryGoneMessage() { return QStringLiteral("该记录已被其他操作员或程序删除，列表已刷新。"); }
    // The register's server does not answer (the reason follows in the box).
    static QString serverUnreachableOnRefreshMessage() { return QStringLiteral("无法连接数据库服务器，列表未刷新。"); }
    static QString serverUnreachableOnDeleteMessage() { return QStringLiteral("无法连接数据库服务器，记录未删除。"); }
    // How often Timer1 looks at the register, in milliseconds.
    static constexpr int kChangeLookInterval = 3000;

    // Reloads the register: reopens the listing, shows its count and applies
    // the saved column layout. Errors are swallowed; the steps after the
    // failing one are skipped.
    void action_RefreshExecute();
    // Opens the export dialog modally.
    void find_entpExecute();
    // Reads the register again, keeping the sort and the current entry, when
    // another program changed it since the window last read it; nothing
    // while a modal window runs (the export, a message box) or a cell is
    // being edited.
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    // Saves the grids' layouts and asks the exit question; true on Yes.
    bool FormCloseQuery();
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void setStatusCount(int count);
    static bool runSignInDialog(TDM* dm);
    bool readAgainIfChangedElsewhere();
    // Before Ctrl+Delete offers the current entry: false (the operator told)
    // when it is gone or the server cannot be reached.
    bool currentEntryMayBeOffered();
    TDataAction ADOQuery1DeleteError(const EDatabaseError& error);
    qint64 currentEntryId() const; // -1 without a current entry
    bool onServer() const;
    void tell(const QString& text, const std::exception* reason = nullptr);

    TDM* m_dm;
    bool m_signedIn = false;
    QLabel* m_statusPanels[3] = {};
    std::unique_ptr<TADOQuery> m_registerListing;
    std::unique_ptr<TADOQuery> m_departmentListing;
    qint64 m_deletingId = -1;          // the entry a running delete is for
    bool m_deleteReconnected = false;  // its session was opened again once
};
