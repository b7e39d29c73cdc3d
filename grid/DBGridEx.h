#pragma once

#include "grid/DBGrid.h"
#include "grid/IniFile.h"
#include "grid/TColor.h"
#include "grid/TImageList.h"

#include <QMenu>
#include <QPointer>
#include <QStringList>

enum class TConfirmBy { Single, Multi, All };

// The extended data grid. On top of TDBGrid it
// - paints every data cell itself: white cells with black text, the current
//   cell white on dark blue, and the cells of one check column (SCheckField)
//   by value: SValue1..SValue3 each with an image or a fixed text;
// - sorts by a left click on a column title and marks the sorted column's
//   caption with "↓" (ascending) or "↑" (descending);
// - on a cell click cycles the check value in the check column, allows
//   in-place editing in the columns listed in SWriteAbleField until the next
//   click elsewhere, and is read-only otherwise;
// - opens its column menu on a right press on the title row and the assigned
//   PopupMenu on a data row, and keeps column widths, visibility and captions
//   in the layout file ColumnINFO.ini beside the executable.
class TDBGridEx : public TDBGrid {
    Q_OBJECT
    Q_PROPERTY(bool SAllowSortGrid READ SAllowSortGrid WRITE setSAllowSortGrid)
    Q_PROPERTY(bool SDispSortSymbol READ SDispSortSymbol WRITE setSDispSortSymbol)
    Q_PROPERTY(QString SValue1 READ SValue1 WRITE setSValue1)
    Q_PROPERTY(QString SValue2 READ SValue2 WRITE setSValue2)
    Q_PROPERTY(QString SValue3 READ SValue3 WRITE setSValue3)
    Q_PROPERTY(QString SCheckField READ SCheckField WRITE setSCheckField)
    Q_PROPERTY(QStringList SWriteAbleField READ SWriteAbleField WRITE setSWriteAbleField)
    Q_PROPERTY(int SDefaultColor READ SDefaultColor WRITE setSDefaultColor)
    Q_PROPERTY(int SColor_Of_Value2 READ SColor_Of_Value2 WRITE setSColor_Of_Value2)
    Q_PROPERTY(int SColor_Of_Value1 READ SColor_Of_Value1 WRITE setSColor_Of_Value1)
    Q_PROPERTY(int SColor_Of_Value3 READ SColor_Of_Value3 WRITE setSColor_Of_Value3)
    Q_PROPERTY(int SImageIndex_Of_Value1 READ SImageIndex_Of_Value1 WRITE setSImageIndex_Of_Value1)
    Q_PROPERTY(int SImageIndex_Of_Value2 READ SImageIndex_Of_Value2 WRITE setSImageIndex_Of_Value2)
    Q_PROPERTY(int SImageIndex_Of_Value3 READ SImageIndex_Of_Value3 WRITE setSImageIndex_Of_Value3)
    Q_PROPERTY(QString SString_of_Value1 READ SString_of_Value1 WRITE setSString_of_Value1)
    Q_PROPERTY(QString SString_of_Value2 READ SString_of_Value2 WRITE setSString_of_Value2)
    Q_PROPERTY(QString SString_of_Value3 READ SString_of_Value3 WRITE setSString_of_Value3)
    Q_PROPERTY(QString SDoc_Name_Field READ SDoc_Name_Field WRITE setSDoc_Name_Field)
    Q_PROPERTY(bool SAllowInputDocFile READ SAllowInputDocFile WRITE setSAllowInputDocFile)

public:
    static inline const QString AscendingSymbol = QStringLiteral("↓");
    static inline const QString DescendingSymbol = QStringLiteral("↑");
    static constexpr int ColumnMenuCaptionsTag = 1;
    static constexpr int MissingColumnWidth = 60;

    explicit TDBGridEx(QWidget* parent = nullptr);
    ~TDBGridEx() override;

    // --- published settings -------------------------------------------------
    bool SAllowSortGrid() const { return m_sAllowSortGrid; }
    void setSAllowSortGrid(bool value) { m_sAllowSortGrid = value; }
    bool SDispSortSymbol() const { return m_sDispSortSymbol; }
    void setSDispSortSymbol(bool value) { m_sDispSortSymbol = value; }
    TImageList* SCheckImages() const { return m_sCheckImages; }
    void setSCheckImages(TImageList* images);
    const QString& SValue1() const { return m_sValue1; }
    void setSValue1(const QString& value) { m_sValue1 = value; }
    const QString& SValue2() const { return m_sValue2; }
    void setSValue2(const QString& value) { m_sValue2 = value; }
    const QString& SValue3() const { return m_sValue3; }
    void setSValue3(const QString& value) { m_sValue3 = value; }
    const QString& SCheckField() const { return m_sCheckField; }
    void setSCheckField(const QString& value);
    // The grid's own list; assigning copies the lines into it.
    QStringList& SWriteAbleField() { return m_sWriteAbleField; }
    const QStringList& SWriteAbleField() const { return m_sWriteAbleField; }
    void setSWriteAbleField(const QStringList& lines);
    // The colour and document settings below are published and kept with the
    // window's settings, but nothing in the grid reads them:
    // - text cells are always black on white (white on the selection blue
    //   when selected), whatever SDefaultColor holds;
    // - check cells draw value 1's image with the font colour set to a fixed
    //   blue and the other values in the canvas's colour, not in
    //   SColor_Of_Value1..SColor_Of_Value3;
    // - SDoc_Name_Field, SAllowInputDocFile and SConfirmBy have no behaviour.
    TColor SDefaultColor() const { return m_sDefaultColor; }
    void setSDefaultColor(TColor value) { m_sDefaultColor = value; }
    TColor SColor_Of_Value2() const { return m_sColorOfValue2; }
    void setSColor_Of_Value2(TColor value) { m_sColorOfValue2 = value; }
    TColor SColor_Of_Value1() const { return m_sColorOfValue1; }
    void setSColor_Of_Value1(TColor value) { m_sColorOfValue1 = value; }
    TColor SColor_Of_Value3() const { return m_sColorOfValue3; }
    void setSColor_Of_Value3(TColor value) { m_sColorOfValue3 = value; }
    int SImageIndex_Of_Value1() const { return m_sImageIndexOfValue1; }
    void setSImageIndex_Of_Value1(int value) { m_sImageIndexOfValue1 = value; }
    int SImageIndex_Of_Value2() const { return m_sImageIndexOfValue2; }
    void setSImageIndex_Of_Value2(int value) { m_sImageIndexOfValue2 = value; }
    int SImageIndex_Of_Value3() const { return m_sImageIndexOfValue3; }
    void setSImageIndex_Of_Value3(int value) { m_sImageIndexOfValue3 = value; }
    const QString& SString_of_Value1() const { return m_sStringOfValue1; }
    void setSString_of_Value1(const QString& value) { m_sStringOfValue1 = value; }
    const QString& SString_of_Value2() const { return m_sStringOfValue2; }
    void setSString_of_Value2(const QString& value) { m_sStringOfValue2 = value; }
    const QString& SString_of_Value3() const { return m_sStringOfValue3; }
    void setSString_of_Value3(const QString& value) { m_sStringOfValue3 = value; }
    const QString& SDoc_Name_Field() const { return m_sDocNameField; }
    void setSDoc_Name_Field(const QString& value) { m_sDocNameField = value; }
    bool SAllowInputDocFile() const { return m_sAllowInputDocFile; }
    void setSAllowInputDocFile(bool value) { m_sAllowInputDocFile = value; }
    TConfirmBy SConfirmBy() const { return m_sConfirmBy; }
    void setSConfirmBy(TConfirmBy value) { m_sConfirmBy = value; }

    // --- grid operations ----------------------------------------------------
    void SortByColumn(TColumn* column);
    void ClearSortSymbols();
    void MarkSortColumn(TColumn* column);
    void ToggleCheckValue(TColumn* column);
    void DrawTextCell(const QRect& rect, TGridDrawState state, TColumn* column);
    void DrawValueCell(int valueNumber, const QRect& rect, TColumn* column);
    bool HasDataSet() const;
    // The current sort mark: "↓" or "↑".
    const QString& SortSymbol() const { return m_sortSymbol; }

    // --- column menu and layout ---------------------------------------------
    // Name of the grid's outermost window followed by the grid's own Name;
    // a grid outside any window uses its own Name.
    QString LayoutSectionName() const;
    // Folder of the layout file; empty means the executable's folder.
    const QString& LayoutFolder() const { return m_layoutFolder; }
    void setLayoutFolder(const QString& folder) { m_layoutFolder = folder; }
    // Full path of the layout file (an existing one whatever the case of its name).
    QString LayoutFilePath(const QString& fileName = QStringLiteral("ColumnINFO.ini")) const;

    void SaveColumnWidths();
    void LoadColumnWidths();
    void SaveColumnVisibility(const QString& fileName);
    // SaveColumnWidths followed by SaveColumnVisibility, in one rewrite of
    // the layout file when fileName names it: a crash while saving leaves
    // the old layout or the new one, never some of each.
    void SaveColumnLayout(const QString& fileName);
    void LoadColumnVisibility(const QString& fileName);
    void LoadColumnCaptions();
    void EditColumnCaptions();
    void BuildColumnMenu();
    void ColumnMenuClick(QAction* item);
    // The grid's own column menu; nullptr until first used.
    QMenu* ColumnMenu() const { return m_columnMenu; }

protected:
    void TitleClick(TColumn* column) override;
    void CellClick(TColumn* column) override;
    void DrawColumnCell(const QRect& rect, int dataCol, TColumn* column, TGridDrawState state) override;
    bool MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    bool MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Runs the right-button release handling; true when it opened a menu.
    bool RightButtonUp(Qt::KeyboardModifiers shift, int x, int y);
    void ensureColumnMenu();
    void loadColumnVisibility(const QString& fileName, bool mayRecordFirst);
    // Whether a layout may be saved: a dataset is attached and open.
    bool CanSaveLayout() const;
    QList<IniFile::Change> WidthChanges() const;
    QList<IniFile::Change> VisibilityChanges() const;
    // The cell text for painting: the field's edit text, trimmed; empty when
    // the field cannot give it.
    QString cellEditText(TColumn* column) const;

    bool m_sAllowSortGrid = true;
    bool m_sDispSortSymbol = true;
    QPointer<TImageList> m_sCheckImages;
    QString m_sValue1;
    QString m_sValue2;
    QString m_sValue3;
    QString m_sCheckField;
    QStringList m_sWriteAbleField;
    TColor m_sDefaultColor = clBlack;
    TColor m_sColorOfValue2 = clBlack;
    TColor m_sColorOfValue1 = clBlue;
    TColor m_sColorOfValue3 = clScrollBar;
    int m_sImageIndexOfValue1 = -1;
    int m_sImageIndexOfValue2 = -1;
    int m_sImageIndexOfValue3 = -1;
    QString m_sStringOfValue1;
    QString m_sStringOfValue2;
    QString m_sStringOfValue3;
    QString m_sDocNameField;
    bool m_sAllowInputDocFile = false;
    TConfirmBy m_sConfirmBy = TConfirmBy::Single;

    QString m_sortSymbol = AscendingSymbol;
    QMenu* m_columnMenu = nullptr;
    QString m_layoutFolder;
    // The right press that is down opened a menu: its release and its
    // context-menu request open nothing more.
    bool m_rightPressOpenedMenu = false;
};
