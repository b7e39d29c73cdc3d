#include "GridTestSupport.h"
#include "MemoryDataSet.h"
#include "TestRegistry.h"

#include "grid/DBGridEx.h"

#include <QLineEdit>
#include <QPainter>
#include <QTest>

namespace {

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kSelectionBlue(0, 64, 128);
const QColor kRed(255, 0, 0);

// What a cell must look like: its background with text written at `offset`
// in the grid's font, the way the grid writes cell text.
QImage expectedCell(const QSize& size, QImage::Format format, const QFont& font, const QString& text,
                    const QColor& background, const QColor& foreground, const QPoint& offset)
{
    QImage image(size, format);
    image.fill(background);
    QPainter painter(&image);
    const QFontMetrics metrics(font);
    painter.setFont(font);
    painter.setPen(foreground);
    painter.drawText(offset + QPoint(0, metrics.ascent()), text);
    return image;
}

// The cell's pixels without its one-pixel border, where the focus frame goes.
QImage inner(const QImage& image)
{
    return image.copy(image.rect().adjusted(1, 1, -1, -1));
}

int countPixels(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour ? 1 : 0;
    return count;
}

} // namespace

// Cell painting of the extended grid: text cells, value-coded check cells and
// the paint hook.
class DBGridExPaintTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    TDBGridEx* m_grid = nullptr;
    QLineEdit* m_elsewhere = nullptr;
    TDataSource* m_source = nullptr;
    std::unique_ptr<MemoryDataSet> m_data;
    TImageList* m_images = nullptr;

    QImage grabCell(int record, int column)
    {
        const QImage all = m_grid->viewport()->grab().toImage();
        return all.copy(m_grid->visualRect(m_grid->model()->index(record, column)));
    }

    QImage expectedText(const QImage& cell, const QString& text, const QColor& background, const QColor& foreground,
                        const QPoint& offset = {2, 2})
    {
        return expectedCell(cell.size(), cell.format(), m_grid->font(), text, background, foreground, offset);
    }

private slots:
    void init()
    {
        m_data = std::make_unique<MemoryDataSet>(
            std::vector<TFieldDef>{integerField(QStringLiteral("id")), textField(QStringLiteral("name"), 10),
                                   textField(QStringLiteral("flag"), 6)},
            std::vector<std::vector<jet::Value>>{
                {number(1), text(QStringLiteral("  alpha  ")), text(QStringLiteral("1"))},
                {number(2), text(QStringLiteral("beta")), text(QStringLiteral("0"))},
                {number(3), text(QStringLiteral("gamma")), text(QString())},
                {number(4), text(QStringLiteral("delta")), text(QStringLiteral("9"))},
                {number(5), text(QStringLiteral("eps")), text(QStringLiteral(" x "))},
            });
        m_window = std::make_unique<QWidget>();
        m_window->resize(420, 260);
        m_grid = new TDBGridEx(m_window.get());
        m_grid->setGeometry(0, 0, 420, 220);
        m_elsewhere = new QLineEdit(m_window.get());
        m_elsewhere->setGeometry(0, 225, 200, 30);
        m_source = new TDataSource(m_window.get());
        m_source->setDataSet(m_data.get());
        m_grid->setDataSource(m_source);
        m_images = new TImageList(10, 10, m_window.get());
        QPixmap red(10, 10);
        red.fill(kRed);
        m_images->Add(red);
        m_data->Open();
        QVERIFY(showFocused(m_grid));
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        m_window.reset();
        m_data.reset();
    }

    void textCellsShowTrimmedEditTextAtTwoPixelInset()
    {
        m_data->setRecNo(1);
        m_grid->setCurrentIndex(m_grid->model()->index(0, 1));

        const QImage plain = grabCell(1, 1);
        QVERIFY(countPixels(plain, kWhite) < plain.width() * plain.height());  // some text is there
        QCOMPARE(plain, expectedText(plain, QStringLiteral("beta"), kWhite, kBlack));

        const QImage number = grabCell(2, 0);
        QCOMPARE(number, expectedText(number, QStringLiteral("3"), kWhite, kBlack));

        // The current cell: white on selection blue; its border holds the focus frame.
        const QImage current = grabCell(0, 1);
        QCOMPARE(inner(current), inner(expectedText(current, QStringLiteral("alpha"), kSelectionBlue, kWhite)));
    }

    void currentCellStaysBlueWithoutFocus()
    {
        m_grid->setCurrentIndex(m_grid->model()->index(1, 1));
        m_elsewhere->setFocus();
        QVERIFY(!m_grid->hasFocus());
        const QImage current = grabCell(1, 1);
        QCOMPARE(current, expectedText(current, QStringLiteral("beta"), kSelectionBlue, kWhite));
    }

    void checkColumnCellsArePaintedByValue()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        m_grid->setSValue1(QStringLiteral("1"));
        m_grid->setSValue2(QStringLiteral("0"));
        m_grid->setSValue3(QStringLiteral("9"));
        m_grid->setSCheckImages(m_images);
        m_grid->setSImageIndex_Of_Value1(0);
        m_grid->setSString_of_Value2(QStringLiteral("N"));
        m_grid->setSString_of_Value3(QString());
        m_grid->setCurrentIndex(m_grid->model()->index(0, 0));  // away from the check cells

        // Value 1: the image at the cell's top-left corner, the rest white.
        const QImage one = grabCell(0, 2);
        QCOMPARE(one.pixelColor(0, 0), kRed);
        QCOMPARE(one.pixelColor(9, 9), kRed);
        QCOMPARE(countPixels(one, kRed), 100);
        QCOMPARE(countPixels(one, kWhite), one.width() * one.height() - 100);

        // Value 2, and an empty cell, which counts as value 2: the string with no inset.
        for (int record : {1, 2}) {
            const QImage two = grabCell(record, 2);
            QCOMPARE(two, expectedText(two, QStringLiteral("N"), kWhite, kBlack, {0, 0}));
        }

        // Value 3 with neither image nor string: blank white.
        const QImage three = grabCell(3, 2);
        QCOMPARE(countPixels(three, kWhite), three.width() * three.height());

        // Any other value is a text cell, trimmed and inset.
        const QImage other = grabCell(4, 2);
        QCOMPARE(other, expectedText(other, QStringLiteral("x"), kWhite, kBlack));
    }

    void imageIndexWithoutImageListFallsBackToTheString()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        m_grid->setSValue1(QStringLiteral("1"));
        m_grid->setSImageIndex_Of_Value1(0);
        m_grid->setSString_of_Value1(QStringLiteral("Y"));
        m_grid->setCurrentIndex(m_grid->model()->index(0, 0));
        const QImage one = grabCell(0, 2);
        QCOMPARE(one, expectedText(one, QStringLiteral("Y"), kWhite, kBlack, {0, 0}));

        m_grid->setSString_of_Value1(QString());
        const QImage blank = grabCell(0, 2);
        QCOMPARE(countPixels(blank, kWhite), blank.width() * blank.height());
    }

    void paintHookRunsAfterTheCellIsPaintedWithItsState()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        m_grid->setSValue1(QStringLiteral("1"));
        m_grid->setSCheckImages(m_images);
        m_grid->setSImageIndex_Of_Value1(0);
        m_grid->setCurrentIndex(m_grid->model()->index(1, 1));

        QMap<QPair<int, int>, TGridDrawState> states;
        QMap<QPair<int, int>, int> calls;
        QColor fontOfImageCell;
        m_grid->OnDrawColumnCell = [&](TDBGrid* sender, const QRect& rect, int dataCol, TColumn* column,
                                       TGridDrawState state) {
            QCOMPARE(sender, m_grid);
            QCOMPARE(column, m_grid->Columns()[dataCol]);
            const int record = m_grid->rowAt(rect.center().y());
            states[{record, dataCol}] = state;
            ++calls[{record, dataCol}];
            if (record == 0 && dataCol == 2)
                fontOfImageCell = sender->Canvas()->FontColor();
            sender->Canvas()->setBrushColor(QColor(0, 255, 0));
            sender->Canvas()->FillRect(QRect(rect.right() - 2, rect.bottom() - 2, 3, 3));
        };

        const QImage cell = grabCell(3, 0);
        QCOMPARE(cell.pixelColor(cell.width() - 1, cell.height() - 1), QColor(0, 255, 0));
        QCOMPARE(cell.pixelColor(0, 0), kWhite);
        QCOMPARE(calls.value({3, 0}), 1);
        QCOMPARE(calls.size(), 5 * 3);

        QCOMPARE(states.value({1, 1}), TGridDrawState(gdSelected | gdFocused));
        QCOMPARE(states.value({2, 1}), TGridDrawState());
        for (auto state : states)
            QVERIFY(!(state & gdFixed));
        QCOMPARE(fontOfImageCell, QColor(0, 0, 255));  // value 1 leaves its blue for the handler

        m_elsewhere->setFocus();
        m_grid->viewport()->grab();
        QCOMPARE(states.value({1, 1}), TGridDrawState(gdSelected));
    }

    void emptyDataSetGetsNoPaintingAndNoHandlerCalls()
    {
        auto empty = std::make_unique<MemoryDataSet>(std::vector<TFieldDef>{integerField(QStringLiteral("id"))},
                                                     std::vector<std::vector<jet::Value>>{});
        m_source->setDataSet(empty.get());
        empty->Open();
        int calls = 0;
        m_grid->OnDrawColumnCell = [&](TDBGrid*, const QRect&, int, TColumn*, TGridDrawState) { ++calls; };
        m_grid->viewport()->grab();
        QCOMPARE(calls, 0);
        m_source->setDataSet(m_data.get());
        m_data->Open();
        m_grid->viewport()->grab();
        QVERIFY(calls > 0);
    }
};

REGISTER_GRID_TEST(DBGridExPaintTest);

#include "DBGridExPaintTest.moc"
