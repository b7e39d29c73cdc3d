#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

// How an error that no handler deals with is shown: a message box with the
// error's text (a full stop added when it has none), the application's title
// as caption, an error icon and an OK button.
class DefaultErrorDisplay {
public:
    // The executable's file name without extension, all letters after the
    // first in lower case ("usbkey" gives "Usbkey").
    static QString applicationTitle();
    static QString messageText(const std::exception& error);
    static void show(const std::exception& error, QWidget* parent = nullptr);

    // Runs an event handler; an error it raises is shown instead of leaving
    // through Qt's event dispatch, which cannot carry exceptions.
    static void guard(QWidget* parent, const std::function<void()>& handler);
};
