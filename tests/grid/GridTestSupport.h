#pragma once

#include "qtcommon/MessageBoxes.h"

#include "grid/DBGrid.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// What a modal dialog showed, as seen by the helper that answered it.
struct ModalSeen {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Watchers still waiting for a dialog; a failed test must not leave one
// behind to answer the next test's dialog.
inline QList<QPointer<QTimer>>& pendingModalWatchers()
{
    static QList<QPointer<QTimer>> watchers;
    return watchers;
}

inline void cancelPendingModalAnswers()
{
    for (const QPointer<QTimer>& timer : pendingModalWatchers())
        delete timer.data();
    pendingModalWatchers().clear();
    MessageBoxes::reset();
}

// Answers the next modal widget that opens: polls until one is active, then
// runs `answer` on it. A dialog that does not appear within the limit leaves
// `seen` false; whatever modal widget is then open is closed so that the
// test cannot hang.
inline std::shared_ptr<ModalSeen> answerNextModal(std::function<void(QWidget*)> answer, int limitMs = 5000)
{
    auto seen = std::make_shared<ModalSeen>();
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, seen, clock, answer = std::move(answer), limitMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            seen->seen = true;
            seen->title = modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen->text = box->text();
                seen->icon = box->icon();
                seen->buttons = box->standardButtons();
            }
            timer->stop();
            timer->deleteLater();
            answer(modal);
            return;
        }
        if (clock->elapsed() > limitMs) {
            timer->stop();
            timer->deleteLater();
            if (modal)
                modal->close();
        }
    });
    pendingModalWatchers().append(timer);
    timer->start(20);
    return seen;
}

// Answers the next message box with one of its standard buttons, through
// the program's message-box seam: the box is never shown.
inline std::shared_ptr<ModalSeen> answerNextMessageBox(QMessageBox::StandardButton button)
{
    auto seen = std::make_shared<ModalSeen>();
    MessageBoxes::setNextAnswer([seen, button](const MessageBoxes::Box& box) {
        seen->seen = true;
        seen->title = box.caption;
        seen->text = box.text;
        seen->icon = box.icon;
        seen->buttons = box.buttons;
        return box.buttons & button ? button : QMessageBox::NoButton;
    });
    return seen;
}

// Runs action and tells whether it showed a message box or left another
// modal widget open (one that opens is closed again, so that the test goes on).
inline bool noModalOpens(const std::function<void()>& action)
{
    MessageBoxes::reset();
    MessageBoxes::setScripted(true);
    const auto seen = answerNextModal([](QWidget* modal) { modal->close(); }, 150);
    action();
    const bool boxShown = !MessageBoxes::takeShown().isEmpty();
    MessageBoxes::reset();
    cancelPendingModalAnswers();
    return !seen->seen && !boxShown;
}

inline QPoint titleCentre(TDBGrid* grid, int column)
{
    QHeaderView* header = grid->horizontalHeader();
    return {header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2};
}

inline void clickTitle(TDBGrid* grid, int column)
{
    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, titleCentre(grid, column));
}

inline QPoint cellCentre(TDBGrid* grid, int record, int column)
{
    return grid->visualRect(grid->model()->index(record, column)).center();
}

inline void clickCell(TDBGrid* grid, int record, int column)
{
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, record, column));
}

// Shows the grid's window and gives the grid the keyboard focus.
inline bool showFocused(TDBGrid* grid)
{
    QWidget* window = grid->window();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    grid->setFocus();
    return grid->hasFocus();
}

// Gives the grid a height at which its cells hold a whole number of rows and
// half a row more, so that a row at the top or bottom edge can be cut.
inline void leaveHalfARowOfRoom(TDBGrid* grid)
{
    const int rowHeight = grid->rowHeight(0);
    for (int grown = 0; grid->viewport()->height() % rowHeight != rowHeight / 2 && grown < 2 * rowHeight; ++grown)
        grid->resize(grid->width(), grid->height() + 1);
}
