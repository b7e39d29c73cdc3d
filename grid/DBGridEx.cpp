#include "grid/DBGridEx.h"

#include "ado/TADODataSet.h"
#include "ado/TADOQuery.h"
#include "grid/ColumnInfoFile.h"
#include "grid/IniFile.h"
#include "grid/UColumnCaptions.h"
#include "qtcommon/GbkText.h"
#include "qtcommon/IgnoredError.h"
#include "qtcommon/MessageBoxes.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>

namespace {

// Leading and trailing blanks and control characters removed, as the
// layout and the settings have always been compared.
QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= u' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

// Equal but for the case of ASCII letters.
bool sameTextAscii(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x >= u'A' && x <= u'Z')
            x = char16_t(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = char16_t(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return true;
}

// The two dataset kinds whose rows can be re-sorted by a sort-order text.
TCustomADODataSet* sortableDataSet(TDataSet* dataSet)
{
    if (dynamic_cast<TADODataSet*>(dataSet) || dynamic_cast<TADOQuery*>(dataSet))
        return static_cast<TCustomADODataSet*>(dataSet);
    return nullptr;
}

int visibleColumnCount(const TDBGridColumns& columns)
{
    int count = 0;
    for (const auto& column : columns)
        count += column->Visible() ? 1 : 0;
    return count;
}

const QString kLayoutFileName = QStringLiteral("ColumnINFO.ini");

} // namespace

TDBGridEx::TDBGridEx(QWidget* parent) : TDBGrid(parent)
{
    setOptions(Options() & ~TDBGridOptions(dgEditing));
}

TDBGridEx::~TDBGridEx()
{
    delete m_columnMenu;
}

void TDBGridEx::setSCheckImages(TImageList* images)
{
    m_sCheckImages = images;
    viewport()->update();
}

void TDBGridEx::setSCheckField(const QString& value)
{
    m_sCheckField = value;
    viewport()->update();
}

void TDBGridEx::setSWriteAbleField(const QStringList& lines)
{
    if (&lines == &m_sWriteAbleField)
        return;
    m_sWriteAbleField = lines;
}

bool TDBGridEx::HasDataSet() const
{
    return DataSource() && DataSource()->DataSet();
}

// --- painting ---------------------------------------------------------------

QString TDBGridEx::cellEditText(TColumn* column) const
{
    try {
        return trimBlanks(CellText(column, false));
    } catch (const std::exception&) {
        ignoreBecause("a field that cannot give its text has an empty edit text");
        return QString();
    }
}

void TDBGridEx::DrawColumnCell(const QRect& rect, int dataCol, TColumn* column, TGridDrawState state)
{
    TCanvas* canvas = Canvas();
    TDataSet* dataSet = DataSet();
    if (!canvas || !dataSet || dataSet->IsEmpty())
        return;
    const QString text = cellEditText(column);
    canvas->setBrushColor(clWhite);
    if (state & gdFocused)
        canvas->setFontColor(clBlack);
    if (!HasDataSet())
        return;

    TField* field = column ? column->Field() : nullptr;
    const QString fieldName = field ? field->FieldName() : QString();
    if (field && text == m_sValue1 && trimBlanks(fieldName) == m_sCheckField)
        DrawValueCell(1, rect, column);
    else if (field && (text == m_sValue2 || text.isEmpty()) && fieldName == m_sCheckField)
        DrawValueCell(2, rect, column);
    else if (field && text == m_sValue3 && fieldName == m_sCheckField)
        DrawValueCell(3, rect, column);
    else
        DrawTextCell(rect, state, column);

    if (OnDrawColumnCell)
        OnDrawColumnCell(this, rect, dataCol, column, state);
}

void TDBGridEx::DrawTextCell(const QRect& rect, TGridDrawState state, TColumn* column)
{
    TCanvas* canvas = Canvas();
    if (!canvas)
        return;
    canvas->FillRect(rect);
    if (state & gdSelected) {
        canvas->setBrushColor(clSelectionBlue);
        canvas->setFontColor(clWhite);
    } else {
        canvas->setBrushColor(clWhite);
        canvas->setFontColor(clBlack);
    }
    canvas->FillRect(rect);
    canvas->TextOut(rect.left() + 2, rect.top() + 2, cellEditText(column));
}

void TDBGridEx::DrawValueCell(int valueNumber, const QRect& rect, TColumn*)
{
    TCanvas* canvas = Canvas();
    if (!canvas || valueNumber < 1 || valueNumber > 3)
        return;
    const int imageIndex = valueNumber == 1   ? m_sImageIndexOfValue1
                           : valueNumber == 2 ? m_sImageIndexOfValue2
                                              : m_sImageIndexOfValue3;
    const QString& text = valueNumber == 1   ? m_sStringOfValue1
                          : valueNumber == 2 ? m_sStringOfValue2
                                             : m_sStringOfValue3;
    canvas->FillRect(rect);
    if (imageIndex != -1 && m_sCheckImages) {
        if (valueNumber == 1)
            canvas->setFontColor(clBlue);
        QPixmap bitmap;
        m_sCheckImages->GetBitmap(imageIndex, bitmap);
        canvas->Draw(rect.left(), rect.top(), bitmap);
    } else if (!text.isEmpty()) {
        canvas->TextOut(rect.left(), rect.top(), text);
    }
}

// --- sorting -----------------------------------------------------------------

void TDBGridEx::TitleClick(TColumn* column)
{
    TDBGrid::TitleClick(column);
    TDataSet* dataSet = DataSet();
    if (column && column->FieldName() != m_sCheckField && dataSet && dataSet->Active() && m_sAllowSortGrid)
        SortByColumn(column);
}

void TDBGridEx::SortByColumn(TColumn* column)
{
    if (!column || !(m_sDispSortSymbol && m_sAllowSortGrid))
        return;
    TDataSet* dataSet = DataSet();
    TBookmark bookmark;
    try {
        if (dataSet && dataSet->Active())
            bookmark = dataSet->GetBookmark();
    } catch (const std::exception&) {
        ignoreBecause("without a bookmark the sorted grid stays on the first row");
    }

    try {
        if (TCustomADODataSet* sortable = sortableDataSet(dataSet)) {
            ClearSortSymbols();
            const QString sortText = sortable->Sort();
            QString orderWord;
            if (sortText.contains(column->FieldName()) && sortText.contains(QLatin1String("ASC"))) {
                m_sortSymbol = DescendingSymbol;
                orderWord = QStringLiteral(" DESC ");
            } else {
                m_sortSymbol = AscendingSymbol;
                orderWord = QStringLiteral(" ASC ");
            }
            sortable->setSort(column->FieldName() + orderWord);
        }
        ClearSortSymbols();
        MarkSortColumn(column);
    } catch (...) {
        ignoreBecause("sorting never reports; whatever changed before the failure stays");
    }

    try {
        if (!bookmark.isNull() && dataSet->Active())
            dataSet->GotoBookmark(bookmark);
    } catch (...) {
        ignoreBecause("a row that cannot be found again after sorting leaves the grid where it is");
    }
    if (dataSet)
        dataSet->FreeBookmark(bookmark);
}

void TDBGridEx::ClearSortSymbols()
{
    for (const auto& column : Columns()) {
        const QString caption = column->Title()->Caption();
        if (caption.contains(m_sortSymbol))
            column->Title()->setCaption(caption.chopped(1));
    }
}

void TDBGridEx::MarkSortColumn(TColumn* column)
{
    if (!column)
        return;
    column->setVisible(true);
    column->Title()->setCaption(column->Title()->Caption() + m_sortSymbol);
    viewport()->update();
    horizontalHeader()->viewport()->update();
}

// --- cell clicks -------------------------------------------------------------

void TDBGridEx::CellClick(TColumn* column)
{
    TDBGrid::CellClick(column);
    setOptions(Options() & ~TDBGridOptions(dgEditing));
    TDataSet* dataSet = DataSet();
    if (!column || !dataSet || !dataSet->Active() || !hasFocus() || dataSet->Eof())
        return;
    if (sameTextAscii(column->FieldName(), trimBlanks(m_sCheckField))) {
        ToggleCheckValue(column);
    } else if (m_sWriteAbleField.contains(column->FieldName(), Qt::CaseInsensitive)) {
        setOptions(Options() | dgEditing);
        try {
            dataSet->Edit();
        } catch (const std::exception&) {
            ignoreBecause("the grid stays editable; the dataset refuses the edit itself");
        }
    }
}

void TDBGridEx::ToggleCheckValue(TColumn* column)
{
    TDataSet* dataSet = DataSet();
    TField* field = column ? column->Field() : nullptr;
    if (!dataSet || !field)
        return;
    try {
        dataSet->Edit();
    } catch (const std::exception&) {
        ignoreBecause("a check cell whose record cannot be edited does not toggle");
        return;
    }
    const QString value = trimBlanks(field->AsString());
    if (value != m_sValue3 && value == QLatin1String("NIGHT")) {
        if (MessageBoxes::show(this, {QMessageBox::NoIcon, QStringLiteral("要下达该条记录吗?"), QStringLiteral("确定吗?"),
                                      QString(), QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes}) ==
            QMessageBox::Yes)
            field->setText(m_sValue3);
    }
    if (value == m_sValue2 || value.isEmpty())
        field->setText(m_sValue1);
    if (value == m_sValue1)
        field->setText(m_sValue2);
}

// --- right button and menus --------------------------------------------------

bool TDBGridEx::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (button != Qt::RightButton)
        return TDBGrid::MouseDown(button, shift, x, y);
    // The menu opens while the button is still down, and the base grid never
    // sees the press, so the current cell stays where it is.
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
    m_rightPressOpenedMenu = false;
    m_rightPressOpenedMenu = RightButtonUp(shift, x, y);
    return true;
}

bool TDBGridEx::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (button != Qt::RightButton)
        return TDBGrid::MouseUp(button, shift, x, y);
    if (m_rightPressOpenedMenu) {
        m_rightPressOpenedMenu = false;
        return true;
    }
    RightButtonUp(shift, x, y);
    return true;
}

bool TDBGridEx::RightButtonUp(Qt::KeyboardModifiers shift, int x, int y)
{
    if (OnMouseUp)
        OnMouseUp(this, Qt::RightButton, shift, x, y);
    if (!HasDataSet())
        return false;
    const TGridCoord cell = MouseCoord(x, y);
    const QPoint screenPos = mapToGlobal(QPoint(x, y));
    ensureColumnMenu();
    if (cell.X < 0 || cell.Y < 0)
        return false;
    BuildColumnMenu();
    if (cell.Y == 0) {
        m_columnMenu->popup(screenPos);
        return true;
    }
    if (QMenu* menu = PopupMenu()) {
        menu->popup(screenPos);
        return true;
    }
    return false;
}

void TDBGridEx::contextMenuEvent(QContextMenuEvent* event)
{
    // A request that comes with the right press that already opened a menu.
    if (event->reason() == QContextMenuEvent::Mouse && m_rightPressOpenedMenu) {
        event->accept();
        return;
    }
    TDBGrid::contextMenuEvent(event);
}

void TDBGridEx::ensureColumnMenu()
{
    if (m_columnMenu)
        return;
    m_columnMenu = new QMenu(this);
    m_columnMenu->setObjectName(QStringLiteral("ColumnMenu"));
    connect(m_columnMenu, &QMenu::triggered, this, [this](QAction* item) {
        try {
            ColumnMenuClick(item);
        } catch (const std::exception& error) {
            HandleException(error);
        }
    });
}

void TDBGridEx::BuildColumnMenu()
{
    ensureColumnMenu();
    m_columnMenu->clear();
    // Hiding the last visible column would leave the layout section empty,
    // which reads as "no layout yet"; its item is disabled.
    const bool lastVisible = visibleColumnCount(Columns()) == 1;
    for (const auto& column : Columns()) {
        QAction* item = m_columnMenu->addAction(column->Title()->Caption());
        item->setCheckable(true);
        item->setChecked(column->Visible());
        item->setData(0);
        if (column->Visible() && lastVisible)
            item->setEnabled(false);
    }
    // A separator line; a separator action with a text shows that text.
    QAction* separator = m_columnMenu->addSeparator();
    separator->setData(0);
    QAction* captions = m_columnMenu->addAction(QStringLiteral("中文字段设置"));
    captions->setData(ColumnMenuCaptionsTag);
}

void TDBGridEx::ColumnMenuClick(QAction* item)
{
    if (!item)
        return;
    if (item->data().toInt() == ColumnMenuCaptionsTag) {
        EditColumnCaptions();
        return;
    }
    if (!m_columnMenu)
        return;
    const int position = int(m_columnMenu->actions().indexOf(item));
    if (position < 0 || position >= Columns().Count())
        return;
    TColumn* column = Columns()[position];
    if (column->Visible() && visibleColumnCount(Columns()) == 1) {
        item->setChecked(true);
        return;
    }
    column->setVisible(!column->Visible());
    item->setChecked(column->Visible());
    SaveColumnVisibility(kLayoutFileName);
}

// --- layout file -------------------------------------------------------------

QString TDBGridEx::LayoutSectionName() const
{
    const QWidget* outermost = this;
    while (outermost->parentWidget())
        outermost = outermost->parentWidget();
    if (outermost == this)
        return Name();
    return outermost->objectName() + Name();
}

QString TDBGridEx::LayoutFilePath(const QString& fileName) const
{
    const QString folder = m_layoutFolder.isEmpty() ? ColumnInfoFile::defaultFolder() : m_layoutFolder;
    return ColumnInfoFile::pathOf(folder, fileName);
}

bool TDBGridEx::CanSaveLayout() const
{
    TDataSet* dataSet = DataSet();
    return dataSet && dataSet->Active();
}

QList<IniFile::Change> TDBGridEx::WidthChanges() const
{
    QList<IniFile::Change> changes;
    const QString section = LayoutSectionName() + QLatin1Char('W');
    for (const auto& column : Columns()) {
        // A field name the file's code page cannot hold costs only its own
        // column its width, not the others theirs.
        if (GbkText::encode(column->FieldName()))
            changes.append({section, column->FieldName(), QString::number(column->Width())});
    }
    return changes;
}

QList<IniFile::Change> TDBGridEx::VisibilityChanges() const
{
    QList<IniFile::Change> changes;
    const QString section = LayoutSectionName();
    for (const auto& column : Columns()) {
        if (column->Visible())
            changes.append({section, column->FieldName(), column->FieldName()});
        else
            changes.append({section, column->FieldName(), std::nullopt});
    }
    return changes;
}

void TDBGridEx::SaveColumnWidths()
{
    if (!CanSaveLayout())
        return;
    try {
        IniFile(LayoutFilePath()).Apply(WidthChanges());
    } catch (const std::exception&) {
        ignoreBecause("widths are saved as far as they can be");
    }
}

void TDBGridEx::LoadColumnWidths()
{
    IniFile file(LayoutFilePath());
    const QString section = LayoutSectionName() + QLatin1Char('W');
    if (!file.SectionExists(section)) {
        SaveColumnWidths();
        return;
    }
    for (const auto& column : Columns())
        column->setWidth(file.ReadInteger(section, column->FieldName(), MissingColumnWidth));
}

void TDBGridEx::SaveColumnVisibility(const QString& fileName)
{
    if (!CanSaveLayout() || trimBlanks(fileName).isEmpty())
        return;
    IniFile(LayoutFilePath(fileName)).Apply(VisibilityChanges());
    // Read back at once, so that the grid and the file agree. No second
    // save from there: with every column hidden the section stays empty.
    loadColumnVisibility(kLayoutFileName, false);
}

void TDBGridEx::SaveColumnLayout(const QString& fileName)
{
    if (!CanSaveLayout())
        return;
    if (trimBlanks(fileName).isEmpty() || LayoutFilePath(fileName) != LayoutFilePath()) {
        SaveColumnWidths();
        SaveColumnVisibility(fileName);
        return;
    }
    const QList<IniFile::Change> visibility = VisibilityChanges();
    try {
        IniFile(LayoutFilePath()).Apply(WidthChanges() + visibility);
    } catch (const std::exception&) {
        // Alone, the widths' failure is swallowed and the visibility's
        // deletions never fail; only its writes report.
        if (std::any_of(visibility.begin(), visibility.end(), [](const auto& change) { return change.value; }))
            throw;
        ignoreBecause("widths are saved as far as they can be");
    }
    loadColumnVisibility(kLayoutFileName, false);
}

void TDBGridEx::LoadColumnVisibility(const QString& fileName)
{
    loadColumnVisibility(fileName, true);
}

void TDBGridEx::loadColumnVisibility(const QString& fileName, bool mayRecordFirst)
{
    if (trimBlanks(fileName).isEmpty() || Columns().Count() == 0)
        return;
    IniFile file(LayoutFilePath(fileName));
    const QString section = LayoutSectionName();
    QList<bool> shown;
    if (file.SectionExists(section)) {
        for (const auto& column : Columns())
            shown << !trimBlanks(file.ReadString(section, column->FieldName(), QString())).isEmpty();
    } else {
        // No layout yet: the current visibility becomes the stored one (and
        // is read back from there, unless every column is hidden).
        if (mayRecordFirst)
            SaveColumnVisibility(kLayoutFileName);
        for (const auto& column : Columns())
            shown << column->Visible();
    }
    // A grid without a visible column has no title row either, and so no
    // way to its column menu: a layout that would hide every column (one of
    // another version of the database, which names none of these fields, or
    // one with only empty values) shows them all, and the file is left as it
    // is.
    if (!shown.contains(true))
        shown.fill(true);
    for (int i = 0; i < Columns().Count(); ++i)
        Columns()[i]->setVisible(shown[i]);
}

void TDBGridEx::LoadColumnCaptions()
{
    IniFile file(LayoutFilePath());
    const QString section = LayoutSectionName() + QLatin1Char('C');
    if (!file.SectionExists(section))
        return;
    for (const auto& column : Columns()) {
        const QString caption = file.ReadString(section, column->FieldName(), QString());
        if (!trimBlanks(caption).isEmpty())
            column->Title()->setCaption(caption);
    }
}

void TDBGridEx::EditColumnCaptions()
{
    QVector<TFrmColumnCaptions::Row> rows;
    for (const auto& column : Columns()) {
        QString caption = column->Title()->Caption();
        caption.replace(AscendingSymbol, QStringLiteral(" "));
        rows.append({column->FieldName(), caption});
    }
    TFrmColumnCaptions dialog(rows, this);
    dialog.exec();

    // However the dialog was closed, its captions are stored.
    IniFile file(LayoutFilePath());
    const QString section = LayoutSectionName() + QLatin1Char('C');
    for (int row = 1; row < dialog.RowCount(); ++row) {
        const QString fieldName = dialog.Cells(0, row);
        QString caption = dialog.Cells(1, row);
        if (trimBlanks(caption).isEmpty())
            caption = fieldName;
        if (trimBlanks(caption).contains(AscendingSymbol))
            caption = trimBlanks(caption).chopped(1);
        file.WriteString(section, fieldName, caption);
    }
    LoadColumnCaptions();
}
