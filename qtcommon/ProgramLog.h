#pragma once

#include <QString>

// The program's log: where an administrator finds what the operator was
// only told in a word, such as why the database could not be opened, or a
// data link that others can read. One line per event, its time first, in
// the text file usbkey/usbkey.log under the user's application data
// (~/.local/share/usbkey/usbkey.log on Linux, %LOCALAPPDATA%\usbkey\usbkey.log
// on Windows), created readable and writable by its owner only; past 1 MiB
// it moves to usbkey.log.1 and a new one starts. Nothing logged may quote a
// password.
//
// Until the program opens it, lines go only to Qt's logging category
// "usbkey.log" (silent unless QT_LOGGING_RULES enables its info): jetdb and
// the tests that do not open it leave no file behind.
class ProgramLog {
public:
    static QString defaultPath();
    // Lines from now on go to this file (the default path when empty).
    static void open(const QString& path = QString());
    static void close();
    // The open log's file; empty when none is open.
    static QString path();

    static void warning(const QString& text);
};
