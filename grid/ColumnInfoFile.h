#pragma once

#include <QString>

// Where the grids keep their column layout: "ColumnINFO.ini" in the folder of
// the executable. Callers spell the name in different cases ("ColumnInfo.ini"
// on close, "ColumnINFO.ini" at start-up); on a case-sensitive file system
// they must still reach one file, so an existing file is found whatever the
// case of its name, and a new layout file is created as "ColumnINFO.ini".
class ColumnInfoFile {
public:
    static constexpr const char* kFileName = "ColumnINFO.ini";

    // The folder of the executable.
    static QString defaultFolder();

    // Full path of the file called fileName (letter case ignored) in folder.
    static QString pathOf(const QString& folder, const QString& fileName = QString::fromLatin1(kFileName));
};
