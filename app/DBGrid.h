// The data grid of the windows: a title row, a row indicator, resizable columns and grid lines.
// It draws only the rows its source holds and never fetches rows by itself: the source (a data
// link on a dataset) decides how many rows exist, the grid only says how many it can show.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>

#include <vector>

// What the grid shows: the rows of the source's record window.
class TGridRows {
public:
    virtual ~TGridRows();
    virtual int RowCount() const = 0;
    // Index of the active row among RowCount(), or -1.
    virtual int ActiveRow() const = 0;
    virtual QString CellText(int row, const QString& fieldName) const = 0;
};

struct TColumn {
    QString FieldName;
    int Width = 64;
    QString Title;
};

class TDBGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);

    int ColumnCount() const { return int(FColumns.size()); }
    TColumn& Columns(int index) { return FColumns.at(size_t(index)); }
    const TColumn& Columns(int index) const { return FColumns.at(size_t(index)); }
    TColumn& AddColumn(const QString& fieldName, int width, const QString& title = QString());
    void SetColumnWidth(int index, int width);

    QFont TitleFont() const { return FTitleFont; }
    void SetTitleFont(const QFont& font);

    TGridRows* Rows() const { return FRows; }
    // The grid does not own its source; pass nullptr before the source goes.
    void SetRows(TGridRows* rows);
    // The source's rows or active row changed: repaint.
    void RowsChanged();

    int TitleHeight() const;
    int DefaultRowHeight() const;
    // How many data rows fit in the visible area: what a bound source is asked to hold.
    int VisibleRowCapacity() const;

    static constexpr int IndicatorWidth = 11;
    static constexpr int GridLineWidth = 1;
    static constexpr int MinColumnWidth = 4;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int ContentWidth() const;
    int ColumnLeft(int index) const;
    // The column whose right border is under x in the title row, or -1.
    int ColumnBorderAt(int x, int y) const;
    void UpdateScrollBars();

    std::vector<TColumn> FColumns;
    QFont FTitleFont;
    TGridRows* FRows = nullptr;
    int FSizingColumn = -1;
    int FSizingOrigin = 0;
    int FSizingStartWidth = 0;
};
