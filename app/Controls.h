// Small controls the windows need that the toolkit does not offer as such.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStringList>
#include <QWidget>

#include <vector>

// A label the user can click, like a link.
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A captioned group of mutually exclusive choices laid out in columns.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    void SetItems(const QStringList& items);
    QStringList Items() const;
    int Columns() const { return FColumns; }
    void SetColumns(int columns);
    // -1 when nothing is selected.
    int ItemIndex() const;
    void SetItemIndex(int index);
    QRadioButton* Button(int index) const { return FButtons.at(size_t(index)); }

signals:
    // The user or the program chose another item.
    void itemIndexChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Arrange();

    std::vector<QRadioButton*> FButtons;
    int FColumns = 1;
};

// A container whose children may be docked to its bottom edge, full width.
class TPanel : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void AlignBottom(QWidget* child, int height);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* FBottom = nullptr;
    int FBottomHeight = 0;
};
