#include "data/GbkTextFile.h"

#include "data/ExportFileError.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
// Qt builds without ICU do not know GBK; Windows always has code page 936.
bool encodeWithCodePage(QStringView text, QByteArray& out)
{
    if (text.isEmpty()) return true;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), nullptr, 0, nullptr,
                                         &usedDefault);
    if (size <= 0 || usedDefault) return false;
    const qsizetype at = out.size();
    out.resize(at + size);
    WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), out.data() + at, size, nullptr, nullptr);
    return true;
}
#endif

// Private use characters: the converters map them to GBK's user-defined
// areas, which other readers (iconv, and so libxml2) refuse, so they are
// written as references like characters outside GBK.
bool isPrivateUse(QChar c)
{
    return c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF;
}

// One converter for a whole text, renewed after each character it refuses.
class GbkEncoder {
public:
    GbkEncoder()
    {
        renew();
#ifndef Q_OS_WIN
        if (!m_encoder->isValid())
            throw ExportFileError(QStringLiteral("The GBK code page is not available on this system"));
#endif
    }

    // Appends the bytes of text; false (out unchanged) when a character does not fit.
    bool append(QStringView text, QByteArray& out)
    {
        if (std::any_of(text.begin(), text.end(), isPrivateUse)) return false;
#ifdef Q_OS_WIN
        if (!m_encoder->isValid()) return encodeWithCodePage(text, out);
#endif
        QByteArray bytes = m_encoder->encode(text);
        if (m_encoder->hasError()) {
            renew();
            return false;
        }
        out += bytes;
        return true;
    }

    // Character by character; the ones GBK lacks as character references.
    void appendEachCharacter(QStringView text, QByteArray& out)
    {
        for (qsizetype i = 0; i < text.size();) {
            const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
            const qsizetype length = pair ? 2 : 1;
            if (!append(text.mid(i, length), out)) {
                char32_t codePoint = pair ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1))
                                          : char32_t(text.at(i).unicode());
                if (QChar::isSurrogate(codePoint)) codePoint = QChar::ReplacementCharacter; // half a pair
                out += "&#x" + QByteArray::number(uint(codePoint), 16).toUpper() + ';';
            }
            i += length;
        }
    }

private:
    // Made in place: the ICU converter behind it refers to the encoder's own
    // state, so the encoder must not be moved or reset (that loses the error
    // flag or the converter).
    void renew()
    {
        m_encoder.reset();
        m_encoder.emplace("GBK", QStringConverter::Flag::Stateless);
    }

    std::optional<QStringEncoder> m_encoder;
};

} // namespace

QByteArray GbkTextFile::encode(const QString& text)
{
    GbkEncoder encoder;
    QByteArray out;
    out.reserve(text.size() * 2);
    if (encoder.append(text, out)) return out;
    // Only text with characters outside GBK gets here: line by line, and
    // character by character in the lines that need it.
    QStringView rest(text);
    while (!rest.isEmpty()) {
        qsizetype end = rest.indexOf(u'\n');
        end = end < 0 ? rest.size() : end + 1;
        const QStringView line = rest.first(end);
        if (!encoder.append(line, out)) encoder.appendEachCharacter(line, out);
        rest = rest.sliced(end);
    }
    return out;
}

QStringList GbkTextFile::splitLines(const QString& text)
{
    QString normalised = text;
    normalised.replace(QChar(QChar::ParagraphSeparator), u'\n');
    normalised.replace(QChar(QChar::LineSeparator), u'\n');
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (normalised.isEmpty()) return {};
    if (normalised.endsWith(u'\n')) normalised.chop(1);
    return normalised.split(u'\n');
}

void GbkTextFile::write(const QString& path, const QStringList& lines)
{
    const QString fullPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    QSaveFile file(path);
    // A folder that only lets an existing file be rewritten still gets the file.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        throw ExportFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(fullPath, file.errorString()));
    // Written in slices so that a large export never needs a second full copy.
    constexpr qsizetype kSliceLines = 4096;
    for (qsizetype start = 0; start < lines.size(); start += kSliceLines) {
        QString slice;
        const qsizetype end = std::min(lines.size(), start + kSliceLines);
        for (qsizetype i = start; i < end; ++i) {
            slice += lines.at(i);
            slice += QStringLiteral("\r\n");
        }
        const QByteArray bytes = encode(slice);
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            throw ExportFileError(QStringLiteral("Stream write error"));
        }
    }
    // commit() flushes, syncs the data to the disk and only then gives the
    // file its name.
    if (!file.commit())
        throw ExportFileError(QStringLiteral("Stream write error"));
}
