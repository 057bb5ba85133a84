// The runtime under the database layer and the windows: message formatting, the system's
// integer parsing, the code page, string lists and owned components.
#include "Classes.h"
#include "SysUtils.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>

namespace {} // namespace

// ---------------------------------------------------------------------------------------------
// Format

TEST(Format, TextAndDecimal) {
    EXPECT_EQ(Format(QStringLiteral("Table %s : %d lignes"), QStringLiteral("BANQUE"), 3),
              QStringLiteral("Table BANQUE : 3 lignes"));
    EXPECT_EQ(Format(QStringLiteral("%d"), -42), QStringLiteral("-42"));
    EXPECT_EQ(Format(QStringLiteral("%d"), std::numeric_limits<qint64>::min()),
              QStringLiteral("-9223372036854775808"));
    EXPECT_EQ(Format(QStringLiteral("%d"), qint64(1) << 40), QStringLiteral("1099511627776"));
    EXPECT_EQ(Format(QStringLiteral("%.5d"), -42), QStringLiteral("-00042"));
    EXPECT_EQ(Format(QStringLiteral("100%%")), QStringLiteral("100%"));
    EXPECT_EQ(Format(QStringLiteral("%d%%"), 5), QStringLiteral("5%"));
    EXPECT_EQ(Format(QStringLiteral("sans argument")), QStringLiteral("sans argument"));
}

TEST(Format, Hexadecimal) {
    EXPECT_EQ(Format(QStringLiteral("%x"), 255), QStringLiteral("FF"));
    EXPECT_EQ(Format(QStringLiteral("%x"), qint32(-1)), QStringLiteral("FFFFFFFF"));
    EXPECT_EQ(Format(QStringLiteral("%x"), qint32(-335544320)), QStringLiteral("EC000000"));
    EXPECT_EQ(Format(QStringLiteral("%x"), qint64(-1)), QStringLiteral("FFFFFFFFFFFFFFFF"));
    EXPECT_EQ(Format(QStringLiteral("%.8x"), 0x1F), QStringLiteral("0000001F"));
    EXPECT_EQ(Format(QStringLiteral("%-8.8x|"), 0x1F), QStringLiteral("0000001F|"));
    EXPECT_EQ(Format(QStringLiteral("%-8.8x|"), qint32(-2)), QStringLiteral("FFFFFFFE|"));
    EXPECT_EQ(Format(QStringLiteral("%-8.8x|"), 0), QStringLiteral("00000000|"));
}

TEST(Format, WidthAlignmentAndPrecision) {
    EXPECT_EQ(Format(QStringLiteral("[%5d]"), 42), QStringLiteral("[   42]"));
    EXPECT_EQ(Format(QStringLiteral("[%-5d]"), 42), QStringLiteral("[42   ]"));
    EXPECT_EQ(Format(QStringLiteral("[%5s]"), QStringLiteral("ab")), QStringLiteral("[   ab]"));
    EXPECT_EQ(Format(QStringLiteral("[%-5s]"), QStringLiteral("ab")), QStringLiteral("[ab   ]"));
    // width never truncates, precision on text does
    EXPECT_EQ(Format(QStringLiteral("[%2d]"), 12345), QStringLiteral("[12345]"));
    EXPECT_EQ(Format(QStringLiteral("[%.3s]"), QStringLiteral("abcdef")), QStringLiteral("[abc]"));
    EXPECT_EQ(Format(QStringLiteral("[%5.2s]"), QStringLiteral("abc")), QStringLiteral("[   ab]"));
    EXPECT_EQ(Format(QStringLiteral("[%.10s]"), QStringLiteral("abc")), QStringLiteral("[abc]"));
}

TEST(Format, MissingOrMismatchedArgumentsRaise) {
    EXPECT_THROW(Format(QStringLiteral("%d et %d"), 1), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("%s")), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("%d"), QStringLiteral("12")), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("%x"), QStringLiteral("12")), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("%s"), 12), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("100%"), 12), EConvertError);
}

// ---------------------------------------------------------------------------------------------
// Integer parsing

TEST(StrToInt, AcceptsWhatTheSystemAccepts) {
    EXPECT_EQ(StrToInt(QStringLiteral("0")), 0);
    EXPECT_EQ(StrToInt(QStringLiteral("  12")), 12);
    EXPECT_EQ(StrToInt(QStringLiteral("-12")), -12);
    EXPECT_EQ(StrToInt(QStringLiteral("+12")), 12);
    EXPECT_EQ(StrToInt(QStringLiteral(" -007")), -7);
    EXPECT_EQ(StrToInt(QStringLiteral("$1F")), 31);
    EXPECT_EQ(StrToInt(QStringLiteral("0x1F")), 31);
    EXPECT_EQ(StrToInt(QStringLiteral("x1f")), 31);
    EXPECT_EQ(StrToInt(QStringLiteral("-$1F")), -31);
    EXPECT_EQ(StrToInt(QStringLiteral("2147483647")), 2147483647);
    EXPECT_EQ(StrToInt(QStringLiteral("-2147483648")), std::numeric_limits<qint32>::min());
    // a hexadecimal value may fill the whole width and reads as its two's complement
    EXPECT_EQ(StrToInt(QStringLiteral("$FFFFFFFF")), -1);
    EXPECT_EQ(StrToInt(QStringLiteral("-$80000000")), std::numeric_limits<qint32>::min());

    EXPECT_EQ(StrToInt64(QStringLiteral("9223372036854775807")),
              std::numeric_limits<qint64>::max());
    EXPECT_EQ(StrToInt64(QStringLiteral("-9223372036854775808")),
              std::numeric_limits<qint64>::min());
    EXPECT_EQ(StrToInt64(QStringLiteral(" 4294967296")), qint64(1) << 32);
    EXPECT_EQ(StrToInt64(QStringLiteral("$FFFFFFFFFFFFFFFF")), -1);
    EXPECT_EQ(StrToInt64(QStringLiteral("-$8000000000000000")), std::numeric_limits<qint64>::min());
}

TEST(StrToInt, RejectsEverythingElse) {
    EXPECT_EQ(ConvertErrorOf([] { StrToInt(QStringLiteral("abc")); }),
              QStringLiteral("'abc' n'est pas une valeur entière correcte"));
    EXPECT_EQ(ConvertErrorOf([] { StrToInt64(QStringLiteral("12 ")); }),
              QStringLiteral("'12 ' n'est pas une valeur entière correcte"));

    for (const char* bad : {"", " ", "-", "+", "$", "x", "0x", "12 ", "1 2", "- 1", "1.5", "1e3",
                            "$G", "--1", "2147483648", "-2147483649", "$100000000", "\t1"}) {
        EXPECT_THROW(StrToInt(QLatin1String(bad)), EConvertError) << '"' << bad << '"';
    }
    for (const char* bad : {"", "12 ", "9223372036854775808", "-9223372036854775809",
                            "$10000000000000000", "99999999999999999999"}) {
        EXPECT_THROW(StrToInt64(QLatin1String(bad)), EConvertError) << '"' << bad << '"';
    }
    // only ASCII digits are digits
    EXPECT_THROW(StrToInt(QStringLiteral("\uFF11\uFF12")), EConvertError);
    EXPECT_EQ(StrToIntDef(QStringLiteral("abc"), -5), -5);
}

// ---------------------------------------------------------------------------------------------
// Trim, format settings, code page, exceptions

TEST(Trim, RemovesBlanksAndControlCharactersOnly) {
    EXPECT_EQ(Trim(QStringLiteral("  a b  ")), QStringLiteral("a b"));
    EXPECT_EQ(Trim(QStringLiteral("\t\r\n\x01x\x1F ")), QStringLiteral("x"));
    EXPECT_EQ(Trim(QStringLiteral("   ")), QString());
    EXPECT_EQ(Trim(QString()), QString());
    // a no-break space is text, not a blank
    EXPECT_EQ(Trim(QStringLiteral("\u00A0a\u00A0")), QStringLiteral("\u00A0a\u00A0"));
}

TEST(FormatSettingsTest, FrenchDefaultsAndRestore) {
    TFormatSettings& fs = FormatSettings();
    EXPECT_EQ(fs.DecimalSeparator, QLatin1Char(','));
    EXPECT_EQ(fs.ThousandSeparator, QLatin1Char(' '));
    EXPECT_EQ(fs.ShortDateFormat, QStringLiteral("dd/mm/yyyy"));
    EXPECT_EQ(fs.LongTimeFormat, QStringLiteral("hh:nn:ss"));
    EXPECT_EQ(Format(QStringLiteral("%.2f"), 1.5), QStringLiteral("1,50"));

    const TFormatSettings saved = fs;
    fs.DecimalSeparator = QLatin1Char('.');
    EXPECT_EQ(&FormatSettings(), &fs); // one process-wide object
    EXPECT_EQ(Format(QStringLiteral("%.2f"), 1.5), QStringLiteral("1.50"));
    fs = saved;
    EXPECT_EQ(Format(QStringLiteral("%.2f"), 1.5), QStringLiteral("1,50"));
}

TEST(CodePage, Latin1RoundTripAndReplacement) {
    const QString name = QStringLiteral("Crédit d'Armor");
    const QByteArray bytes = StringToAnsi(name);
    EXPECT_EQ(bytes, QByteArray("Cr\xE9"
                                "dit d'Armor"));
    EXPECT_EQ(AnsiToString(bytes), name);
    EXPECT_EQ(AnsiToString(bytes.constData(), 3), QStringLiteral("Cré"));
    EXPECT_EQ(StringToAnsi(QStringLiteral("5 €")), QByteArray("5 ?"));
    EXPECT_EQ(AnsiToString(QByteArray("\xFF\x80", 2)), QStringLiteral("\u00FF\u0080"));
}

TEST(ExceptionTest, WhatIsUtf8OfTheMessage) {
    EConvertError e(QStringLiteral("'é' n'est pas une valeur entière correcte"));
    const std::exception& base = e;
    EXPECT_STREQ(base.what(), "'\xC3\xA9' n'est pas une valeur enti\xC3\xA8re correcte");
    e.SetMessage(QStringLiteral("Clé"));
    EXPECT_STREQ(base.what(), "Cl\xC3\xA9");
    EXPECT_EQ(e.Message(), QStringLiteral("Clé"));

    EXPECT_THROW(Abort(), EAbort);
    const EOSError os(QStringLiteral("Accès refusé"), 5);
    EXPECT_EQ(os.ErrorCode(), 5);
}

// ---------------------------------------------------------------------------------------------
// TStringList

TEST(StringList, TextJoinsAndSplitsLines) {
    TStringList list;
    EXPECT_EQ(list.Text(), QString());
    list.Add(QStringLiteral("USER_NAME=SYSDBA"));
    list.Add(QString());
    list.Add(QStringLiteral("lc_ctype=ISO8859_1"));
    EXPECT_EQ(list.Text(), QStringLiteral("USER_NAME=SYSDBA\r\n\r\nlc_ctype=ISO8859_1\r\n"));

    list.SetText(QStringLiteral("a\r\nb\nc\rd"));
    EXPECT_EQ(list.ToStringList(), QStringList({"a", "b", "c", "d"}));
    list.SetText(QStringLiteral("a\r\n"));
    EXPECT_EQ(list.ToStringList(), QStringList({"a"}));
    list.SetText(QStringLiteral("a\n\nb\r\n\r\n"));
    EXPECT_EQ(list.ToStringList(), QStringList({"a", "", "b", ""}));
    // LF then CR is two line ends, not one
    list.SetText(QStringLiteral("a\n\rb"));
    EXPECT_EQ(list.ToStringList(), QStringList({"a", "", "b"}));
    list.SetText(QStringLiteral("a\r\r\nb\n\n\r"));
    EXPECT_EQ(list.ToStringList(), QStringList({"a", "", "b", "", ""}));
    list.SetText(QStringLiteral("\r\n"));
    EXPECT_EQ(list.ToStringList(), QStringList({""}));
    list.SetText(QString());
    EXPECT_EQ(list.Count(), 0);

    list.SetText(QStringLiteral("x\ry"));
    EXPECT_EQ(list.Text(), QStringLiteral("x\r\ny\r\n"));
}

// Whatever the list held, a new text is announced once before and once after, and not at all
// inside an update.
TEST(StringList, SetTextNotifiesOnce) {
    TStringList list;
    int changing = 0, changed = 0;
    QStringList seen;
    list.OnChanging = [&](TObject*) { ++changing; };
    list.OnChange = [&](TObject*) {
        ++changed;
        seen << list.Text();
    };
    const QStringList texts = {"SELECT 1", "SELECT 2", "a\r\nb", "c", "", "d", "d", "e\n"};
    for (const QString& t : texts)
        list.SetText(t);
    EXPECT_EQ(changing, texts.size());
    EXPECT_EQ(changed, texts.size());
    EXPECT_EQ(seen, QStringList({"SELECT 1\r\n", "SELECT 2\r\n", "a\r\nb\r\n", "c\r\n", "", "d\r\n",
                                 "d\r\n", "e\r\n"}));
    list.BeginUpdate();
    list.SetText(QStringLiteral("f"));
    list.SetText(QStringLiteral("g\rh"));
    list.SetText(QStringLiteral("i"));
    EXPECT_EQ(changed, texts.size());
    list.EndUpdate();
    EXPECT_EQ(changed, texts.size() + 1);
    EXPECT_EQ(seen.last(), QStringLiteral("i\r\n"));
}

TEST(StringList, NamesAndValuesIgnoreCase) {
    TStringList list;
    list.SetText(QStringLiteral("user_name=SYSDBA\nsans valeur\nPassword=a=b\nLC_CTYPE="));
    EXPECT_EQ(list.Names(0), QStringLiteral("user_name"));
    EXPECT_EQ(list.Names(1), QString());
    EXPECT_EQ(list.ValueFromIndex(2), QStringLiteral("a=b"));
    EXPECT_EQ(list.IndexOfName(QStringLiteral("USER_NAME")), 0);
    EXPECT_EQ(list.IndexOfName(QStringLiteral("lc_ctype")), 3);
    EXPECT_EQ(list.IndexOfName(QStringLiteral("sans valeur")), -1);
    EXPECT_EQ(list.Values(QStringLiteral("PASSWORD")), QStringLiteral("a=b"));
    EXPECT_EQ(list.Values(QStringLiteral("absent")), QString());

    list.SetValues(QStringLiteral("USER_NAME"), QStringLiteral("ADMIN"));
    EXPECT_EQ(list[0], QStringLiteral("USER_NAME=ADMIN"));
    EXPECT_EQ(list.Count(), 4);
    list.SetValues(QStringLiteral("sql_role_name"), QStringLiteral("R"));
    EXPECT_EQ(list[4], QStringLiteral("sql_role_name=R"));
    list.SetValues(QStringLiteral("password"), QString()); // an empty value removes the line
    EXPECT_EQ(list.IndexOfName(QStringLiteral("password")), -1);
    EXPECT_EQ(list.Count(), 4);

    EXPECT_EQ(list.IndexOf(QStringLiteral("SANS VALEUR")), 1);
    EXPECT_THROW(list.Strings(4), Exception);
    EXPECT_THROW(list.Delete(-1), Exception);
}

namespace {

// Records the notifications of a list together with its line count at that moment, so that
// "before" and "after" the change can be told apart.
struct ChangeLog {
    QStringList entries;
    bool refuse = false;

    void Attach(TStringList& list) {
        list.OnChanging = [this, &list](TObject* sender) {
            EXPECT_EQ(sender, &list);
            entries << QStringLiteral("changing %1").arg(list.Count());
            if (refuse) throw Exception(QStringLiteral("refusé"));
        };
        list.OnChange = [this, &list](TObject* sender) {
            EXPECT_EQ(sender, &list);
            entries << QStringLiteral("change %1").arg(list.Count());
        };
    }
    QStringList Take() {
        QStringList taken = entries;
        entries.clear();
        return taken;
    }
};

} // namespace

TEST(StringList, NotifiesEachChangeOnce) {
    TStringList list;
    ChangeLog log;
    log.Attach(list);

    list.Clear(); // nothing to clear, nothing to announce
    EXPECT_EQ(log.Take(), QStringList());

    list.Add(QStringLiteral("a"));
    EXPECT_EQ(log.Take(), QStringList({"changing 0", "change 1"}));
    list.SetStrings(0, QStringLiteral("b"));
    EXPECT_EQ(log.Take(), QStringList({"changing 1", "change 1"}));
    list.Delete(0);
    EXPECT_EQ(log.Take(), QStringList({"changing 1", "change 0"}));

    list.SetText(QStringLiteral("a\nb\nc"));
    EXPECT_EQ(log.Take(), QStringList({"changing 0", "change 3"}));
    TStringList other(QStringList({"x", "y"}));
    list.Assign(other);
    EXPECT_EQ(log.Take(), QStringList({"changing 3", "change 2"}));
    EXPECT_EQ(list.ToStringList(), QStringList({"x", "y"}));

    list.BeginUpdate();
    list.Add(QStringLiteral("z"));
    list.Delete(0);
    list.EndUpdate();
    EXPECT_EQ(log.Take(), QStringList({"changing 2", "change 2"}));

    list.Clear();
    EXPECT_EQ(log.Take(), QStringList({"changing 2", "change 0"}));
}

TEST(StringList, RefusedChangeLeavesListAsItWas) {
    TStringList list(QStringList({"a", "b"}));
    ChangeLog log;
    log.Attach(list);
    log.refuse = true;
    const QStringList before = list.ToStringList();

    EXPECT_THROW(list.Add(QStringLiteral("c")), Exception);
    EXPECT_THROW(list.Insert(0, QStringLiteral("c")), Exception);
    EXPECT_THROW(list.SetStrings(0, QStringLiteral("c")), Exception);
    EXPECT_THROW(list.Delete(1), Exception);
    EXPECT_THROW(list.Clear(), Exception);
    EXPECT_THROW(list.SetText(QStringLiteral("c")), Exception);
    EXPECT_THROW(list.Assign(TStringList(QStringList({"c"}))), Exception);
    EXPECT_THROW(list.SetValues(QStringLiteral("n"), QStringLiteral("v")), Exception);
    EXPECT_EQ(list.ToStringList(), before);
    EXPECT_FALSE(log.entries.contains(QStringLiteral("change 2")));
    EXPECT_EQ(list.UpdateCount(), 0);

    // a refused bracket must not leave the list silenced
    log.refuse = false;
    log.Take();
    list.Add(QStringLiteral("c"));
    EXPECT_EQ(log.Take(), QStringList({"changing 2", "change 3"}));
}

// ---------------------------------------------------------------------------------------------
// TComponent

namespace {

// A component that writes what happens to it into a shared log.
class Probe : public TComponent {
public:
    Probe(TComponent* owner, const QString& name, QStringList& log) : TComponent(owner), FLog(log) {
        SetName(name);
    }
    ~Probe() override {
        QString entry = QStringLiteral("free ") + Name();
        if (HasState(csDestroying)) entry += QStringLiteral(" destroying");
        if (Owner() && Owner()->HasState(csDestroying))
            entry += QStringLiteral(" owner-destroying");
        FLog << entry;
    }

    std::function<void()> OnLoaded;

protected:
    void Loaded() override {
        QString entry = QStringLiteral("loaded ") + Name();
        if (Owner() && Owner()->HasState(csLoading)) entry += QStringLiteral(" owner-loading");
        FLog << entry;
        TComponent::Loaded();
        if (OnLoaded) OnLoaded();
    }
    void Notification(TComponent* component, bool removing) override {
        if (removing) FLog << Name() + QStringLiteral(" forgets ") + component->Name();
    }

private:
    QStringList& FLog;
};

} // namespace

TEST(Component, OwnerFreesItsComponentsLastCreatedFirst) {
    QStringList log;
    auto* root = new TComponent;
    new Probe(root, QStringLiteral("a"), log);
    new Probe(root, QStringLiteral("b"), log);
    new Probe(root, QStringLiteral("c"), log);
    ASSERT_EQ(root->ComponentCount(), 3);
    EXPECT_EQ(root->Components(1)->Owner(), root);

    delete root;
    EXPECT_EQ(
        log.filter(QStringLiteral("free")),
        QStringList({"free c destroying owner-destroying", "free b destroying owner-destroying",
                     "free a destroying owner-destroying"}));
}

TEST(Component, ComponentFreedAloneLeavesItsOwner) {
    QStringList log;
    TComponent root;
    auto* a = new Probe(&root, QStringLiteral("a"), log);
    auto* b = new Probe(&root, QStringLiteral("b"), log);
    auto* c = new Probe(&root, QStringLiteral("c"), log);

    delete b;
    EXPECT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(root.Components(0), a);
    EXPECT_EQ(root.Components(1), c);
    EXPECT_EQ(root.FindComponent(QStringLiteral("b")), nullptr);
    EXPECT_FALSE(root.HasState(csDestroying));
    // the owner is not going away, so b sees no destroying owner; its siblings are told
    const QStringList freed = log.filter(QStringLiteral("free"));
    ASSERT_EQ(freed.size(), 1);
    EXPECT_TRUE(freed[0].startsWith(QStringLiteral("free b")));
    EXPECT_FALSE(freed[0].contains(QStringLiteral("owner-destroying")));
    EXPECT_TRUE(log.contains(QStringLiteral("a forgets b")));
    EXPECT_TRUE(log.contains(QStringLiteral("c forgets b")));
}

TEST(Component, NamesAreUniqueAndFoundIgnoringCase) {
    QStringList log;
    TComponent root;
    auto* db = new Probe(&root, QStringLiteral("dbSource"), log);
    auto* other = new Probe(&root, QString(), log);

    EXPECT_EQ(root.FindComponent(QStringLiteral("DBSOURCE")), db);
    EXPECT_EQ(root.FindComponent(QStringLiteral("dbSourc")), nullptr);
    EXPECT_EQ(root.FindComponent(QString()), nullptr);

    try {
        other->SetName(QStringLiteral("DBSource"));
        ADD_FAILURE() << "duplicate name accepted";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("DBSource"))) << e.what();
    }
    EXPECT_EQ(other->Name(), QString());

    db->SetName(QStringLiteral("DBSOURCE")); // its own name in another case is no duplicate
    EXPECT_EQ(db->Name(), QStringLiteral("DBSOURCE"));
    // names are unique per owner only
    TComponent otherRoot;
    Probe same(&otherRoot, QStringLiteral("dbsource"), log);
    EXPECT_EQ(otherRoot.FindComponent(QStringLiteral("DBSOURCE")), &same);
}

TEST(Component, LoadingMarksEverythingThenLoadsInCreationOrderRootLast) {
    QStringList log;
    Probe root(nullptr, QStringLiteral("root"), log);
    auto* a = new Probe(&root, QStringLiteral("a"), log);
    auto* a1 = new Probe(a, QStringLiteral("a1"), log);

    root.BeginLoading();
    EXPECT_TRUE(root.HasState(csLoading));
    EXPECT_TRUE(a->HasState(csLoading));
    EXPECT_TRUE(a1->HasState(csLoading));
    // what the window definition creates after it began is loading too
    auto* b = new Probe(&root, QStringLiteral("b"), log);
    auto* b1 = new Probe(b, QStringLiteral("b1"), log);
    EXPECT_TRUE(b->HasState(csLoading));
    EXPECT_TRUE(b1->HasState(csLoading));
    EXPECT_TRUE(log.isEmpty());

    root.EndLoading();
    EXPECT_EQ(log,
              QStringList({"loaded a1 owner-loading", "loaded a owner-loading",
                           "loaded b1 owner-loading", "loaded b owner-loading", "loaded root"}));
    for (TComponent* c : std::initializer_list<TComponent*>{&root, a, a1, b, b1})
        EXPECT_FALSE(c->HasState(csLoading)) << c->Name().toStdString();

    // a component created after loading is not loading
    Probe late(&root, QStringLiteral("late"), log);
    EXPECT_FALSE(late.HasState(csLoading));
}

TEST(Component, LoadedMayFreeALaterSibling) {
    QStringList log;
    TComponent root;
    auto* a = new Probe(&root, QStringLiteral("a"), log);
    auto* b = new Probe(&root, QStringLiteral("b"), log);
    new Probe(&root, QStringLiteral("c"), log);
    root.BeginLoading();
    a->OnLoaded = [b] { delete b; };
    root.EndLoading();
    EXPECT_EQ(log.filter(QStringLiteral("loaded")),
              QStringList({"loaded a owner-loading", "loaded c owner-loading"}));
    EXPECT_EQ(root.ComponentCount(), 2);
}

// What a Loaded handler creates while its owner is still loading is loading too, so it must be
// loaded with the rest rather than stay half-made.
TEST(Component, ComponentCreatedByLoadedIsLoadedToo) {
    QStringList log;
    Probe root(nullptr, QStringLiteral("root"), log);
    auto* a = new Probe(&root, QStringLiteral("a"), log);
    Probe* made = nullptr;
    Probe* inner = nullptr;
    a->OnLoaded = [&] {
        made = new Probe(&root, QStringLiteral("made"), log);
        inner = new Probe(made, QStringLiteral("inner"), log);
    };
    root.BeginLoading();
    root.EndLoading();
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->HasState(csLoading) == false && inner->HasState(csLoading) == false)
        << log.join(QStringLiteral(", ")).toStdString();
    EXPECT_EQ(log, QStringList({"loaded a owner-loading", "loaded inner owner-loading",
                                "loaded made owner-loading", "loaded root"}));
    EXPECT_FALSE(root.HasState(csLoading));
}

namespace {

// Frees another component when told that one of its siblings goes, as a component that keeps a
// helper for the one that disappeared does.
class Releaser : public TComponent {
public:
    using TComponent::TComponent;
    TComponent* ToFree = nullptr;
    QStringList* Log = nullptr;

protected:
    void Notification(TComponent* component, bool removing) override {
        if (Log) *Log << Name() + QStringLiteral(" forgets ") + component->Name();
        if (removing && ToFree) {
            TComponent* victim = ToFree;
            ToFree = nullptr;
            delete victim;
        }
    }
};

} // namespace

TEST(Component, NotificationMayFreeASibling) {
    QStringList log;
    TComponent root;
    auto* gone = new Probe(&root, QStringLiteral("gone"), log);
    auto* releaser = new Releaser(&root);
    releaser->SetName(QStringLiteral("releaser"));
    releaser->Log = &log;
    new Probe(&root, QStringLiteral("kept"), log);
    releaser->ToFree = new Probe(&root, QStringLiteral("last"), log);

    delete gone;
    EXPECT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(log.count(QStringLiteral("kept forgets gone")), 1);
    EXPECT_FALSE(log.contains(QStringLiteral("last forgets gone")));
    EXPECT_TRUE(log.contains(QStringLiteral("free last")));
}

// A text kept for its buffer may be given its own value, or a part of it (a trimmed text).
TEST(SysUtils, AssignKeptFromItselfKeepsTheText) {
    const auto kept = [] {
        QString s = QStringLiteral("  SELECT 1");
        s.reserve(64);
        return s;
    };
    QString whole = kept();
    AssignKept(whole, whole);
    EXPECT_EQ(whole, QStringLiteral("  SELECT 1"));

    QString part = kept();
    AssignKept(part, QStringView(part).mid(2));
    EXPECT_EQ(part, QStringLiteral("SELECT 1"));
}

TEST(SysUtils, AsciiCaseLeavesEveryOtherLetterAsTyped) {
    EXPECT_EQ(AsciiUpperCase(QString::fromUtf8("iso8859_1 éàz@[`{")),
              QString::fromUtf8("ISO8859_1 éàZ@[`{"));
    EXPECT_EQ(AsciiLowerCase(QString::fromUtf8("ISO8859_1 ÉÀZ@[`{")),
              QString::fromUtf8("iso8859_1 ÉÀz@[`{"));
}
