// The data grid of the windows: a title row, a row indicator, resizable columns and grid lines
// over the rows of a dataset. It follows the dataset through a data link and never fetches rows
// by itself: it only says how many rows it can show (the link's buffer count) and moves the
// dataset when the user asks; the dataset decides what to read.
#pragma once

#include "DB.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>

#include <exception>
#include <functional>
#include <vector>

class TDBGrid;

// Makes assistive technology read the grids as tables (once per program, at the first grid).
void InstallDBGridAccessible();

// The grid's side of the data-link protocol: every data event ends in a repaint of the grid.
class TGridDataLink : public TDataLink {
public:
    explicit TGridDataLink(TDBGrid* Grid);

protected:
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(qint32 Distance) override;
    void LayoutChanged() override;

private:
    TDBGrid* FGrid;
};

struct TColumn {
    QString FieldName;
    int Width = 64;
    QString Title;
    // A column the window computes instead of a field: asked for the text of each row shown,
    // while that row is the dataset's current one for its fields, and only while it is open.
    std::function<QString()> Text;
};

class TDBGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    int ColumnCount() const { return int(FColumns.size()); }
    TColumn& Columns(int index) { return FColumns.at(size_t(index)); }
    const TColumn& Columns(int index) const { return FColumns.at(size_t(index)); }
    TColumn& AddColumn(const QString& fieldName, int width, const QString& title = QString());
    TColumn& AddComputedColumn(std::function<QString()> text, int width,
                               const QString& title = QString());
    void SetColumnWidth(int index, int width);
    // After titles or field names were changed through Columns(): find the fields again and
    // repaint.
    void ColumnsChanged();

    QFont TitleFont() const { return FTitleFont; }
    void SetTitleFont(const QFont& font);

    // The grid does not own its data source; the link leaves a source that goes first.
    TDataSource* DataSource() const { return FDataLink.DataSource(); }
    void SetDataSource(TDataSource* Value);
    const TGridDataLink& DataLink() const { return FDataLink; }

    // Whole-row selection: the active row is highlighted across every column instead of one
    // cell. With AlwaysShowSelection the highlight stays when the grid loses the focus.
    bool RowSelect() const { return FRowSelect; }
    void SetRowSelect(bool Value);
    bool AlwaysShowSelection() const { return FAlwaysShowSelection; }
    void SetAlwaysShowSelection(bool Value);
    int SelectedColumn() const { return FSelectedColumn; }

    // The field a column shows, as found at the last activation or layout change; nullptr when
    // the dataset has no field of that name or is closed.
    TField* ColumnField(int column) const;
    // The text shown in a visible row (counted from the first shown) and column, read as the
    // painting reads it.
    QString CellText(int row, int column);

    int TitleHeight() const;
    int DefaultRowHeight() const;
    // How many data rows fit in the visible area: the link's buffer count.
    int VisibleRowCapacity() const;
    // The visible row under a viewport ordinate, or -1 on the title row or below the rows.
    int RowAt(int y) const;
    // The rows the grid holds and shows, and the one the dataset stands on (-1 when closed).
    int VisibleRows() const { return FDataLink.RecordCount(); }
    int ActiveRow() const { return FDataLink.Active() ? FDataLink.ActiveRecord() : -1; }
    // Where a cell lies in the viewport; row -1 is the title row.
    QRect CellRect(int row, int column) const;

    static constexpr int IndicatorWidth = 11;
    static constexpr int GridLineWidth = 1;
    static constexpr int MinColumnWidth = 4;

signals:
    void doubleClicked();

    // The grid asks its window for a context menu (customContextMenuRequested) on a right
    // click, the Menu key and Shift+F10 alike.

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class TGridDataLink;

    // From the link.
    void LinkActiveChanged();
    void LinkLayoutChanged();
    void DataChanged();

    void ResolveFields();
    void UpdateRowCapacity();
    void UpdateVerticalScrollBar();
    void VerticalScrollBarMoved(int value);
    // Runs a move the user asked for: a failure goes to the error box and the grid shows what
    // the dataset holds afterwards.
    template <typename F> void Navigate(F&& move);
    void MoveByRows(int distance);
    void RequestContextMenu();
    void GoFirst();
    void GoLast();
    void PaintRows(QPainter& p, int rowCount);
    // Whether a column has a text to show, and that text for the link's active record.
    bool HasCellText(int column) const;
    QString ActiveCellText(int column) const;
    void ReportPaintFailure(std::exception_ptr error);

    int ContentWidth() const;
    int ColumnLeft(int index) const;
    int ColumnAt(int x) const;
    // The column whose right border is under x in the title row, or -1.
    int ColumnBorderAt(int x, int y) const;
    void UpdateScrollBars();

    std::vector<TColumn> FColumns;
    std::vector<TField*> FColumnFields;
    QFont FTitleFont;
    TGridDataLink FDataLink;
    bool FRowSelect = false;
    bool FAlwaysShowSelection = false;
    int FSelectedColumn = 0;
    bool FSyncingScrollBar = false;
    bool FPaintFailed = false;
    int FWheelDelta = 0;
    int FSizingColumn = -1;
    int FSizingOrigin = 0;
    int FSizingStartWidth = 0;
};
