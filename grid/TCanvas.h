#pragma once

#include "grid/TColor.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QRect>

// The drawing surface a grid hands to its cell-paint hook: a brush colour
// for fills and text backgrounds, a font with its colour, and the few
// operations the hook needs. Valid only while the grid paints.
class TCanvas {
public:
    explicit TCanvas(QPainter* painter);

    QPainter* Painter() const { return m_painter; }

    QColor BrushColor() const { return m_brushColor; }
    void setBrushColor(const QColor& color) { m_brushColor = color; }
    void setBrushColor(TColor color) { m_brushColor = ColorToQColor(color); }

    QColor FontColor() const { return m_fontColor; }
    void setFontColor(const QColor& color) { m_fontColor = color; }
    void setFontColor(TColor color) { m_fontColor = ColorToQColor(color); }

    const QFont& Font() const { return m_font; }
    void setFont(const QFont& font) { m_font = font; }

    void FillRect(const QRect& rect);
    // Writes text with the top-left corner of its line at (x, y), on a
    // background of the brush colour.
    void TextOut(int x, int y, const QString& text);
    // Draws an image opaque with its top-left corner at (x, y).
    void Draw(int x, int y, const QPixmap& image);

    int TextWidth(const QString& text) const;
    int TextHeight(const QString& text) const;

private:
    QPainter* m_painter;
    QColor m_brushColor = Qt::white;
    QColor m_fontColor = Qt::black;
    QFont m_font;
};
