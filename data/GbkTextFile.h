#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

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

    // The same bytes written under a temporary name beside `path` and synced,
    // to take the name only when publish() says so: a file whose content
    // goes with a change elsewhere (the export's marking) appears only once
    // that change is made, and never appears when it fails. Dropped without
    // publish() or keep(), the temporary file is removed. Throws
    // ExportFileError as write() does.
    class Staged {
    public:
        Staged(const QString& path, const QString& text);
        ~Staged();
        Staged(const Staged&) = delete;
        Staged& operator=(const Staged&) = delete;

        // The final and the temporary path, native separators.
        const QString& path() const { return m_path; }
        const QString& temporaryPath() const { return m_temporary; }
        // Renames the file to its path, replacing any file of that name.
        // Throws ExportFileError naming the reason; the temporary file then stays.
        void publish();
        // Leaves the temporary file where it is (its content is needed).
        void keep();

    private:
        void discard();
        enum class State { Written, Published, Kept, Discarded };
        QString m_path;
        QString m_temporary;
        State m_state = State::Written;
    };

private:
    // The text as GBK lines ended by CR LF, a slice at a time.
    static void encodeLines(const QString& text, const std::function<void(const QByteArray&)>& out);
};
