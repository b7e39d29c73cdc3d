// The program's start-up exactly as usbkey runs it, with every modal window
// reported on standard output ("caption|text" for message boxes, followed by
// "|informative text" when the box has one, "window|caption" for dialogs)
// and then closed, so that a test can start it as a process from any folder
// and see what an operator would see.
#include "app/ProgramStart.h"
#include "app/TApplication.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    QPointer<QWidget> reported;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&reported] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == reported) return;
        reported = modal;
        QString line = QStringLiteral("window|") + modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            line = box->windowTitle() + u'|' + box->text();
            if (!box->informativeText().isEmpty()) line += u'|' + box->informativeText();
        }
        line.replace(u'\n', u' ');
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
        // Queued, so that the watcher stays free while the window closes.
        QMetaObject::invokeMethod(modal, [modal] { static_cast<QDialog*>(modal)->reject(); }, Qt::QueuedConnection);
    });
    watcher.start(20);
    QTimer::singleShot(20000, [] { std::exit(3); }); // never hang a test
    return ProgramStart::run();
}
