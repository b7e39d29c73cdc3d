#pragma once

#include <QList>
#include <QString>

#include <optional>

// Profile-style access to one INI file in GBK: sections and keys are matched
// without regard to letter case, values are read with surrounding blanks
// removed, and a section counts only while it holds a key. Nothing is cached:
// every call reads the file afresh and every write or deletion rewrites it
// at once, through a new file that then replaces the old one, so a crash
// never leaves a half-written file behind. Changes that belong together go
// through Apply, in one replacement. Where the folder refuses new files
// (a program folder the operator may not write to) but the file itself may
// be written, it is rewritten in place and synced instead.
class IniFile {
public:
    explicit IniFile(QString path);

    const QString& FileName() const { return m_path; }

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Accepts an optional sign and hexadecimal with "0x", "$" or "x";
    // anything else gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool SectionExists(const QString& section) const;

    // Throw EIniFileException "Unable to write to <path>" when the file
    // cannot be written, and leave it as it is when rewriting it would lose
    // part of it: lines that are not a section, an entry or a comment (or
    // anything after a NUL byte), a key or a section given twice, comments
    // that no entry follows; bytes that are not GBK text (a file saved in
    // another encoding) give "Unable to write to <path>: the file holds text
    // that is not GBK and is kept as it is".
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    // A key that is not there, or a file that cannot be written (as above), is ignored.
    void DeleteKey(const QString& section, const QString& key);

    // One entry written (value given) or deleted (no value).
    struct Change {
        QString section;
        QString key;
        std::optional<QString> value;
    };
    // Makes the changes, in order, in one rewrite of the file: a crash leaves
    // the file as it was or holding all of them. Fails as WriteString does
    // when any change writes; changes that only delete never fail, as
    // DeleteKey. The file is not touched when nothing changes.
    void Apply(const QList<Change>& changes);

    static bool parseInteger(const QString& text, int& value);

private:
    QString m_path;
};
