#pragma once

#include <QApplication>

// The application object of the program: Qt's own texts in Chinese, the
// Windows font names of the forms mapped to installed CJK fonts, and every
// error that reaches the event loop shown in the default error display
// instead of ending the process.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // What the constructor sets up, for any application object (tests).
    static void setUpLocalisation(QApplication& application);
};
