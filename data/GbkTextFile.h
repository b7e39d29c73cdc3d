#pragma once

#include <QByteArray>
#include <QString>

// Text files in the GBK code page (Windows code page 936), as the export
// file is written.
class GbkTextFile {
public:
    // GBK bytes of the text; a character that GBK cannot hold becomes a
    // numeric character reference (&#x20AC; style), which an XML reader
    // turns back into the character, instead of a lossy "?". So does a
    // private use character (U+E000..U+F8FF), which would otherwise go to
    // GBK's user-defined areas that other GBK readers refuse.
    static QByteArray encode(const QString& text);

    // Writes a text box's text as lines, each ended by CR LF, replacing any
    // file of that name. Lines are separated by line feeds or Unicode line
    // and paragraph separators (a CR just before one belongs to the break);
    // a final line break does not start another line, and an empty text
    // has no lines.
    // The data is on the disk when this returns (the file is synced before
    // it takes the name), so nothing that depends on the file may happen
    // before. Throws ExportFileError:
    //   "Cannot create file "<path>". <reason>" when it cannot be created,
    //   "Stream write error" when writing or syncing fails; an existing file
    //   of that name is then left as it was.
    static void write(const QString& path, const QString& text);
};
