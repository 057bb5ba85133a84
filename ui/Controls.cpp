#include "Controls.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcut>

namespace {

// To assistive technology a click label is what it is to the user: a button that presses.
class TClickLabelAccessible : public QAccessibleWidget {
public:
    explicit TClickLabelAccessible(TClickLabel* label)
        : QAccessibleWidget(label, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        QString texte = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && texte.isEmpty())
            texte = static_cast<const QLabel*>(widget())->text();
        return texte;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            static_cast<TClickLabel*>(widget())->Click();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* ClickLabelAccessible(const QString& classe, QObject* object) {
    if (classe == QLatin1String("TClickLabel"))
        if (auto* label = qobject_cast<TClickLabel*>(object))
            return new TClickLabelAccessible(label);
    return nullptr;
}

void InstallClickLabelAccessible() {
    static const bool installed = (QAccessible::installFactory(ClickLabelAccessible), true);
    (void)installed;
}

class TMnemoniqueFilter : public QObject {
public:
    TMnemoniqueFilter(QGroupBox* group, TClickLabel* label) : QObject(group), FLabel(label) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Shortcut || !FLabel) return false;
        FLabel->setFocus(Qt::ShortcutFocusReason);
        FLabel->Click();
        return true;
    }

private:
    QPointer<TClickLabel> FLabel;
};

} // namespace

TClickLabel::TClickLabel(QWidget* parent) : QLabel(parent) {
    InstallClickLabelAccessible();
    // Like a link: Tab reaches it, a mouse click does not leave the focus on it.
    setFocusPolicy(Qt::TabFocus);
}

TClickLabel::TClickLabel(const QString& text, QWidget* parent) : TClickLabel(parent) {
    setText(text);
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void TClickLabel::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers chord =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    // A key held down presses once: each press would open the dialog again behind the first.
    if (chord == Qt::NoModifier &&
        (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        event->accept();
        if (!event->isAutoRepeat()) emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void TClickLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter p(this);
    p.setPen(QPen(palette().color(foregroundRole()), 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TClickLabel::focusInEvent(QFocusEvent* event) {
    QLabel::focusInEvent(event);
    update();
}

void TClickLabel::focusOutEvent(QFocusEvent* event) {
    QLabel::focusOutEvent(event);
    update();
}

void ActiverParMnemonique(QGroupBox* group, TClickLabel* label) {
    group->installEventFilter(new TMnemoniqueFilter(group, label));
}

QString TexteRaccourci(const QKeySequence& raccourci) {
    QString texte = raccourci.toString(QKeySequence::PortableText);
    texte.replace(QStringLiteral("Shift+"), QStringLiteral("Maj+"));
    return texte;
}

void SetRaccourci(QAbstractButton* button, const QKeySequence& raccourci,
                  const QString& description) {
    // A shortcut of its own rather than the button's: setText puts the text's mnemonic in place
    // of the button's shortcut, and a window sets its texts after making its buttons.
    auto* shortcut = new QShortcut(raccourci, button);
    shortcut->setObjectName(button->objectName() + QStringLiteral("Raccourci"));
    // Pressed as by a click, where the user sees it; not while disabled.
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled()) button->animateClick();
    });
    button->setToolTip(description + QStringLiteral(" (") + TexteRaccourci(raccourci) +
                       QLatin1Char(')'));
}

QKeySequence Raccourci(const QAbstractButton* button) {
    const auto* shortcut = button->findChild<QShortcut*>(QString(), Qt::FindDirectChildrenOnly);
    return shortcut ? shortcut->key() : QKeySequence();
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
