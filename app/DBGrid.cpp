#include "DBGrid.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

TGridRows::~TGridRows() = default;

TDBGrid::TDBGrid(QWidget* parent) : QAbstractScrollArea(parent), FTitleFont(font()) {
    setFrameShape(QFrame::StyledPanel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
}

TColumn& TDBGrid::AddColumn(const QString& fieldName, int width, const QString& title) {
    FColumns.push_back(TColumn{fieldName, width, title.isEmpty() ? fieldName : title});
    UpdateScrollBars();
    viewport()->update();
    return FColumns.back();
}

void TDBGrid::SetColumnWidth(int index, int width) {
    Columns(index).Width = std::max(width, MinColumnWidth);
    UpdateScrollBars();
    viewport()->update();
}

void TDBGrid::SetTitleFont(const QFont& font) {
    FTitleFont = font;
    viewport()->update();
}

void TDBGrid::SetRows(TGridRows* rows) {
    FRows = rows;
    RowsChanged();
}

void TDBGrid::RowsChanged() {
    viewport()->update();
}

int TDBGrid::TitleHeight() const {
    return QFontMetrics(FTitleFont).height() + 4;
}

int TDBGrid::DefaultRowHeight() const {
    return fontMetrics().height() + 4;
}

int TDBGrid::VisibleRowCapacity() const {
    const int available = viewport()->height() - TitleHeight() - GridLineWidth;
    return std::max(1, available / (DefaultRowHeight() + GridLineWidth));
}

int TDBGrid::ContentWidth() const {
    int width = IndicatorWidth + GridLineWidth;
    for (const TColumn& c : FColumns) width += c.Width + GridLineWidth;
    return width;
}

int TDBGrid::ColumnLeft(int index) const {
    int x = IndicatorWidth + GridLineWidth - horizontalScrollBar()->value();
    for (int i = 0; i < index; ++i) x += FColumns[size_t(i)].Width + GridLineWidth;
    return x;
}

int TDBGrid::ColumnBorderAt(int x, int y) const {
    if (y < 0 || y >= TitleHeight()) return -1;
    for (int i = 0; i < ColumnCount(); ++i) {
        const int right = ColumnLeft(i) + FColumns[size_t(i)].Width;
        if (std::abs(x - right) <= 2) return i;
    }
    return -1;
}

void TDBGrid::UpdateScrollBars() {
    QScrollBar* h = horizontalScrollBar();
    h->setPageStep(viewport()->width());
    h->setRange(0, std::max(0, ContentWidth() - viewport()->width()));
}

void TDBGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TDBGrid::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    const QColor lines = pal.color(QPalette::Mid);
    const int titleHeight = TitleHeight();
    const int rowHeight = DefaultRowHeight();
    const int rowCount = FRows ? FRows->RowCount() : 0;
    const int active = FRows ? FRows->ActiveRow() : -1;
    const int right = ColumnLeft(ColumnCount());

    // Title row and indicator column in the button colour, like the rest of the window.
    p.fillRect(QRect(0, 0, viewport()->width(), titleHeight), pal.color(QPalette::Button));
    p.fillRect(QRect(0, titleHeight, IndicatorWidth, rowCount * (rowHeight + GridLineWidth)),
               pal.color(QPalette::Button));

    p.setFont(FTitleFont);
    p.setPen(pal.color(QPalette::ButtonText));
    for (int i = 0; i < ColumnCount(); ++i) {
        const QRect cell(ColumnLeft(i) + 2, 0, FColumns[size_t(i)].Width - 4, titleHeight);
        p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, FColumns[size_t(i)].Title);
    }

    p.setFont(font());
    for (int r = 0; r < rowCount; ++r) {
        const int top = titleHeight + GridLineWidth + r * (rowHeight + GridLineWidth);
        if (r == active) {
            // The indicator's arrow points at the active row.
            const int cy = top + rowHeight / 2;
            QPolygon arrow;
            arrow << QPoint(3, cy - 4) << QPoint(7, cy) << QPoint(3, cy + 4);
            p.setBrush(pal.color(QPalette::ButtonText));
            p.setPen(Qt::NoPen);
            p.drawPolygon(arrow);
        }
        p.setPen(pal.color(QPalette::Text));
        for (int i = 0; i < ColumnCount(); ++i) {
            const TColumn& c = FColumns[size_t(i)];
            const QRect cell(ColumnLeft(i) + 2, top, c.Width - 4, rowHeight);
            const QString text = FRows->CellText(r, c.FieldName);
            p.save();
            p.setClipRect(cell);
            p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
            p.restore();
        }
    }

    p.setPen(lines);
    const int bottom = titleHeight + rowCount * (rowHeight + GridLineWidth);
    p.drawLine(0, titleHeight, right, titleHeight);
    for (int r = 1; r <= rowCount; ++r) {
        const int y = titleHeight + r * (rowHeight + GridLineWidth);
        p.drawLine(0, y, right, y);
    }
    p.drawLine(IndicatorWidth, 0, IndicatorWidth, bottom);
    for (int i = 0; i < ColumnCount(); ++i) {
        const int x = ColumnLeft(i) + FColumns[size_t(i)].Width;
        p.drawLine(x, 0, x, bottom);
    }
}

void TDBGrid::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const int column = ColumnBorderAt(pos.x(), pos.y());
    if (event->button() == Qt::LeftButton && column >= 0) {
        FSizingColumn = column;
        FSizingOrigin = pos.x();
        FSizingStartWidth = FColumns[size_t(column)].Width;
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TDBGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (FSizingColumn >= 0) {
        SetColumnWidth(FSizingColumn, FSizingStartWidth + pos.x() - FSizingOrigin);
        return;
    }
    viewport()->setCursor(ColumnBorderAt(pos.x(), pos.y()) >= 0 ? Qt::SplitHCursor
                                                                 : Qt::ArrowCursor);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (FSizingColumn >= 0) {
        FSizingColumn = -1;
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}
