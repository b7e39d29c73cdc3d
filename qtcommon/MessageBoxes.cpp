#include "qtcommon/MessageBoxes.h"

#include <QApplication>

#include <deque>
#include <utility>

namespace {

struct Script {
    bool scripted = false;
    std::deque<MessageBoxes::Answer> answers;
    QList<MessageBoxes::Box> shown;
    QList<MessageBoxes::Box> unexpected;
};

Script& script()
{
    static Script s; // boxes are shown from the GUI thread only
    return s;
}

} // namespace

QMessageBox::StandardButton MessageBoxes::escapeButton(const Box& box)
{
    for (QMessageBox::StandardButton b : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok})
        if (box.buttons & b) return b;
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton MessageBoxes::show(QWidget* parent, const Box& box)
{
    Script& s = script();
    if (s.scripted) {
        s.shown << box;
        if (s.answers.empty()) {
            s.unexpected << box;
            return escapeButton(box);
        }
        const Answer answer = std::move(s.answers.front());
        s.answers.pop_front();
        return answer(box);
    }
    QMessageBox dialog(box.icon, box.caption, box.text, box.buttons, parent ? parent : QApplication::activeWindow());
    if (!box.informative.isEmpty()) dialog.setInformativeText(box.informative);
    if (box.defaultButton != QMessageBox::NoButton) dialog.setDefaultButton(box.defaultButton);
    const int pressed = dialog.exec();
    // exec() gives the button's value, or the escape result when closed.
    return (box.buttons & QMessageBox::StandardButton(pressed)) ? QMessageBox::StandardButton(pressed)
                                                                : escapeButton(box);
}

void MessageBoxes::setScripted(bool scripted) { script().scripted = scripted; }

void MessageBoxes::setNextAnswer(QMessageBox::StandardButton button)
{
    setNextAnswer([button](const Box&) { return button; });
}

void MessageBoxes::setNextAnswer(Answer answer)
{
    script().scripted = true;
    script().answers.push_back(std::move(answer));
}

int MessageBoxes::pendingAnswers() { return int(script().answers.size()); }

QList<MessageBoxes::Box> MessageBoxes::takeShown() { return std::exchange(script().shown, {}); }

QList<MessageBoxes::Box> MessageBoxes::takeUnexpected() { return std::exchange(script().unexpected, {}); }

void MessageBoxes::reset() { script() = Script{}; }
