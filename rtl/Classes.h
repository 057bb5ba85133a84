// The component runtime the database layer and the windows stand on: objects, owned
// components with their loading states, and string lists that announce their changes.
#pragma once

#include "SysUtils.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject();
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

enum TComponentStateFlag : unsigned {
    csLoading = 1u << 0,
    csDesigning = 1u << 1,
    csDestroying = 1u << 2,
};
using TComponentState = unsigned;

// Raises the runtime's error for an index outside a list: "Index de liste hors limites (%d)".
[[noreturn]] void RaiseListIndexError(int index);

// A component belongs to its owner, which destroys it (the last created first) before it goes
// itself. Names are unique among the components of one owner.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    ~TComponent() override;

    const QString& Name() const { return FName; }
    void SetName(const QString& name);
    TComponent* Owner() const { return FOwner; }

    int ComponentCount() const { return int(FComponents.size()); }
    TComponent* Components(int index) const;
    TComponent* FindComponent(const QString& name) const;

    TComponentState ComponentState() const { return FComponentState; }
    bool HasState(TComponentStateFlag flag) const { return (FComponentState & flag) != 0; }
    void SetDesigning(bool value);

    // The window definition: BeginLoading marks the component and everything it owns (also
    // what it creates afterwards, until EndLoading) as loading; EndLoading then calls Loaded on
    // the owned components in creation order and last on the component itself.
    void BeginLoading();
    void EndLoading();

protected:
    // Called once the definition has set every stored property; clears csLoading.
    virtual void Loaded();
    // Marks the component and what it owns as being destroyed. TComponent's destructor calls
    // it before the owned components go; by then a subclass's own destructor has already run,
    // so a subclass that must look like it is being destroyed while it cleans up calls
    // Destroying() first thing in its destructor (it may be called more than once).
    virtual void Destroying();
    // Told when a component that this one may refer to is about to disappear.
    virtual void Notification(TComponent* AComponent, bool removing);

    void DestroyComponents();

private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

    QString FName;
    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    TComponentState FComponentState = 0;
};

// A list of text lines with change notifications. OnChanging fires before and OnChange after
// every change made outside an update bracket; a bracket fires each once. A handler of
// OnChanging may refuse a change by raising: the list is then left as it was.
class TStrings : public TObject {
public:
    ~TStrings() override;

    virtual int Count() const = 0;
    virtual QString Strings(int index) const = 0;
    virtual void SetStrings(int index, const QString& s) = 0;
    virtual void Insert(int index, const QString& s) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;

    QString operator[](int index) const { return Strings(index); }
    int Add(const QString& s);
    void AddStrings(const QStringList& lines);
    virtual int IndexOf(const QString& s) const;
    virtual void Assign(const TStrings& source);
    void SetStringList(const QStringList& lines);
    QStringList ToStringList() const;

    // Every line followed by CR LF.
    QString Text() const;
    // Splits at CR LF, LF or CR; a final line end adds no empty line.
    void SetText(const QString& text);
    QString CommaText() const;

    // Lines of the form name=value.
    QString Names(int index) const;
    QString ValueFromIndex(int index) const;
    int IndexOfName(const QString& name) const;
    QString Values(const QString& name) const;
    void SetValues(const QString& name, const QString& value);

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

protected:
    virtual void Changing();
    virtual void Changed();

private:
    int FUpdateCount = 0;
};

class TStringList : public TStrings {
public:
    TStringList() = default;
    explicit TStringList(const QStringList& lines) : FList(lines) {}

    int Count() const override { return int(FList.size()); }
    QString Strings(int index) const override;
    void SetStrings(int index, const QString& s) override;
    void Insert(int index, const QString& s) override;
    void Delete(int index) override;
    void Clear() override;

    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool value) { FCaseSensitive = value; }
    int IndexOf(const QString& s) const override;

private:
    void CheckIndex(int index, int count) const;

    QStringList FList;
    bool FCaseSensitive = false;
};
