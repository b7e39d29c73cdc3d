#include "app/FindBar.h"

#include "ado/TDataSet.h"
#include "app/RegisterFind.h"
#include "grid/DBGrid.h"
#include "qtcommon/DefaultErrorDisplay.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

FindBar::FindBar(TDBGrid* grid, QWidget* parent)
    : QFrame(parent),
      Caption(new QLabel(captionText(), this)),
      Edit(new QLineEdit(this)),
      PreviousButton(new QToolButton(this)),
      NextButton(new QToolButton(this)),
      Result(new QLabel(this)),
      CloseButton(new QToolButton(this)),
      m_grid(grid)
{
    setObjectName(QStringLiteral("FindBar"));
    Caption->setObjectName(QStringLiteral("FindCaption"));
    Edit->setObjectName(QStringLiteral("FindEdit"));
    Edit->setFixedWidth(160);
    Edit->setMaxLength(50); // as long as a serial number or a user name can be
    Caption->setBuddy(Edit);
    const struct {
        QToolButton* button;
        const char* name;
        QString text;
        QString tip;
    } buttons[] = {{PreviousButton, "FindPrevious", QStringLiteral("上一个"), QStringLiteral("上一个 (Shift+F3)")},
                   {NextButton, "FindNext", QStringLiteral("下一个"), QStringLiteral("下一个 (F3)")},
                   {CloseButton, "FindClose", QStringLiteral("×"), QStringLiteral("关闭 (Esc)")}};
    for (const auto& entry : buttons) {
        entry.button->setObjectName(QString::fromLatin1(entry.name));
        entry.button->setText(entry.text);
        entry.button->setToolTip(entry.tip);
        entry.button->setAutoRaise(true);
        // The focus stays in the text, where Enter and Esc work.
        entry.button->setFocusPolicy(Qt::NoFocus);
    }
    Result->setObjectName(QStringLiteral("FindResult"));
    Result->setMinimumWidth(60);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    layout->addWidget(Caption);
    layout->addWidget(Edit);
    layout->addWidget(PreviousButton);
    layout->addWidget(NextButton);
    layout->addWidget(Result);
    layout->addStretch(1);
    layout->addWidget(CloseButton);

    connect(PreviousButton, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(NextButton, &QToolButton::clicked, this, &FindBar::findNext);
    connect(CloseButton, &QToolButton::clicked, this, &FindBar::closeBar);
    // A changed text has not been looked for yet.
    connect(Edit, &QLineEdit::textEdited, Result, &QLabel::clear);
    Edit->installEventFilter(this);
    hide();
}

void FindBar::openBar()
{
    show();
    Edit->setFocus(Qt::ShortcutFocusReason);
    Edit->selectAll();
}

void FindBar::closeBar()
{
    hide();
    Result->clear();
    m_grid->setFocus(Qt::OtherFocusReason);
}

void FindBar::findNext() { find(true); }

void FindBar::findPrevious() { find(false); }

void FindBar::find(bool forward)
{
    if (Edit->text().trimmed().isEmpty()) {
        openBar();
        return;
    }
    show();
    DefaultErrorDisplay::guard(this, [&] {
        TDataSet* dataSet = m_grid->DataSet();
        if (!dataSet) return;
        const RegisterFind search(*dataSet, Edit->text());
        const int found = search.next(dataSet->currentIndex(), forward ? RegisterFind::Direction::Forward
                                                                       : RegisterFind::Direction::Backward);
        if (found < 0) {
            Result->setText(notFoundText());
            return;
        }
        Result->clear();
        dataSet->setRecNo(found + 1);
    });
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
            closeBar();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            find(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}
