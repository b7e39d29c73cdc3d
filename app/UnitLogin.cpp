#include "app/UnitLogin.h"

#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/RegisterStatements.h"
#include "qtcommon/DefaultErrorDisplay.h"
#include "qtcommon/MessageBoxes.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

TFrmLogin::TFrmLogin(TADOConnection* connection, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Label1(new QLabel(QStringLiteral("用户名："), this)),
      edt1(new QLineEdit(QStringLiteral("admin"), this)),
      Label2(new QLabel(QStringLiteral("密    码："), this)),
      edt2(new QLineEdit(this)),
      btnOK(new QPushButton(QStringLiteral("登录(&Y)"), this)),
      btn3(new QPushButton(QStringLiteral("取消(&C)"), this)),
      qry1(new TADOQuery),
      m_query(qry1)
{
    setObjectName(QStringLiteral("FrmLogin"));
    setWindowTitle(QStringLiteral("登录"));
    // Client area of a 375 × 215 window with the usual frame and title bar.
    resize(359, 176);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(64, 36, 64, 20);
    edt1->setObjectName(QStringLiteral("edt1"));
    edt1->setGeometry(136, 34, 145, 22);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(64, 76, 64, 20);
    edt2->setObjectName(QStringLiteral("edt2"));
    edt2->setGeometry(136, 74, 145, 22);
    edt2->setEchoMode(QLineEdit::Password);
    edt2->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(88, 124, 75, 25);
    btn3->setObjectName(QStringLiteral("btn3"));
    btn3->setGeometry(200, 124, 75, 25);
    // Neither button is the default: Enter presses only the button that has the focus.
    for (QPushButton* button : {btnOK, btn3}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    setTabOrder(edt2, btnOK);
    setTabOrder(btnOK, btn3);
    setTabOrder(btn3, edt1);
    edt2->setFocus();

    for (QWidget* control : {static_cast<QWidget*>(edt1), static_cast<QWidget*>(edt2),
                             static_cast<QWidget*>(btnOK), static_cast<QWidget*>(btn3)})
        control->installEventFilter(this);
    installEventFilter(this);

    qry1->setConnection(connection);
    connect(btnOK, &QPushButton::clicked, this, [this] { DefaultErrorDisplay::guard(this, [this] { btnOKClick(); }); });
    connect(btn3, &QPushButton::clicked, this, &QDialog::reject);
}

TFrmLogin::~TFrmLogin() = default;

QString TFrmLogin::trimControls(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start).unicode() <= u' ') ++start;
    while (end > start && text.at(end - 1).unicode() <= u' ') --end;
    return text.mid(start, end - start);
}

void TFrmLogin::btnOKClick()
{
    if (qry1->Active()) qry1->Close();
    const QString userName = trimControls(edt1->text());
    const QString password = trimControls(edt2->text());
    // Both texts go to the database as parameter values, so whatever they
    // hold is looked up literally.
    RegisterStatements::accountLookup(*qry1, userName, password);
    try {
        qry1->Open();
    } catch (const std::exception& error) {
        // A server that dropped the session since start-up: once more on a new one.
        if (!qry1->Connection() || !qry1->Connection()->ReconnectAfter(error)) throw;
        qry1->Open();
    }
    const bool found = !qry1->IsEmpty();
    qry1->Close();
    if (!found) {
        MessageBoxes::show(this, {QMessageBox::Critical, QStringLiteral("系统提示"), failedMessage(), QString(),
                                  QMessageBox::Ok});
        return;
    }
    accept();
}

bool TFrmLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier)
            if (FormKeyPress(watched, key->key())) return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool TFrmLogin::FormKeyPress(QObject* target, int key)
{
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A focused button is pressed by Enter; elsewhere Enter acts as Tab.
        if (auto* button = qobject_cast<QPushButton*>(target)) {
            button->click();
            return true;
        }
        focusNextChild();
        return true;
    case Qt::Key_Escape:
        reject();
        return true;
    default:
        return false;
    }
}

void TFrmLogin::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    edt2->setFocus();
}
