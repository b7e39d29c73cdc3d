#include "data/GbkTextFile.h"

#include "jet/PlatformFile.h"
#include "qtcommon/IgnoredError.h"

#include "data/ExportFileError.h"
#include "qtcommon/GbkEncoder.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// Private use characters: the converters map them to GBK's user-defined
// areas, which other readers (iconv, and so libxml2) refuse, so they are
// written as references like characters outside GBK.
bool isPrivateUse(QChar c)
{
    return c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF;
}

// Bytes written through a raw pointer into a QByteArray that grows on demand.
class ByteSink {
public:
    explicit ByteSink(QByteArray& out) : m_out(out), m_at(out.data() + out.size()), m_limit(m_at) {}
    ~ByteSink() { finish(); }
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    // Room for n more bytes at at().
    char* room(qsizetype n)
    {
        if (m_limit - m_at < n) {
            const qsizetype used = m_at - m_out.constData();
            m_out.resize(std::max(used + n, 2 * used + 256));
            m_at = m_out.data() + used;
            m_limit = m_out.data() + m_out.size();
        }
        return m_at;
    }
    void advance(char* to) { m_at = to; }
    void append(const char* bytes, qsizetype n) { m_at = std::copy_n(bytes, n, room(n)); }
    void append(const QByteArray& bytes) { append(bytes.constData(), bytes.size()); }
    // Cuts the array to what was written.
    void finish() { m_out.truncate(m_at - m_out.constData()); m_limit = m_at; }

private:
    QByteArray& m_out;
    char* m_at;
    char* m_limit;
};

// A numeric character reference, &#x20AC; style.
void appendReference(ByteSink& sink, char32_t codePoint)
{
    char text[16] = "&#x";
    char* at = text + 3;
    char digits[8];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[codePoint & 0xF];
        codePoint >>= 4;
    } while (codePoint != 0);
    while (count > 0) *at++ = digits[--count];
    *at++ = ';';
    sink.append(text, at - text);
}

// One converter for a whole text. ASCII is copied as it is (GBK keeps it as
// one byte each); every other character is converted once and its bytes
// remembered, so the converter is only asked about the few distinct
// characters a text holds.
class ReferencingEncoder {
public:
    // The bytes of text; characters GBK lacks (and private use ones) as
    // character references, half a surrogate pair as &#xFFFD;. With
    // `lines`, LF, U+2028 and U+2029 (and a CR just before one) become CR LF.
    template <bool lines>
    void appendText(QStringView text, ByteSink& sink)
    {
        const char16_t* at = text.utf16();
        const char16_t* const end = at + text.size();
        while (at != end) {
            // A run of ASCII, byte for byte.
            char* out = sink.room(end - at);
            while (at != end && *at < 0x80 && !(lines && (*at == u'\n' || *at == u'\r'))) *out++ = char(*at++);
            sink.advance(out);
            if (at == end) break;
            const char16_t c = *at;
            if (lines && (c == u'\n' || c == 0x2028 || c == 0x2029)) {
                sink.append("\r\n", 2);
                ++at;
            } else if (lines && c == u'\r') {
                const bool beforeBreak = at + 1 != end && (at[1] == u'\n' || at[1] == 0x2028 || at[1] == 0x2029);
                if (!beforeBreak) sink.append("\r", 1);
                ++at;
            } else if (QChar::isHighSurrogate(c) && at + 1 != end && QChar::isLowSurrogate(at[1])) {
                appendCharacter(QStringView(at, 2), QChar::surrogateToUcs4(c, at[1]), sink);
                at += 2;
            } else {
                appendCharacter(c, sink);
                ++at;
            }
        }
    }

private:
    // What m_codes holds for a character: not asked yet, not in GBK, bytes
    // that do not fit an entry (asked again each time); else the one byte,
    // or the two bytes lead * 256 + trail.
    enum : quint16 { kUnknown = 0, kOutside = 0xFFFF, kAskEachTime = 0xFFFE };

    void appendCharacter(char16_t c, ByteSink& sink)
    {
        if (m_codes.empty()) m_codes.assign(0x10000, kUnknown);
        quint16& code = m_codes[c];
        if (code == kUnknown) code = lookUp(c);
        if (code == kOutside) appendReference(sink, QChar::isSurrogate(c) ? char32_t(QChar::ReplacementCharacter) : c);
        else if (code == kAskEachTime) appendCharacter(QStringView(&c, 1), c, sink);
        else if (code < 0x100) {
            const char byte = char(code);
            sink.append(&byte, 1);
        }
        else {
            const char bytes[2] = {char(code >> 8), char(code & 0xFF)};
            sink.append(bytes, 2);
        }
    }

    quint16 lookUp(char16_t c)
    {
        QByteArray bytes;
        if (!append(QStringView(&c, 1), bytes)) return kOutside;
        if (bytes.size() == 1 && bytes[0] != 0) return quint16(uchar(bytes[0]));
        if (bytes.size() == 2 && uchar(bytes[0]) != 0 && uchar(bytes[0]) != 0xFF)
            return quint16(uchar(bytes[0]) << 8 | uchar(bytes[1]));
        return kAskEachTime;
    }

    // Through the converter; a reference when GBK lacks the character.
    void appendCharacter(QStringView character, char32_t codePoint, ByteSink& sink)
    {
        QByteArray bytes;
        if (append(character, bytes)) sink.append(bytes);
        else appendReference(sink, QChar::isSurrogate(codePoint) ? char32_t(QChar::ReplacementCharacter) : codePoint);
    }

    // Appends the bytes of text; false (out unchanged) when a character does not fit.
    bool append(QStringView text, QByteArray& out)
    {
        if (std::any_of(text.begin(), text.end(), isPrivateUse)) return false;
        return m_gbk.append(text, out);
    }

    GbkEncoder m_gbk;
    std::vector<quint16> m_codes; // by UTF-16 code unit, filled as characters come
};

} // namespace

QByteArray GbkTextFile::encode(const QString& text)
{
    ReferencingEncoder encoder;
    QByteArray out;
    out.reserve(text.size() + 16);
    {
        ByteSink sink(out);
        encoder.appendText<false>(text, sink);
    }
    return out;
}

void GbkTextFile::encodeLines(const QString& text, const std::function<void(const QByteArray&)>& out)
{
    // Encoded a slice at a time, so that a large export never needs a second
    // full copy. A slice does not end inside a surrogate pair or between a
    // CR and the line break it belongs to.
    constexpr qsizetype kSliceCharacters = qsizetype(1) << 18;
    ReferencingEncoder encoder;
    QByteArray bytes;
    const QStringView all(text);
    for (qsizetype start = 0; start < all.size();) {
        qsizetype end = std::min(all.size(), start + kSliceCharacters);
        if (end < all.size() && (all.at(end - 1).isHighSurrogate() || all.at(end - 1) == u'\r')) --end;
        bytes.clear();
        {
            ByteSink sink(bytes);
            encoder.appendText<true>(all.sliced(start, end - start), sink);
        }
        out(bytes);
        start = end;
    }
    // The last line is ended too, unless the text ends with a line break.
    if (!all.isEmpty() && all.back() != u'\n' && all.back() != QChar::LineSeparator &&
        all.back() != QChar::ParagraphSeparator)
        out(QByteArrayLiteral("\r\n"));
}

void GbkTextFile::write(const QString& path, const QString& text)
{
    const QString fullPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    QSaveFile file(path);
    // A folder that only lets an existing file be rewritten still gets the file.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        throw ExportFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(fullPath, file.errorString()));
    try {
        encodeLines(text, [&file](const QByteArray& bytes) {
            if (file.write(bytes) != bytes.size()) throw ExportFileError(QStringLiteral("Stream write error"));
        });
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    // commit() flushes, syncs the data to the disk and only then gives the
    // file its name.
    if (!file.commit())
        throw ExportFileError(QStringLiteral("Stream write error"));
}

GbkTextFile::Staged::Staged(const QString& path, const QString& text)
    : m_path(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())),
      m_temporary(QString::fromStdString(jet::PlatformFile::temporaryNameBeside(m_path.toStdString())))
{
    std::unique_ptr<jet::PlatformFile> file;
    try {
        jet::PlatformFile::remove(m_temporary.toStdString()); // what an earlier process of the same id left
        file = jet::PlatformFile::open(m_temporary.toStdString(), jet::PlatformFile::Mode::CreateNew);
    } catch (const std::exception& e) {
        throw ExportFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(m_path, QString::fromStdString(e.what())));
    }
    try {
        uint64_t at = 0;
        encodeLines(text, [&](const QByteArray& bytes) {
            file->writeAt(at, bytes.constData(), size_t(bytes.size()));
            at += uint64_t(bytes.size());
        });
        file->sync();
    } catch (const std::exception&) {
        file.reset();
        discard();
        throw ExportFileError(QStringLiteral("Stream write error"));
    }
}

GbkTextFile::Staged::~Staged()
{
    if (m_state != State::Written) return;
    try {
        discard();
    } catch (...) {
        ignoreBecause("a staged export file being dropped has no one to report a failed removal to");
    }
}

void GbkTextFile::Staged::discard()
{
    jet::PlatformFile::remove(m_temporary.toStdString());
    m_state = State::Discarded;
}

void GbkTextFile::Staged::publish()
{
    try {
        jet::PlatformFile::renameReplacing(m_temporary.toStdString(), m_path.toStdString());
        jet::PlatformFile::syncDirectoryOf(m_path.toStdString());
    } catch (const std::exception& e) {
        m_state = State::Kept;
        throw ExportFileError(QString::fromStdString(e.what()));
    }
    m_state = State::Published;
}

void GbkTextFile::Staged::keep() { m_state = State::Kept; }
