// The grid as assistive technology reads it: a table of the rows the grid holds, one column per
// grid column, the titles as column headers. Only rows already read are offered: a screen reader
// walking the table must not make the dataset fetch or move.
#include "DBGrid.h"

#include "SysUtils.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>

#include <map>
#include <utility>

namespace {

class TDBGridAccessible;

// A cell, or a column's title when its row is -1. It reads the grid at each question, so that a
// cell kept by a screen reader across a scroll says what is shown there now.
class TDBGridCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    TDBGridCellAccessible(TDBGrid* grid, int row, int column)
        : FGrid(grid), FRow(row), FColumn(column) {}

    bool isValid() const override {
        return FGrid && FRow >= -1 && FRow < FGrid->VisibleRows() && FColumn >= 0 &&
               FColumn < FGrid->ColumnCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return FGrid ? FGrid->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return FGrid ? QAccessible::queryAccessibleInterface(FGrid.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !isValid()) return QString();
        if (FRow < 0) return FGrid->Columns(FColumn).Title;
        return FGrid->CellText(FRow, FColumn);
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return QRect();
        const QRect cell = FGrid->CellRect(FRow, FColumn);
        return QRect(FGrid->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }
    QAccessible::Role role() const override {
        return FRow < 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.readOnly = true;
        if (FRow < 0) return s;
        s.selectable = true;
        s.focusable = true;
        s.selected = isSelected();
        s.focused = s.selected && FGrid->hasFocus() && IsCurrent();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableCellInterface && FRow >= 0)
            return static_cast<QAccessibleTableCellInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override {
        return FRow >= 0 && FRow == FGrid->ActiveRow() && (FGrid->RowSelect() || IsCurrent());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return FColumn; }
    int rowIndex() const override { return FRow; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    bool IsCurrent() const { return FColumn == FGrid->SelectedColumn(); }

    QPointer<TDBGrid> FGrid;
    int FRow;
    int FColumn;
};

class TDBGridAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TDBGridAccessible(TDBGrid* grid) : QAccessibleWidget(grid, QAccessible::Table) {}
    ~TDBGridAccessible() override { OublierCellules(); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // Without a description of its own, where the shown rows lie among those read.
    QString text(QAccessible::Text t) const override {
        QString texte = QAccessibleWidget::text(t);
        if (t != QAccessible::Description || !texte.isEmpty()) return texte;
        const TDataSet* ds = Grid()->DataSource() ? Grid()->DataSource()->DataSet() : nullptr;
        const int lignes = rowCount();
        if (!ds || lignes == 0) return QStringLiteral("Aucune ligne");
        const int premiere = std::max(ds->RecNo() - Grid()->ActiveRow(), 1);
        return Format(QStringLiteral("Lignes %d à %d sur %d lues"), premiere, premiere + lignes - 1,
                      ds->RecordCount());
    }

    // The titles first, then the rows, each left to right.
    int childCount() const override { return (rowCount() + 1) * columnCount(); }
    QAccessibleInterface* child(int index) const override {
        const int colonnes = columnCount();
        if (colonnes == 0 || index < 0 || index >= childCount()) return nullptr;
        return Cellule(index / colonnes - 1, index % colonnes);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (const auto& [position, id] : FCellules)
            if (QAccessible::accessibleInterface(id) == child)
                return (position.first + 1) * columnCount() + position.second;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint ici = Grid()->viewport()->mapFromGlobal(QPoint(x, y));
        for (int row = -1; row < rowCount(); ++row)
            for (int column = 0; column < columnCount(); ++column)
                if (Grid()->CellRect(row, column).contains(ici)) return Cellule(row, column);
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        if (!Grid()->hasFocus()) return nullptr;
        const int row = Grid()->ActiveRow();
        if (row < 0 || row >= rowCount() || columnCount() == 0) return nullptr;
        return Cellule(row, std::min(Grid()->SelectedColumn(), columnCount() - 1));
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return nullptr;
        return Cellule(row, column);
    }
    int selectedCellCount() const override { return int(selectedCells().size()); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        const int row = Grid()->ActiveRow();
        if (row < 0 || row >= rowCount()) return cells;
        for (int column = 0; column < columnCount(); ++column)
            if (Grid()->RowSelect() || column == Grid()->SelectedColumn())
                cells << Cellule(row, column);
        return cells;
    }
    QString columnDescription(int column) const override {
        return column >= 0 && column < columnCount() ? Grid()->Columns(column).Title : QString();
    }
    QString rowDescription(int) const override { return QString(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override { return Grid()->ColumnCount(); }
    int rowCount() const override { return Grid()->VisibleRows(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        const int row = Grid()->ActiveRow();
        if (!Grid()->RowSelect() || row < 0 || row >= rowCount()) return {};
        return {row};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return selectedRows().contains(row); }
    // The selection is the dataset's position, which the user moves, not assistive technology.
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override { OublierCellules(); }

private:
    TDBGrid* Grid() const { return static_cast<TDBGrid*>(widget()); }

    QAccessibleInterface* Cellule(int row, int column) const {
        const std::pair<int, int> position(row, column);
        const auto found = FCellules.find(position);
        if (found != FCellules.end()) return QAccessible::accessibleInterface(found->second);
        auto* cell = new TDBGridCellAccessible(Grid(), row, column);
        FCellules.emplace(position, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    void OublierCellules() {
        for (const auto& [position, id] : FCellules)
            QAccessible::deleteAccessibleInterface(id);
        FCellules.clear();
    }

    // Cells are owned by the accessibility cache; these are the ones handed out so far.
    mutable std::map<std::pair<int, int>, QAccessible::Id> FCellules;
};

QList<QAccessibleInterface*> TDBGridCellAccessible::columnHeaderCells() const {
    QAccessibleInterface* grille = parent();
    if (!grille) return {};
    return {grille->child(FColumn)};
}

QAccessibleInterface* DBGridAccessible(const QString& classe, QObject* object) {
    if (classe == QLatin1String("TDBGrid"))
        if (auto* grid = qobject_cast<TDBGrid*>(object)) return new TDBGridAccessible(grid);
    return nullptr;
}

} // namespace

void InstallDBGridAccessible() {
    static const bool installed = (QAccessible::installFactory(DBGridAccessible), true);
    (void)installed;
}
