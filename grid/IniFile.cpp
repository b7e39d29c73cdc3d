#include "grid/IniFile.h"

#include "base/NameCase.h"
#include "grid/EIniFileException.h"
#include "qtcommon/IgnoredError.h"
#include "qtcommon/GbkText.h"
#include "jet/PlatformFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

// Debian's SimpleIni keeps the template definitions behind SI_IMPLEMENTATION;
// the document type below is our own instantiation, so it needs them here.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace {

// Orders section and key names without regard to letter case, by the rule
// every name in the program follows (the Windows profile functions fold
// every letter, not only ASCII). The document holds UTF-8.
struct CaseInsensitiveUtf8Less {
    bool operator()(const char* left, const char* right) const
    {
        const char* l = left;
        const char* r = right;
        for (; *l && *r; ++l, ++r) {
            const auto lc = static_cast<unsigned char>(*l);
            const auto rc = static_cast<unsigned char>(*r);
            if (lc >= 0x80 || rc >= 0x80)
                return base::NameCase::foldUtf8(left) < base::NameCase::foldUtf8(right);
            const char16_t lf = base::NameCase::fold(char16_t(lc)), rf = base::NameCase::fold(char16_t(rc));
            if (lf != rf)
                return lf < rf;
        }
        return *r != 0;
    }
};

using IniDocument = CSimpleIniTempl<char, CaseInsensitiveUtf8Less, SI_ConvertA<char>>;

[[noreturn]] void refuseWrite(const QString& path)
{
    throw EIniFileException(QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(path)));
}

void prepare(IniDocument& document)
{
    document.SetUnicode(true);
    document.SetMultiKey(false);
    document.SetMultiLine(false);
    document.SetSpaces(false);
}

// Blanks as the document trims them around names and values.
QStringView trimmedBlanks(QStringView text)
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!text.isEmpty() && blank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    return text;
}

// The lines of a profile text that carry something (sections, entries,
// comments) in the form the document writes them: blanks around names and
// values dropped.
QStringList meaningfulLines(const QString& text)
{
    QStringList lines;
    for (QStringView raw : QStringView(text).tokenize(u'\n')) {
        for (QStringView part : raw.tokenize(u'\r')) {
            const QStringView line = trimmedBlanks(part);
            if (line.isEmpty())
                continue;
            const qsizetype equals = line.indexOf(u'=');
            const qsizetype close = line.indexOf(u']');
            if (line.front() == u'[' && close > 0)
                lines << u'[' + trimmedBlanks(line.sliced(1, close - 1)).toString() + u']' +
                             trimmedBlanks(line.sliced(close + 1)).toString();
            else if (line.front() == u'[' || line.front() == u';' || line.front() == u'#' || equals < 0)
                lines << line.toString();
            else
                lines << trimmedBlanks(line.first(equals)).toString() + u'=' +
                             trimmedBlanks(line.sliced(equals + 1)).toString();
        }
    }
    return lines;
}

// Whether writing the document back gives the lines of the text it was
// loaded from, no fewer and no other. The document skips lines it cannot
// read (no '=', text after a NUL), keeps one of two entries with the same
// key or two sections of the same name, drops comments that no entry
// follows, and runs a section name without its closing bracket into the
// next line; a rewrite would lose or change all of these.
bool rewriteKeepsEverything(const QString& text, const IniDocument& document)
{
    std::string utf8;
    if (document.Save(utf8, false) < 0)
        return false;
    QStringList written = meaningfulLines(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    QStringList read = meaningfulLines(text);
    written.sort();
    read.sort();
    return written == read;
}

// What loading a file found.
enum class Loaded {
    Fine,        // read (a missing file is an empty document)
    Unreadable,  // exists but cannot be read, or a change would lose part of it (see rewriteKeepsEverything)
    NotGbk,      // for a change: holds bytes that the rewrite would not give back
};

Loaded load(const QString& path, IniDocument& document, bool forChange = false)
{
    prepare(document);
    QFile file(path);
    if (!file.exists())
        return Loaded::Fine;
    if (!file.open(QIODevice::ReadOnly))
        return Loaded::Unreadable;
    const QByteArray bytes = file.readAll();
    QString text;
    if (forChange) {
        std::optional<QString> exact = GbkText::decodeExactly(bytes);
        if (!exact)
            return Loaded::NotGbk;
        text = std::move(*exact);
    } else {
        text = GbkText::decode(bytes);
    }
    const QByteArray utf8 = text.toUtf8();
    if (document.LoadData(utf8.constData(), std::size_t(utf8.size())) < 0)
        return Loaded::Unreadable;
    return !forChange || rewriteKeepsEverything(text, document) ? Loaded::Fine : Loaded::Unreadable;
}

// Rewrites an existing file over its own bytes, for a folder that refuses
// the new file a replacement needs (a program folder the operator may not
// write to) while the file itself may be written. Not atomic: the data is
// synced before this returns, but a crash while it writes can leave the file
// part old, part new.
void writeInPlace(const QString& path, const QByteArray& bytes)
{
    try {
        const std::unique_ptr<jet::PlatformFile> file =
            jet::PlatformFile::open(path.toStdString(), jet::PlatformFile::Mode::ReadWrite);
        file->writeAt(0, bytes.constData(), std::size_t(bytes.size()));
        file->truncate(uint64_t(bytes.size()));
        file->sync();
    } catch (const std::exception&) {
        refuseWrite(path);
    }
}

void save(const QString& path, const IniDocument& document)
{
    std::string utf8;
    if (document.Save(utf8, false) < 0)
        refuseWrite(path);
    const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    const std::optional<QByteArray> bytes = GbkText::encode(text);
    if (!bytes)
        throw EIniFileException(QStringLiteral("Unable to write to %1: the text holds characters that the GBK code "
                                               "page cannot represent")
                                    .arg(QDir::toNativeSeparators(path)));

    // Replacing the file would also succeed over a read-only one; honour
    // the file's own protection as the profile functions do, also for an
    // administrator, whom a read-only file stops on Windows too.
    const QFileInfo info(path);
    // (The "user" bits say what this process may do, which for root is everything.)
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & anyWrite)))
        refuseWrite(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        // No new file in the folder; an existing, writable file is then
        // rewritten over its own bytes.
        if (!info.exists())
            refuseWrite(path);
        writeInPlace(path, *bytes);
        return;
    }
    if (file.write(*bytes) != bytes->size() || !file.commit())
        refuseWrite(path);
}

// Loads the document for a change; an unreadable file is not overwritten,
// which would lose everything it holds, nor one that the rewrite would
// lose lines of.
void loadForWrite(const QString& path, IniDocument& document)
{
    switch (load(path, document, true)) {
    case Loaded::Fine:
        return;
    case Loaded::Unreadable:
        refuseWrite(path);
    case Loaded::NotGbk:
        throw EIniFileException(QStringLiteral("Unable to write to %1: the file holds text that is not GBK and is "
                                               "kept as it is")
                                    .arg(QDir::toNativeSeparators(path)));
    }
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    IniDocument document;
    if (load(m_path, document) != Loaded::Fine)
        return defaultValue;
    const char* value = document.GetValue(section.toUtf8().constData(), key.toUtf8().constData(), nullptr);
    return value ? QString::fromUtf8(value) : defaultValue;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    int value = 0;
    return parseInteger(ReadString(section, key, QString()), value) ? value : defaultValue;
}

bool IniFile::SectionExists(const QString& section) const
{
    IniDocument document;
    if (load(m_path, document) != Loaded::Fine)
        return false;
    return document.GetSectionSize(section.toUtf8().constData()) > 0;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    Apply({{section, key, value}});
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

void IniFile::DeleteKey(const QString& section, const QString& key)
{
    Apply({{section, key, std::nullopt}});
}

void IniFile::Apply(const QList<Change>& changes)
{
    const bool writes = std::any_of(changes.begin(), changes.end(), [](const Change& c) { return c.value.has_value(); });
    IniDocument document;
    if (writes)
        loadForWrite(m_path, document);
    else if (load(m_path, document, true) != Loaded::Fine)
        return;
    bool changed = writes;
    for (const Change& change : changes) {
        const QByteArray section = change.section.toUtf8();
        const QByteArray key = change.key.toUtf8();
        if (change.value) {
            if (document.SetValue(section.constData(), key.constData(), change.value->toUtf8().constData()) < 0)
                refuseWrite(m_path);
        } else if (document.Delete(section.constData(), key.constData(), true)) {
            changed = true;
        }
    }
    if (!changed)
        return;
    try {
        save(m_path, document);
    } catch (const EIniFileException&) {
        if (writes)
            throw;
        ignoreBecause("a deletion never reports a failure");
    }
}

bool IniFile::parseInteger(const QString& text, int& value)
{
    qsizetype pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    int base = 10;
    const QStringView rest = QStringView(text).mid(pos);
    if (rest.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        pos += 2;
    } else if (rest.startsWith(u'$') || rest.startsWith(u'x', Qt::CaseInsensitive)) {
        base = 16;
        pos += 1;
    }
    if (pos >= text.size())
        return false;
    qint64 magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const char16_t c = text[pos].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > qint64(0xFFFFFFFFu))
            return false;
    }
    if (base == 16 && magnitude > 0x7FFFFFFF) {
        // Eight hexadecimal digits name the bit pattern of a negative integer.
        magnitude -= qint64(1) << 32;
    }
    const qint64 result = negative ? -magnitude : magnitude;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    value = int(result);
    return true;
}
