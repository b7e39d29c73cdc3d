#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

#include <functional>

// Every message box of the program goes through here, so that tests answer
// them before the action that shows them, instead of watching for windows.
// (Not named MessageBox: windows.h makes that a macro.)
class MessageBoxes {
public:
    struct Box {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString caption;
        QString text;
        QString informative; // the text under the message, when there is one
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    };
    // Given the box about to be shown, the button it is answered with.
    using Answer = std::function<QMessageBox::StandardButton(const Box&)>;

    // Shows the box modally over parent and returns the button pressed
    // (the box's escape button when it is closed otherwise).
    static QMessageBox::StandardButton show(QWidget* parent, const Box& box);

    // For tests. While scripted, a box is never shown: the next queued
    // answer gives the button, and a box with none queued is recorded as
    // unexpected and answered with its escape button.
    static void setScripted(bool scripted);
    static void setNextAnswer(QMessageBox::StandardButton button);
    static void setNextAnswer(Answer answer);
    static int pendingAnswers();
    // The boxes shown since the last call, and those nobody had an answer for.
    static QList<Box> takeShown();
    static QList<Box> takeUnexpected();
    // Ends the script: no answers, no records.
    static void reset();

private:
    static QMessageBox::StandardButton escapeButton(const Box& box);
};
