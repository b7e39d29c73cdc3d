#pragma once

#include <QString>

#include <string>

class TDataSet;
class TField;

// Finds a register entry by the start of its serial number or of its user
// name, letter case ignored as Jet ignores it, in the order the dataset
// holds its records now (the grid's order, a title-click sort included).
//
// The walk reads the two fields of one record at a time through the
// dataset's random access and stops at the first match, so that a search in
// a large register reads no more than it passes; a lazily read dataset reads
// the records it passes in its own growing batches.
class RegisterFind {
public:
    enum class Direction { Forward, Backward };

    // `text` is taken without surrounding spaces, as the sign-in takes its fields.
    RegisterFind(const TDataSet& dataSet, const QString& text);

    // Nothing to look for (an empty text, an inactive dataset, a listing
    // without the two fields).
    bool isEmpty() const;

    // Index in the current order of the nearest matching record after
    // (Forward) or before (Backward) index `from`, wrapping around the ends,
    // so that `from` itself is the last one looked at; -1 when no record
    // matches. A `from` outside the records (no current record) starts at
    // the first record going forward and at the last going backward.
    int next(int from, Direction direction) const;

    // Whether the record at `index` matches.
    bool matches(int index) const;

private:
    // The first (Forward) or last (Backward) match in [begin, end); -1 when none.
    int firstIn(int begin, int end) const;
    int lastIn(int begin, int end) const;

    const TDataSet& m_dataSet;
    std::u16string m_foldedText;
    const TField* m_serial = nullptr;
    const TField* m_userName = nullptr;
};
