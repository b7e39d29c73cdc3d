#pragma once

#include <QFrame>

class QLabel;
class QLineEdit;
class QToolButton;
class TDBGrid;

// The find bar under the register grid: the operator types the start of a
// serial number or of a user name; Enter and F3 make the next matching entry
// in the grid's order current, Shift+Enter and Shift+F3 the previous one,
// wrapping around; Esc closes the bar and gives the grid the focus back.
// "No match" is said in the bar, never in a box, so that the operator goes
// on typing. Hidden until opened.
class FindBar : public QFrame {
    Q_OBJECT
public:
    explicit FindBar(TDBGrid* grid, QWidget* parent = nullptr);

    QLabel* const Caption;
    QLineEdit* const Edit;
    QToolButton* const PreviousButton;
    QToolButton* const NextButton;
    QLabel* const Result;
    QToolButton* const CloseButton;

    static QString captionText() { return QStringLiteral("查找："); }
    static QString notFoundText() { return QStringLiteral("未找到"); }

    // Shows the bar with its text selected and the focus in it.
    void openBar();
    // Hides the bar; the grid has the focus again.
    void closeBar();
    // Makes the next (previous) matching entry current; an empty text opens the bar.
    void findNext();
    void findPrevious();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void find(bool forward);

    TDBGrid* m_grid;
};
