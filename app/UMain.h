#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QTabBar;
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

    // Text of status panel 0..2.
    QString StatusPanelText(int panel) const;

    static QString exitQuestion() { return QStringLiteral("确定要退出本系统吗？"); }
    static QString messageCaption() { return QStringLiteral("USBKEY管理系统"); }

    // Reloads the register: reopens the listing, shows its count and applies
    // the saved column layout. Errors are swallowed; the steps after the
    // failing one are skipped.
    void action_RefreshExecute();
    // Opens the export dialog modally.
    void find_entpExecute();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    // Saves the grids' layouts and asks the exit question; true on Yes.
    bool FormCloseQuery();
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void setStatusCount(int count);
    static bool runSignInDialog(TDM* dm);

    TDM* m_dm;
    bool m_signedIn = false;
    QLabel* m_statusPanels[3] = {};
    std::unique_ptr<TADOQuery> m_registerListing;
    std::unique_ptr<TADOQuery> m_departmentListing;
};
