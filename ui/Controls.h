// Small controls the windows need that the toolkit does not offer as such.
#pragma once

#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QRadioButton>
#include <QStringList>
#include <QWidget>

#include <vector>

class QAbstractButton;

// A label the user can click, like a link, or reach with Tab and press with Enter or Space as a
// button; a dotted frame in its text colour shows the focus, on any background.
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit TClickLabel(QWidget* parent = nullptr);
    explicit TClickLabel(const QString& text, QWidget* parent = nullptr);

    // What a click does, from the keyboard or assistive technology.
    void Click() { emit clicked(); }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// The mnemonic of a group's caption ("&Anciennes valeurs") presses the label instead of only
// moving the focus into the group.
void ActiverParMnemonique(QGroupBox* group, TClickLabel* label);

// A shortcut as a French keyboard names its keys: "Ctrl+Maj+C", "F5".
QString TexteRaccourci(const QKeySequence& raccourci);

// Gives a button a shortcut that clicks it and says it in the tooltip: "description (F5)".
void SetRaccourci(QAbstractButton* button, const QKeySequence& raccourci,
                  const QString& description);
// The shortcut SetRaccourci gave the button, or none.
QKeySequence Raccourci(const QAbstractButton* button);

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
