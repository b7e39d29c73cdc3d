#pragma once

#include <QString>

// The program's run, from the data module to the end of the message loop:
// open the database beside the executable (or report that it cannot and
// end), run the sign-in gate through the main window, then the main window.
class ProgramStart {
public:
    static QString connectionFailedCaption() { return QStringLiteral("USBKEY管理系统"); }

    // programFolder: where db/vask.mdb is looked for; empty means the
    // executable's folder. Returns the process's exit code: 0 after the
    // main window closed or the sign-in was cancelled, 1 when the database
    // could not be opened.
    static int run(const QString& programFolder = QString());
};
