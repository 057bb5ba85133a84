#include "Classes.h"

#include <algorithm>

TObject::~TObject() = default;

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    DestroyComponents();
    if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::SetName(const QString& name) {
    if (name == FName) return;
    if (FOwner && !name.isEmpty()) {
        const TComponent* other = FOwner->FindComponent(name);
        if (other && other != this)
            throw Exception(Format(QStringLiteral("Un composant nommé %s existe déjà"), name));
    }
    FName = name;
}

void RaiseListIndexError(int index) {
    throw Exception(Format(QStringLiteral("Index de liste hors limites (%d)"), index));
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount()) RaiseListIndexError(index);
    return FComponents[size_t(index)];
}

TComponent* TComponent::FindComponent(const QString& name) const {
    if (name.isEmpty()) return nullptr;
    for (TComponent* c : FComponents)
        if (c->FName.compare(name, Qt::CaseInsensitive) == 0) return c;
    return nullptr;
}

void TComponent::SetDesigning(bool value) {
    if (value)
        FComponentState |= csDesigning;
    else
        FComponentState &= ~unsigned(csDesigning);
    for (TComponent* c : FComponents)
        c->SetDesigning(value);
}

void TComponent::BeginLoading() {
    FComponentState |= csLoading;
    for (TComponent* c : FComponents)
        c->BeginLoading();
}

void TComponent::EndLoading() {
    // A Loaded handler may create or free components: the list is read again after each one,
    // and what was created meanwhile took this component's loading state, so it is loaded too.
    std::vector<TComponent*> done;
    for (;;) {
        const auto next = std::find_if(FComponents.begin(), FComponents.end(), [&](TComponent* c) {
            return c->HasState(csLoading) && std::find(done.begin(), done.end(), c) == done.end();
        });
        if (next == FComponents.end()) break;
        TComponent* c = *next;
        done.push_back(c);
        c->EndLoading();
    }
    if (HasState(csLoading)) Loaded();
}

void TComponent::Loaded() {
    FComponentState &= ~unsigned(csLoading);
}

void TComponent::Destroying() {
    FComponentState |= csDestroying;
    for (TComponent* c : FComponents)
        c->Destroying();
}

void TComponent::Notification(TComponent*, bool) {}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        delete last; // its destructor removes it from FComponents
    }
}

void TComponent::InsertComponent(TComponent* component) {
    component->FOwner = this;
    if (HasState(csLoading)) component->FComponentState |= csLoading;
    if (HasState(csDesigning)) component->FComponentState |= csDesigning;
    FComponents.push_back(component);
}

void TComponent::RemoveComponent(TComponent* component) {
    const auto it = std::find(FComponents.begin(), FComponents.end(), component);
    if (it == FComponents.end()) return;
    FComponents.erase(it);
    component->FOwner = nullptr;
    // A component told may free others: only those still owned are told.
    const std::vector<TComponent*> told = FComponents;
    for (TComponent* c : told)
        if (std::find(FComponents.begin(), FComponents.end(), c) != FComponents.end())
            c->Notification(component, true);
}

// ---------------------------------------------------------------------------------------------
// TStrings

TStrings::~TStrings() = default;

int TStrings::Add(const QString& s) {
    const int index = Count();
    Insert(index, s);
    return index;
}

void TStrings::AddStrings(const QStringList& lines) {
    BeginUpdate();
    try {
        for (const QString& line : lines)
            Add(line);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

int TStrings::IndexOf(const QString& s) const {
    for (int i = 0; i < Count(); ++i)
        if (Strings(i).compare(s, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void TStrings::Assign(const TStrings& source) {
    if (&source == this) return;
    SetStringList(source.ToStringList());
}

void TStrings::SetStringList(const QStringList& lines) {
    BeginUpdate();
    try {
        Clear();
        for (const QString& line : lines)
            Add(line);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

QStringList TStrings::ToStringList() const {
    QStringList lines;
    lines.reserve(Count());
    for (int i = 0; i < Count(); ++i)
        lines.append(Strings(i));
    return lines;
}

QString TStrings::Text() const {
    QString text;
    for (int i = 0; i < Count(); ++i) {
        text += Strings(i);
        text += QLatin1String("\r\n");
    }
    return text;
}

void TStrings::SetText(const QString& text) {
    // Statements are set here for every mandate of a run: the breaks are searched for, not
    // read for character by character.
    const QStringView view(text);
    const qsizetype n = text.size();
    qsizetype start = 0;
    qsizetype cr = view.indexOf(u'\r');
    qsizetype lf = view.indexOf(u'\n');
    // One line in place of one line, the statement's usual change: set where it stands, with
    // the same single pair of notifications and no list made and dropped in between.
    if (cr < 0 && lf < 0 && n > 0 && Count() == 1) {
        SetStrings(0, text);
        return;
    }
    QStringList lines;
    while (cr >= 0 || lf >= 0) {
        const qsizetype i = cr < 0 ? lf : lf < 0 ? cr : std::min(cr, lf);
        lines.append(text.mid(start, i - start));
        start = i + 1;
        // CR LF is one break.
        if (i == cr && start < n && text.at(start) == QLatin1Char('\n')) ++start;
        if (cr >= 0 && cr < start) cr = view.indexOf(u'\r', start);
        if (lf >= 0 && lf < start) lf = view.indexOf(u'\n', start);
    }
    if (start < n) lines.append(text.mid(start));
    SetStringList(lines);
}

QString TStrings::CommaText() const {
    QStringList quoted;
    for (int i = 0; i < Count(); ++i) {
        QString s = Strings(i);
        const bool needsQuotes =
            s.isEmpty() || std::any_of(s.begin(), s.end(), [](QChar c) {
                return c.unicode() <= ' ' || c == QLatin1Char(',') || c == QLatin1Char('"');
            });
        if (needsQuotes)
            s = QLatin1Char('"') + s.replace(QLatin1String("\""), QLatin1String("\"\"")) +
                QLatin1Char('"');
        quoted.append(s);
    }
    return quoted.join(QLatin1Char(','));
}

QString TStrings::Names(int index) const {
    const QString line = Strings(index);
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.left(eq);
}

QString TStrings::ValueFromIndex(int index) const {
    const QString line = Strings(index);
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.mid(eq + 1);
}

int TStrings::IndexOfName(const QString& name) const {
    for (int i = 0; i < Count(); ++i) {
        const QString line = Strings(i);
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && QStringView(line).left(eq).compare(name, Qt::CaseInsensitive) == 0) return i;
    }
    return -1;
}

QString TStrings::Values(const QString& name) const {
    const int i = IndexOfName(name);
    return i < 0 ? QString() : ValueFromIndex(i);
}

void TStrings::SetValues(const QString& name, const QString& value) {
    int i = IndexOfName(name);
    if (value.isEmpty()) {
        if (i >= 0) Delete(i);
        return;
    }
    if (i < 0)
        Add(name + QLatin1Char('=') + value);
    else
        SetStrings(i, name + QLatin1Char('=') + value);
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0) Changing();
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount == 0) return;
    if (--FUpdateCount == 0) Changed();
}

void TStrings::Changing() {
    if (FUpdateCount == 0 && OnChanging) OnChanging(this);
}

void TStrings::Changed() {
    if (FUpdateCount == 0 && OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------
// TStringList

void TStringList::CheckIndex(int index, int count) const {
    if (index < 0 || index >= count) RaiseListIndexError(index);
}

QString TStringList::Strings(int index) const {
    CheckIndex(index, Count());
    return FList.at(index);
}

void TStringList::SetStrings(int index, const QString& s) {
    CheckIndex(index, Count());
    Changing();
    FList[index] = s;
    Changed();
}

void TStringList::Insert(int index, const QString& s) {
    CheckIndex(index, Count() + 1);
    Changing();
    FList.insert(index, s);
    Changed();
}

void TStringList::Delete(int index) {
    CheckIndex(index, Count());
    Changing();
    FList.removeAt(index);
    Changed();
}

void TStringList::Clear() {
    if (FList.isEmpty()) return;
    Changing();
    FList.clear();
    Changed();
}

int TStringList::IndexOf(const QString& s) const {
    const Qt::CaseSensitivity cs = FCaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (int i = 0; i < Count(); ++i)
        if (FList.at(i).compare(s, cs) == 0) return i;
    return -1;
}
