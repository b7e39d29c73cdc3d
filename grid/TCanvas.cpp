#include "grid/TCanvas.h"

#include <QFontMetrics>

TCanvas::TCanvas(QPainter* painter) : m_painter(painter), m_font(painter->font()) {}

void TCanvas::FillRect(const QRect& rect)
{
    m_painter->fillRect(rect, m_brushColor);
}

void TCanvas::TextOut(int x, int y, const QString& text)
{
    const QFontMetrics metrics(m_font);
    m_painter->fillRect(QRect(x, y, metrics.horizontalAdvance(text), metrics.height()), m_brushColor);
    m_painter->setFont(m_font);
    m_painter->setPen(m_fontColor);
    m_painter->drawText(QPoint(x, y + metrics.ascent()), text);
}

void TCanvas::Draw(int x, int y, const QPixmap& image)
{
    m_painter->drawPixmap(x, y, image);
}

int TCanvas::TextWidth(const QString& text) const
{
    return QFontMetrics(m_font).horizontalAdvance(text);
}

int TCanvas::TextHeight(const QString& text) const
{
    return QFontMetrics(m_font).boundingRect(text).height();
}
