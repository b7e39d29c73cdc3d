#pragma once

#include <QString>

// grid_tests run as a child by LayoutSaveTest: `grid_tests --save-widths
// <folder> <width>` saves the widths of a grid of many columns, all of the
// given width, into the layout file in folder, and ends.
inline constexpr const char* kSaveWidthsChild = "--save-widths";
int saveWidthsInChild(const QString& folder, int width);
