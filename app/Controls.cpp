#include "Controls.h"

#include <QMouseEvent>

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

void TRadioGroup::SetItems(const QStringList& items) {
    for (QRadioButton* b : FButtons)
        delete b;
    FButtons.clear();
    for (const QString& item : items) {
        auto* b = new QRadioButton(item, this);
        connect(b, &QRadioButton::toggled, this, [this] { emit itemIndexChanged(); });
        b->show();
        FButtons.push_back(b);
    }
    Arrange();
}

QStringList TRadioGroup::Items() const {
    QStringList items;
    for (const QRadioButton* b : FButtons)
        items << b->text();
    return items;
}

void TRadioGroup::SetColumns(int columns) {
    FColumns = std::max(1, columns);
    Arrange();
}

int TRadioGroup::ItemIndex() const {
    for (size_t i = 0; i < FButtons.size(); ++i)
        if (FButtons[i]->isChecked()) return int(i);
    return -1;
}

void TRadioGroup::SetItemIndex(int index) {
    for (size_t i = 0; i < FButtons.size(); ++i) {
        QRadioButton* b = FButtons[i];
        if (int(i) == index) {
            b->setChecked(true);
            continue;
        }
        // The checked button of an exclusive group refuses to be unchecked on its own: with no
        // other item to choose (-1, or an index past the items) the choice would stay.
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(true);
    }
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    Arrange();
}

// Items fill the columns top to bottom, sharing the area below the caption evenly.
void TRadioGroup::Arrange() {
    if (FButtons.empty()) return;
    const int count = int(FButtons.size());
    const int rows = (count + FColumns - 1) / FColumns;
    const int top = fontMetrics().height();
    const int left = 8;
    const int columnWidth = std::max(1, (width() - 2 * left) / FColumns);
    const int rowHeight = std::max(1, (height() - top - 4) / rows);
    for (int i = 0; i < count; ++i) {
        const int column = i / rows;
        const int row = i % rows;
        FButtons[size_t(i)]->setGeometry(left + column * columnWidth, top + row * rowHeight,
                                         columnWidth, rowHeight);
    }
}

void TPanel::AlignBottom(QWidget* child, int height) {
    FBottom = child;
    FBottomHeight = height;
    child->setGeometry(0, this->height() - height, width(), height);
}

void TPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (FBottom) FBottom->setGeometry(0, height() - FBottomHeight, width(), FBottomHeight);
}
