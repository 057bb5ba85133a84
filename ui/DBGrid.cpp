#include "DBGrid.h"

#include "Application.h"

#include <QAccessible>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace {

// Reading a row means making it the dataset's active one; whatever happens, the user's row is
// the active one again afterwards.
class TActiveRecordGuard {
public:
    explicit TActiveRecordGuard(TDataLink& link) : FLink(link), FSaved(link.ActiveRecord()) {}
    ~TActiveRecordGuard() { FLink.SetActiveRecord(FSaved); }
    TActiveRecordGuard(const TActiveRecordGuard&) = delete;
    TActiveRecordGuard& operator=(const TActiveRecordGuard&) = delete;

private:
    TDataLink& FLink;
    qint32 FSaved;
};

constexpr int WheelStep = 120; // one notch of an ordinary wheel

} // namespace

// =============================================================================================
// TGridDataLink

TGridDataLink::TGridDataLink(TDBGrid* Grid) : FGrid(Grid) {
    SetVisualControl(true);
}

void TGridDataLink::ActiveChanged() {
    FGrid->LinkActiveChanged();
}

void TGridDataLink::DataSetChanged() {
    FGrid->DataChanged();
}

void TGridDataLink::DataSetScrolled(qint32) {
    FGrid->DataChanged();
}

void TGridDataLink::LayoutChanged() {
    FGrid->LinkLayoutChanged();
}

// =============================================================================================
// TDBGrid

TDBGrid::TDBGrid(QWidget* parent)
    : QAbstractScrollArea(parent), FTitleFont(font()), FDataLink(this) {
    setFrameShape(QFrame::StyledPanel);
    // Always there, so that a change of the row count never changes the room for rows.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    InstallDBGridAccessible();
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TDBGrid::VerticalScrollBarMoved);
    UpdateVerticalScrollBar();
}

TDBGrid::~TDBGrid() {
    FDataLink.SetDataSource(nullptr);
}

TColumn& TDBGrid::AddColumn(const QString& fieldName, int width, const QString& title) {
    FColumns.push_back(TColumn{fieldName, width, title.isEmpty() ? fieldName : title, {}});
    ResolveFields();
    UpdateScrollBars();
    viewport()->update();
    return FColumns.back();
}

TColumn& TDBGrid::AddComputedColumn(std::function<QString()> text, int width,
                                    const QString& title) {
    TColumn& column = AddColumn(QString(), width, title);
    column.Text = std::move(text);
    viewport()->update();
    return column;
}

void TDBGrid::SetColumnWidth(int index, int width) {
    Columns(index).Width = std::max(width, MinColumnWidth);
    UpdateScrollBars();
    viewport()->update();
}

void TDBGrid::ColumnsChanged() {
    ResolveFields();
    UpdateScrollBars();
    viewport()->update();
}

void TDBGrid::SetTitleFont(const QFont& font) {
    FTitleFont = font;
    UpdateRowCapacity();
    viewport()->update();
}

void TDBGrid::SetDataSource(TDataSource* Value) {
    // The capacity first: joining an open dataset fills its window to it at once.
    FDataLink.SetBufferCount(VisibleRowCapacity());
    FDataLink.SetDataSource(Value);
    LinkActiveChanged();
}

void TDBGrid::SetRowSelect(bool Value) {
    FRowSelect = Value;
    viewport()->update();
}

void TDBGrid::SetAlwaysShowSelection(bool Value) {
    FAlwaysShowSelection = Value;
    viewport()->update();
}

TField* TDBGrid::ColumnField(int column) const {
    return FColumnFields.at(size_t(column));
}

QString TDBGrid::CellText(int row, int column) {
    if (!HasCellText(column) || row < 0 || row >= FDataLink.RecordCount()) return QString();
    TActiveRecordGuard guard(FDataLink);
    FDataLink.SetActiveRecord(row);
    return ActiveCellText(column);
}

bool TDBGrid::HasCellText(int column) const {
    const TColumn& c = FColumns.at(size_t(column));
    return c.Text ? FDataLink.Active() : FColumnFields.at(size_t(column)) != nullptr;
}

QString TDBGrid::ActiveCellText(int column) const {
    const TColumn& c = FColumns[size_t(column)];
    return c.Text ? c.Text() : FColumnFields[size_t(column)]->DisplayText();
}

// ---- What the link tells

void TDBGrid::LinkActiveChanged() {
    ResolveFields();
    DataChanged();
}

void TDBGrid::LinkLayoutChanged() {
    ResolveFields();
    DataChanged();
}

void TDBGrid::DataChanged() {
    FPaintFailed = false;
    UpdateVerticalScrollBar();
    viewport()->update();
    // Other rows, other texts: what assistive technology holds of the cells is read again.
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent change(this, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&change);
    }
}

// Looking fields up by name is done here, once, never for a painted cell.
void TDBGrid::ResolveFields() {
    FColumnFields.assign(FColumns.size(), nullptr);
    TDataSet* ds = FDataLink.Active() ? FDataLink.DataSet() : nullptr;
    if (!ds) return;
    for (size_t i = 0; i < FColumns.size(); ++i)
        FColumnFields[i] = ds->FindField(FColumns[i].FieldName);
}

void TDBGrid::UpdateRowCapacity() {
    const int capacity = VisibleRowCapacity();
    if (capacity == FDataLink.BufferCount()) return;
    // A larger window reads more rows, which may fail like any fetch.
    Protect([&] { FDataLink.SetBufferCount(capacity); });
    DataChanged();
}

// The bar knows only the rows fetched so far: its range grows as the dataset reads further.
void TDBGrid::UpdateVerticalScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    TDataSet* ds = FDataLink.Active() ? FDataLink.DataSet() : nullptr;
    const int count = ds ? ds->RecordCount() : 0;
    const int position = ds ? std::max(ds->RecNo() - 1, 0) : 0;
    FSyncingScrollBar = true;
    bar->setRange(0, std::max(count - 1, 0));
    bar->setPageStep(std::max(FDataLink.BufferCount(), 1));
    bar->setSingleStep(1);
    bar->setValue(position);
    FSyncingScrollBar = false;
}

void TDBGrid::VerticalScrollBarMoved(int value) {
    if (FSyncingScrollBar) return;
    TDataSet* ds = FDataLink.Active() ? FDataLink.DataSet() : nullptr;
    if (!ds) return;
    MoveByRows(value - (ds->RecNo() - 1));
}

// ---- Moves

template <typename F> void TDBGrid::Navigate(F&& move) {
    if (!FDataLink.Active() || !FDataLink.DataSet()) return;
    Protect(std::forward<F>(move));
    // After a failure the links were told only what moved before it; show the dataset as it is.
    DataChanged();
}

void TDBGrid::MoveByRows(int distance) {
    if (distance == 0) return;
    Navigate([&] { FDataLink.MoveBy(distance); });
}

void TDBGrid::GoFirst() {
    Navigate([&] { FDataLink.DataSet()->First(); });
}

void TDBGrid::GoLast() {
    Navigate([&] { FDataLink.DataSet()->Last(); });
}

// ---- Geometry

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

int TDBGrid::RowAt(int y) const {
    const int offset = y - TitleHeight() - GridLineWidth;
    if (offset < 0) return -1;
    const int row = offset / (DefaultRowHeight() + GridLineWidth);
    return row < FDataLink.RecordCount() ? row : -1;
}

QRect TDBGrid::CellRect(int row, int column) const {
    const int width = FColumns.at(size_t(column)).Width;
    if (row < 0) return QRect(ColumnLeft(column), 0, width, TitleHeight());
    const int top = TitleHeight() + GridLineWidth + row * (DefaultRowHeight() + GridLineWidth);
    return QRect(ColumnLeft(column), top, width, DefaultRowHeight());
}

int TDBGrid::ContentWidth() const {
    int width = IndicatorWidth + GridLineWidth;
    for (const TColumn& c : FColumns)
        width += c.Width + GridLineWidth;
    return width;
}

int TDBGrid::ColumnLeft(int index) const {
    int x = IndicatorWidth + GridLineWidth - horizontalScrollBar()->value();
    for (int i = 0; i < index; ++i)
        x += FColumns[size_t(i)].Width + GridLineWidth;
    return x;
}

int TDBGrid::ColumnAt(int x) const {
    for (int i = 0; i < ColumnCount(); ++i) {
        const int left = ColumnLeft(i);
        if (x >= left && x < left + FColumns[size_t(i)].Width + GridLineWidth) return i;
    }
    return -1;
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
    UpdateRowCapacity();
}

// ---- Painting

void TDBGrid::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    const int titleHeight = TitleHeight();
    const int rowHeight = DefaultRowHeight();
    const int rowCount = FDataLink.RecordCount();
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
    try {
        PaintRows(p, rowCount);
    } catch (...) {
        ReportPaintFailure(std::current_exception());
    }

    p.setPen(pal.color(QPalette::Mid));
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
    // The focus shows also on a grid without rows, where no selection can show it.
    if (hasFocus()) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(viewport()->rect().adjusted(1, 1, -1, -1));
    }
}

// Reads each shown row through the link's active row; only rows the window already holds, so
// painting never reaches the server.
void TDBGrid::PaintRows(QPainter& p, int rowCount) {
    if (rowCount == 0) return;
    const QPalette& pal = palette();
    const int titleHeight = TitleHeight();
    const int rowHeight = DefaultRowHeight();
    const int active = FDataLink.ActiveRecord();
    const bool showSelection = hasFocus() || FAlwaysShowSelection;
    TActiveRecordGuard guard(FDataLink);
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
        FDataLink.SetActiveRecord(r);
        for (int i = 0; i < ColumnCount(); ++i) {
            const TColumn& c = FColumns[size_t(i)];
            const QRect cell(ColumnLeft(i), top, c.Width, rowHeight);
            const bool selected =
                r == active && showSelection && (FRowSelect || i == FSelectedColumn);
            if (selected) p.fillRect(cell, pal.color(QPalette::Highlight));
            p.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
            if (!HasCellText(i)) continue;
            const QRect text = cell.adjusted(2, 0, -2, 0);
            p.save();
            p.setClipRect(text);
            p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                       ActiveCellText(i));
            p.restore();
        }
    }
}

// A box cannot open inside a paint; it opens right after, once until the data change again,
// so that a row that cannot be read does not raise a box at every repaint.
void TDBGrid::ReportPaintFailure(std::exception_ptr error) {
    if (FPaintFailed) return;
    FPaintFailed = true;
    QMetaObject::invokeMethod(
        this, [error] { HandleException(error); }, Qt::QueuedConnection);
}

// ---- Mouse and keyboard

void TDBGrid::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const int border = ColumnBorderAt(pos.x(), pos.y());
    if (border >= 0) {
        FSizingColumn = border;
        FSizingOrigin = pos.x();
        FSizingStartWidth = FColumns[size_t(border)].Width;
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const int row = RowAt(pos.y());
    if (row < 0) return;
    const int column = ColumnAt(pos.x());
    if (column >= 0 && column != FSelectedColumn) {
        FSelectedColumn = column;
        viewport()->update();
    }
    MoveByRows(row - FDataLink.ActiveRecord());
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

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    // Only a row is double-clicked: the title row and the room below the last row are none.
    if (event->button() != Qt::LeftButton || RowAt(pos.y()) < 0) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    mousePressEvent(event);
    emit doubleClicked();
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Up:
        MoveByRows(-1);
        break;
    case Qt::Key_Down:
        MoveByRows(1);
        break;
    case Qt::Key_PageUp:
        MoveByRows(-FDataLink.BufferCount());
        break;
    case Qt::Key_PageDown:
        MoveByRows(FDataLink.BufferCount());
        break;
    case Qt::Key_Home:
        GoFirst();
        break;
    case Qt::Key_End:
        GoLast();
        break;
    case Qt::Key_F10:
        if (!(event->modifiers() & Qt::ShiftModifier))
            return QAbstractScrollArea::keyPressEvent(event);
        [[fallthrough]];
    case Qt::Key_Menu:
        RequestContextMenu();
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (FRowSelect || ctrl || ColumnCount() == 0)
            return QAbstractScrollArea::keyPressEvent(event);
        FSelectedColumn = std::clamp(FSelectedColumn + (event->key() == Qt::Key_Left ? -1 : 1), 0,
                                     ColumnCount() - 1);
        viewport()->update();
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

// From the keyboard the menu opens on the active row, where the user's eyes are, in viewport
// coordinates as for a right click.
void TDBGrid::RequestContextMenu() {
    if (contextMenuPolicy() != Qt::CustomContextMenu) return;
    const int row = std::max(ActiveRow(), 0);
    const QRect cell = ColumnCount() > 0
                           ? CellRect(row, std::min(FSelectedColumn, ColumnCount() - 1))
                           : QRect(0, TitleHeight(), 40, DefaultRowHeight());
    emit customContextMenuRequested(QPoint(cell.left() + 20, cell.center().y()));
}

void TDBGrid::wheelEvent(QWheelEvent* event) {
    // One row per notch; the fine steps of a touch pad add up to notches.
    FWheelDelta += event->angleDelta().y();
    const int notches = FWheelDelta / WheelStep;
    FWheelDelta -= notches * WheelStep;
    MoveByRows(-notches);
    event->accept();
}

void TDBGrid::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TDBGrid::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
