#pragma once

#include <QDialog>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class TADOConnection;
class TADOQuery;

// The sign-in dialog: only an active account of the table counted gets
// past it. Tab order: password, sign-in button, cancel button, user name;
// the password field has the focus when it opens. Enter moves on to the
// next field, or presses the button that has the focus; Esc cancels.
class TFrmLogin : public QDialog {
    Q_OBJECT
public:
    explicit TFrmLogin(TADOConnection* connection, QWidget* parent = nullptr);
    ~TFrmLogin() override;

    QLabel* const Label1;
    QLineEdit* const edt1; // user name
    QLabel* const Label2;
    QLineEdit* const edt2; // password
    QPushButton* const btnOK;
    QPushButton* const btn3;
    TADOQuery* const qry1;

    // Looks the account up; accepts the dialog when it exists and may sign
    // in, otherwise says so and leaves both fields as they are. Errors are
    // raised (the button shows them in the default error display).
    void btnOKClick();

    static QString failedMessage() { return QStringLiteral("此用户不存在或密码错误！"); }
    // Leading and trailing characters at or below the space removed.
    static QString trimControls(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The dialog sees every key before its controls; true when it used it.
    bool FormKeyPress(QObject* target, int key);

    std::unique_ptr<TADOQuery> m_query;
};
