#include "grid/TColor.h"

#include <QApplication>
#include <QPalette>

QColor ColorToQColor(TColor color)
{
    const auto bits = static_cast<std::uint32_t>(color);
    if ((bits & 0xFF000000u) == 0xFF000000u) {
        const QPalette palette = QApplication::palette();
        switch (bits & 0xFFu) {
        case 0: // scroll bar
            return palette.color(QPalette::Button);
        case 5: // window
            return palette.color(QPalette::Base);
        case 8: // window text
            return palette.color(QPalette::Text);
        case 13: // highlight
            return palette.color(QPalette::Highlight);
        case 14: // highlight text
            return palette.color(QPalette::HighlightedText);
        case 15: // button face
            return palette.color(QPalette::Button);
        default:
            return palette.color(QPalette::Window);
        }
    }
    if (color == clDefault || color == clNone)
        return QColor();
    return QColor(int(bits & 0xFFu), int((bits >> 8) & 0xFFu), int((bits >> 16) & 0xFFu));
}
