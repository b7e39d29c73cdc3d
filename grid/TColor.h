#pragma once

#include <QColor>
#include <cstdint>

// A colour as the grid's settings hold it: the low three bytes are blue,
// green and red from high to low; values with the high byte 0xFF name a
// system colour by its index, which is resolved against the palette.
using TColor = std::int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clSystemColor = TColor(0xFF000000u);
inline constexpr TColor clScrollBar = clSystemColor | 0;   // system colour 0: scroll-bar gutter
inline constexpr TColor clDefault = 0x20000000;
inline constexpr TColor clNone = 0x1FFFFFFF;
// Background of the current cell: red 0, green 64, blue 128.
inline constexpr TColor clSelectionBlue = 0x804000;

// The colour to paint with; system and symbolic colours take the nearest
// palette role of the application.
QColor ColorToQColor(TColor color);
