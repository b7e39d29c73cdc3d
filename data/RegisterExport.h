#pragma once

#include <QString>
#include <QStringView>
#include <functional>
#include <optional>
#include <vector>

class TADOQuery;
class TDataSet;

// The XML text of the pending register entries:
//   <?xml version="1.0" encoding="GBK"?><root>
//   <record><data_id>…</data_id><data_usbkey_serial>…</data_usbkey_serial><data_username>…</data_username><data_add_date>…</data_add_date></record>
//   …
//   </root>
// and the ids of the entries it lists, so that a save marks only entries
// whose records went into the file.
class RegisterExport {
public:
    struct Listing {
        QString text;               // the lines, separated by line feeds (none after the last)
        std::vector<qint64> listed; // ids of the entries listed, ascending
    };

    // Called every few hundred rows with the rows done so far; returns
    // false to stop (the listing is then abandoned).
    using Progress = std::function<bool(int done, int total)>;

    static QString noDataLine() { return QStringLiteral("没有数据"); }
    static QString headerLine() { return QStringLiteral("<?xml version=\"1.0\" encoding=\"GBK\"?><root>"); }
    static QString footerLine() { return QStringLiteral("</root>"); }

    // One record line; the values are escaped here.
    static QString recordLine(const QString& id, const QString& serial, const QString& userName,
                              const QString& addDate);
    // A value as element text that an XML reader gives back unchanged, on
    // one line: &, < and > as entities; CR, LF, U+2028, U+2029, U+FDD0 and
    // U+FDD1 (line breaks for a reader or for the text box) as character
    // references (&#xD;). Characters that XML 1.0 cannot hold at all, not
    // even as a reference (control characters other than tab, CR and LF,
    // U+FFFE, U+FFFF and half a surrogate pair), become U+FFFD, so that the
    // file stays well-formed.
    static QString escapeXml(const QString& value);
    // escapeXml(value) appended to out.
    static void appendEscaped(QString& out, QStringView value);

    // The export text of an open dataset of pending entries (fields id,
    // usbkey_serial, username, add_date, in the dataset's order). An empty
    // dataset gives the single line "没有数据" and no range. Nothing when
    // progress asked to stop. The dataset's current record is not moved.
    static std::optional<Listing> fromDataSet(const TDataSet& pending, const Progress& progress = {});

    // The export of the entries pending now, through `pending` (a query on
    // the register's connection, left closed): every record is read in one
    // read of the database, so the text holds one state of the register and
    // its record count is the entries pending at that moment; should
    // another program's commit still come between the records and the text,
    // it starts again. Nothing when progress asked to stop; EDatabaseError
    // when the register keeps changing.
    static std::optional<Listing> build(TADOQuery& pending, const Progress& progress = {});

    // Those of the `listed` ids (ascending) whose record `text` still holds:
    // an id element "<data_id>id</data_id>" names it. The operator may have
    // edited the text before saving it; an entry whose record is gone from
    // it is not in the file and must stay pending. Ascending.
    static std::vector<qint64> idsHeldBy(QStringView text, const std::vector<qint64>& listed);

    // The text without the records (<record>…</record>) whose id element
    // names one of these ids (ascending): records that another export took
    // meanwhile. A record alone on its line goes with its line break,
    // whichever the text holds (CR LF, LF, CR, U+2028, or U+2029 as the
    // text box gives it); other text is kept as it is.
    static QString withoutRecords(const QString& text, const std::vector<qint64>& ids);
};
