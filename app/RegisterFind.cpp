#include "app/RegisterFind.h"

#include "ado/TDataSet.h"
#include "ado/TField.h"
#include "base/NameCase.h"

#include <algorithm>

namespace {

// A backward search walks forward through pieces of this many records: a
// lazily read dataset reads ahead of the index it is asked for, so a walk
// one record back at a time would read each batch again and again.
constexpr int kBackwardPiece = 4096;

bool beginsWith(const jet::Value& value, const std::u16string& foldedText)
{
    const auto* text = std::get_if<std::u16string>(&value);
    if (!text || text->size() < foldedText.size()) return false;
    for (std::size_t i = 0; i < foldedText.size(); ++i)
        if (base::NameCase::fold((*text)[i]) != foldedText[i]) return false;
    return true;
}

} // namespace

RegisterFind::RegisterFind(const TDataSet& dataSet, const QString& text)
    : m_dataSet(dataSet),
      m_foldedText(base::NameCase::fold(text.trimmed().toStdU16String()))
{
    if (!dataSet.Active()) return;
    m_serial = dataSet.FindField(QStringLiteral("USBKEY_SERIAL"));
    m_userName = dataSet.FindField(QStringLiteral("username"));
}

bool RegisterFind::isEmpty() const
{
    return m_foldedText.empty() || !m_dataSet.Active() || (!m_serial && !m_userName);
}

bool RegisterFind::matches(int index) const
{
    if (m_serial && beginsWith(m_serial->ValueAt(index), m_foldedText)) return true;
    return m_userName && beginsWith(m_userName->ValueAt(index), m_foldedText);
}

int RegisterFind::next(int from, Direction direction) const
{
    if (isEmpty()) return -1;
    const int count = m_dataSet.RecordCount();
    if (direction == Direction::Forward) {
        if (from < 0 || from >= count) from = -1;
        const int found = firstIn(from + 1, count);
        return found >= 0 ? found : firstIn(0, from + 1);
    }
    if (from < 0 || from >= count) from = count;
    const int found = lastIn(0, from);
    return found >= 0 ? found : lastIn(from, count);
}

int RegisterFind::firstIn(int begin, int end) const
{
    // Another program's change read meanwhile may leave fewer records.
    for (int i = begin; i < std::min(end, m_dataSet.RecordCount()); ++i)
        if (matches(i)) return i;
    return -1;
}

int RegisterFind::lastIn(int begin, int end) const
{
    for (int pieceEnd = end; pieceEnd > begin; pieceEnd -= kBackwardPiece) {
        const int pieceBegin = std::max(begin, pieceEnd - kBackwardPiece);
        int last = -1;
        for (int i = pieceBegin; i < std::min(pieceEnd, m_dataSet.RecordCount()); ++i)
            if (matches(i)) last = i;
        if (last >= 0) return last;
    }
    return -1;
}
