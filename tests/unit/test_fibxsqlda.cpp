// Values of parameters and columns over areas described by hand, as the server would describe
// them: conversions, names, NULL, growth and the error messages.
#include "FIBXSQLDA.h"
#include "TestSupport.h"

#include "fib.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct TColumn {
    int type;
    int len;
    int scale = 0;
    const char* alias = "";
    bool nullable = false;
    int subtype = 0;
};

void Describe(TFIBXSQLVAR* v, const TColumn& c) {
    XSQLVAR* x = v->AsXSQLVAR();
    x->sqltype = ISC_SHORT(c.type | (c.nullable ? 1 : 0));
    x->sqllen = ISC_SHORT(c.len);
    x->sqlscale = ISC_SHORT(c.scale);
    x->sqlsubtype = ISC_SHORT(c.subtype);
    x->aliasname_length = ISC_SHORT(std::strlen(c.alias));
    std::memcpy(x->aliasname, c.alias, std::strlen(c.alias));
}

// A column list as a prepare leaves it: described, named and with buffers.
std::unique_ptr<TFIBXSQLDA> Columns(std::initializer_list<TColumn> columns, bool isParams = false) {
    auto list = std::make_unique<TFIBXSQLDA>(nullptr, isParams);
    list->SetCount(int(columns.size()));
    int i = 0;
    for (const TColumn& c : columns)
        Describe(list->Vars(i++), c);
    list->InitializeDescribed();
    return list;
}

template <typename T> void Put(TFIBXSQLVAR* v, T value) {
    std::memcpy(v->AsXSQLVAR()->sqldata, &value, sizeof value);
}

void PutVarying(TFIBXSQLVAR* v, const QByteArray& bytes) {
    const qint16 len = qint16(bytes.size());
    std::memcpy(v->AsXSQLVAR()->sqldata, &len, 2);
    std::memcpy(v->AsXSQLVAR()->sqldata + 2, bytes.constData(), size_t(bytes.size()));
}

QByteArray Bytes(TFIBXSQLVAR* v) {
    return QByteArray(v->AsXSQLVAR()->sqldata, v->Size());
}

} // namespace

TEST(FIBXSQLVAR, ScaledInt64ReadsAsExactDecimalWithSystemSeparator) {
    auto list = Columns({{SQL_INT64, 8, -2}, {SQL_INT64, 8, -4}, {SQL_INT64, 8, 0}});
    TFIBXSQLVAR* amount = list->Vars(0);

    Put<qint64>(amount, 1250);
    EXPECT_EQ(amount->AsString(), "12,5");
    EXPECT_EQ(amount->AsInteger(), 12);
    EXPECT_EQ(amount->AsInt64(), 12);
    EXPECT_DOUBLE_EQ(amount->AsDouble(), 12.5);
    EXPECT_EQ(amount->AsVariant().typeId(), QMetaType::Double);

    Put<qint64>(amount, -5);
    EXPECT_EQ(amount->AsString(), "-0,05");
    EXPECT_EQ(amount->AsInteger(), 0);
    Put<qint64>(amount, -1299);
    EXPECT_EQ(amount->AsString(), "-12,99");
    EXPECT_EQ(amount->AsInteger(), -12); // toward zero, never rounded
    Put<qint64>(amount, 100);
    EXPECT_EQ(amount->AsString(), "1");
    Put<qint64>(amount, std::numeric_limits<qint64>::min());
    EXPECT_EQ(amount->AsString(), "-92233720368547758,08");

    // Beyond what a double holds exactly.
    Put<qint64>(list->Vars(1), 123456789012345678);
    EXPECT_EQ(list->Vars(1)->AsString(), "12345678901234,5678");
    EXPECT_EQ(list->Vars(1)->AsInt64(), 12345678901234);

    // Scale 0: the integer, and AsInteger keeps the low 32 bits of a wider one.
    Put<qint64>(list->Vars(2), 0x100000005LL);
    EXPECT_EQ(list->Vars(2)->AsString(), "4294967301");
    EXPECT_EQ(list->Vars(2)->AsInteger(), 5);
    EXPECT_EQ(list->Vars(2)->AsVariant().typeId(), QMetaType::LongLong);

    FormatSettings().DecimalSeparator = QLatin1Char('.');
    EXPECT_EQ(amount->AsString(), "-92233720368547758.08");
    FormatSettings().DecimalSeparator = QLatin1Char(',');
}

TEST(FIBXSQLVAR, ScaledLongAndShortReadThroughTheirScale) {
    auto list = Columns({{SQL_LONG, 4, -6}, {SQL_SHORT, 2, -1}, {SQL_LONG, 4}, {SQL_LONG, 4}});
    Put<qint32>(list->Vars(0), 1000000); // NUMERIC(9,6) holding 1
    EXPECT_EQ(list->Vars(0)->AsInteger(), 1);
    EXPECT_EQ(list->Vars(0)->AsString(), "1");
    Put<qint32>(list->Vars(0), 1500000);
    EXPECT_EQ(list->Vars(0)->AsString(), "1,5");
    EXPECT_EQ(list->Vars(0)->AsInteger(), 1);

    Put<qint16>(list->Vars(1), -15);
    EXPECT_EQ(list->Vars(1)->AsString(), "-1,5");
    EXPECT_EQ(list->Vars(1)->AsInteger(), -1);
    EXPECT_EQ(list->Vars(1)->AsInt64(), -1);

    Put<qint32>(list->Vars(2), 70000);
    EXPECT_EQ(list->Vars(2)->AsShort(), qint16(70000 - 65536)); // cut to 16 bits
    EXPECT_EQ(list->Vars(2)->AsVariant().typeId(), QMetaType::Int);
    Put<qint32>(list->Vars(3), -42);
    EXPECT_EQ(list->Vars(3)->AsString(), "-42");
}

TEST(FIBXSQLVAR, FloatsFormatAndTruncate) {
    auto list = Columns({{SQL_DOUBLE, 8}, {SQL_FLOAT, 4}});
    TFIBXSQLVAR* d = list->Vars(0);
    Put<double>(d, 1.5);
    EXPECT_EQ(d->AsString(), "1,5");
    Put<double>(d, -2.7);
    EXPECT_EQ(d->AsInteger(), -2);
    EXPECT_EQ(d->AsInt64(), -2);
    Put<double>(d, 1e20);
    EXPECT_EQ(d->AsString(), "1E20");
    Put<double>(d, 0.00001);
    EXPECT_EQ(d->AsString(), "1E-5");
    Put<double>(d, 1e30);
    EXPECT_EQ(ClientErrorOf([&] { d->AsInt64(); }).Msg(), "Invalid data conversion.");
    Put<float>(list->Vars(1), 0.25f);
    EXPECT_DOUBLE_EQ(list->Vars(1)->AsDouble(), 0.25);
    EXPECT_EQ(list->Vars(1)->AsString(), "0,25");
}

TEST(FIBXSQLVAR, TextSetterFollowsTheServerType) {
    // A server parameter list: numeric, date, text and an exact numeric.
    auto params = Columns({{SQL_LONG, 4, 0, "", true},
                           {SQL_TYPE_DATE, 4, 0, "", true},
                           {SQL_VARYING, 30, 0, "", true},
                           {SQL_INT64, 8, -2, "", true}},
                          true);
    params->Vars(0)->SetAsString(QString());
    EXPECT_TRUE(params->Vars(0)->IsNull());
    params->Vars(1)->SetAsString(QString());
    EXPECT_TRUE(params->Vars(1)->IsNull());

    TFIBXSQLVAR* text = params->Vars(2);
    text->SetAsString(QString());
    EXPECT_FALSE(text->IsNull());
    EXPECT_EQ(text->SQLType(), SQL_TEXT);
    EXPECT_EQ(text->Size(), 0);

    const QString iban = QStringLiteral("FR7630006000011234567890189");
    text->SetAsString(iban);
    EXPECT_EQ(text->SQLType(), SQL_TEXT);
    EXPECT_EQ(text->Size(), 27);
    EXPECT_EQ(Bytes(text), iban.toLatin1());
    EXPECT_EQ(text->AsString(), iban);
    EXPECT_TRUE(text->IsNullable()); // the nullable flag survives a data store
    EXPECT_FALSE(text->IsNull());

    // The server reads the decimal mark as a full stop, whichever was typed.
    TFIBXSQLVAR* amount = params->Vars(3);
    amount->SetAsString(QStringLiteral("12,5"));
    EXPECT_EQ(amount->SQLType(), SQL_TEXT);
    EXPECT_EQ(Bytes(amount), "12.5");
    EXPECT_EQ(amount->AsString(), "12,5"); // the text as the user gave it
    amount->SetAsString(QStringLiteral("12.5"));
    EXPECT_EQ(Bytes(amount), "12.5");
    // On a text parameter the comma stays.
    text->SetAsString(QStringLiteral("12,5"));
    EXPECT_EQ(Bytes(text), "12,5");
    EXPECT_DOUBLE_EQ(text->AsDouble(), 12.5);
    text->SetAsString(QStringLiteral("12.5"));
    EXPECT_EQ(ClientErrorOf([&] { text->AsDouble(); }).Msg(), "Invalid data conversion.");

    // A text longer than a segment goes into a blob at execution.
    const QString big(40000, QLatin1Char('x'));
    text->SetAsString(big);
    EXPECT_EQ(text->SQLType(), SQL_BLOB);
    EXPECT_TRUE(text->HasStreamValue());
    EXPECT_EQ(text->StreamValue().size(), 40000);
    EXPECT_FALSE(text->IsNull());
    EXPECT_EQ(text->AsString(), big);
    text->SetIsNull(true);
    EXPECT_FALSE(text->HasStreamValue());
    EXPECT_TRUE(text->IsNull());
}

TEST(FIBXSQLVAR, TextsUseTheSingleByteCodePage) {
    auto list =
        Columns({{SQL_VARYING, 40, 0, "NOM", false, 21}, {SQL_TEXT, 10, 0, "CODE", false, 21}});
    TFIBXSQLVAR* name = list->Vars(0);
    name->SetAsString(QStringLiteral("Crédit d'Armor"));
    EXPECT_EQ(name->Size(), 14);
    EXPECT_EQ(quint8(name->AsXSQLVAR()->sqldata[2]), 0xE9);
    EXPECT_EQ(name->AsAnsiString(), QByteArray("Cr\xE9"
                                               "dit d'Armor"));

    // A character outside the code page is refused rather than sent as "?"; the value stays.
    for (const auto& [text, message] :
         {std::pair{S("5 €"), S("Character U+20AC at position 3 cannot")},
          std::pair{S("中"), S("Character U+4E2D at position 1 cannot")},
          std::pair{S("ÿ😀"), S("Character U+1F600 at position 2 cannot")},
          std::pair{S("a") + QChar(0xDC00), S("Character U+DC00 at position 2 cannot")}}) {
        EXPECT_EQ(ClientErrorOf([&] { name->SetAsString(text); }).Message(),
                  message + S(" be sent in the connection's character set."));
        EXPECT_EQ(name->AsString(), S("Crédit d'Armor"));
        EXPECT_EQ(Bytes(name), QByteArray("Cr\xE9"
                                          "dit d'Armor"));
    }
    name->SetAsString(S("ÿ\x01"));
    EXPECT_EQ(Bytes(name), "\xFF\x01");
    name->SetAsAnsiString("5 ?");
    EXPECT_EQ(name->AsString(), "5 ?");

    // Column buffers as a fetch leaves them.
    auto columns = Columns({{SQL_VARYING, 40}, {SQL_TEXT, 10}});
    PutVarying(columns->Vars(0), QByteArray("Cr\xE9"
                                            "dit"));
    EXPECT_EQ(columns->Vars(0)->AsString(), QStringLiteral("Crédit"));
    std::memcpy(columns->Vars(1)->AsXSQLVAR()->sqldata, "AB        ", 10);
    EXPECT_EQ(columns->Vars(1)->AsString(), "AB        "); // padded unless qoTrimCharFields
    TFIBQueryHooks hooks;
    hooks.TrimCharFields = [] { return true; };
    columns->SetQueryHooks(hooks);
    EXPECT_EQ(columns->Vars(1)->AsString(), "AB");
    std::memcpy(columns->Vars(1)->AsXSQLVAR()->sqldata, " 42       ", 10);
    EXPECT_EQ(columns->Vars(1)->AsInteger(), 42);
}

TEST(FIBXSQLDA, RepeatedParameterNamesShareTheirValue) {
    TFIBXSQLDA params(nullptr, true);
    params.SetCount(3);
    params.RegisterName(QStringLiteral("p0"), 0, false);
    params.RegisterName(QStringLiteral("P1"), 1, false);
    params.RegisterName(QStringLiteral("P0"), 2, false);
    EXPECT_EQ(params.EquelNames().count(QStringLiteral("P0")), 2u);
    EXPECT_EQ(params.EquelNames().count(QStringLiteral("P1")), 0u);
    EXPECT_EQ(params.Names(), QStringList({"P0", "P0", "P1"}));

    params.ParamByName(QStringLiteral("p0"))->SetAsString(QStringLiteral("Crédit"));
    for (int i : {0, 2}) {
        EXPECT_EQ(params.Vars(i)->SQLType(), SQL_TEXT);
        EXPECT_EQ(params.Vars(i)->AsString(), QStringLiteral("Crédit")) << i;
        EXPECT_TRUE(params.Vars(i)->Modified());
    }
    EXPECT_TRUE(params.Vars(1)->IsNull());
    EXPECT_FALSE(params.Vars(1)->Modified());

    params.Vars(2)->SetAsInteger(7);
    EXPECT_EQ(params.Vars(0)->SQLType(), SQL_LONG);
    EXPECT_EQ(params.Vars(0)->AsString(), "7"); // the remembered text went with the new value
    params.Vars(0)->SetIsNull(true);
    EXPECT_TRUE(params.Vars(2)->IsNull());

    EXPECT_TRUE(params.Modified());
    params.SetModified(false);
    EXPECT_FALSE(params.Modified());
}

TEST(FIBXSQLDA, LookupByNameAndItsCache) {
    TFIBXSQLDA params(nullptr, true);
    params.SetCount(3);
    params.RegisterName(QStringLiteral("cman_mandat"), 0, false);
    params.RegisterName(QStringLiteral("Mixed"), 1, true);
    EXPECT_EQ(params.Vars(0)->Name(), "CMAN_MANDAT");
    EXPECT_EQ(params.ParamByName(QStringLiteral("cman_mandat")), params.Vars(0));
    EXPECT_EQ(params.ByName(QStringLiteral("\"CMAN_MANDAT\"")), params.Vars(0));
    EXPECT_EQ(params.ByName(QStringLiteral("\"cman_mandat\"")), nullptr);
    EXPECT_EQ(params.ByName(QStringLiteral("Mixed")), params.Vars(1));
    EXPECT_EQ(params.ByName(QStringLiteral("\"Mixed\"")), params.Vars(1));
    EXPECT_EQ(params.ByName(QStringLiteral("MIXED")), nullptr);
    EXPECT_EQ(params.FindParam(QStringLiteral("mixed")), nullptr);

    // A name once found is answered from the cache, before the registered names.
    params.RegisterName(QStringLiteral("CMAN_MANDAT"), 2, true);
    EXPECT_EQ(params.ByName(QStringLiteral("cman_mandat")), params.Vars(0));
    EXPECT_EQ(params.ByName(QStringLiteral("CMAN_MANDAT")), params.Vars(0));
    // A new count forgets the names and the cache.
    params.SetCount(1);
    EXPECT_EQ(params.ByName(QStringLiteral("cman_mandat")), nullptr);

    try {
        params.ParamByName(QStringLiteral("P9"));
        FAIL() << "no exception";
    } catch (const EFIBError&) {
        FAIL() << "a plain exception is expected";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Parameter \"P9\" does not exist in ");
    }
}

TEST(FIBXSQLDA, ApplicationParametersFallBackOnTheServerList) {
    auto server = Columns({{SQL_LONG, 4, 0, "", true}, {SQL_VARYING, 10, 0, "", true}}, true);
    server->RegisterName(QStringLiteral("P0"), 0, false);
    server->RegisterName(QStringLiteral("ONLY_SRV"), 1, false);
    TFIBXSQLDA user(nullptr, true);
    bool prepared = false;
    TFIBQueryHooks hooks;
    hooks.Prepared = [&] { return prepared; };
    hooks.ServerParams = [&] { return server.get(); };
    user.SetQueryHooks(hooks);
    user.SetCount(1);
    user.RegisterName(QStringLiteral("P0"), 0, false);
    user.Vars(0)->SetIsNull(true);

    EXPECT_EQ(user.ByName(QStringLiteral("only_srv")), server->Vars(1));
    // Before the prepare the server type is unknown: an empty text stays a text.
    EXPECT_EQ(user.Vars(0)->ServerSQLType(), 0);
    user.Vars(0)->SetAsString(QString());
    EXPECT_FALSE(user.Vars(0)->IsNull());
    prepared = true;
    EXPECT_EQ(user.Vars(0)->ServerSQLType(), SQL_LONG);
    user.Vars(0)->SetAsString(QString());
    EXPECT_TRUE(user.Vars(0)->IsNull());
}

TEST(FIBXSQLDA, ErrorMessages) {
    auto list = Columns({{SQL_TIMESTAMP, 8}, {SQL_VARYING, 10}});
    EXPECT_EQ(ClientErrorOf([&] { list->Vars(-1); }).Msg(), "XSQLDA index out of range.");
    EXPECT_EQ(ClientErrorOf([&] { list->Vars(2); }).Msg(), "XSQLDA index out of range.");
    EXPECT_EQ(ClientErrorOf([&] { list->Vars(0)->AsInteger(); }).Msg(), "Invalid data conversion.");
    EXPECT_EQ(ClientErrorOf([&] { list->Vars(0)->AsDouble(); }).Msg(), "Invalid data conversion.");
    PutVarying(list->Vars(1), "abc");
    EXPECT_EQ(ClientErrorOf([&] { list->Vars(1)->AsInteger(); }).Msg(), "Invalid data conversion.");
    EXPECT_EQ(ClientErrorOf([&] { list->Vars(1)->AsDateTime(); }).Msg(),
              "Invalid data conversion.");

    // A failing setter leaves the value as it was.
    list->Vars(1)->SetAsInteger(5);
    EXPECT_EQ(ClientErrorOf([&] { list->Vars(1)->SetAsVariant(QVariantList{1}); }).Msg(),
              "Not permitted.");
    EXPECT_EQ(list->Vars(1)->AsInteger(), 5);

    TFIBXSQLDA bad(nullptr, false);
    bad.SetCount(2);
    Describe(bad.Vars(0), {SQL_LONG, 4});
    Describe(bad.Vars(1), {124, 4});
    EXPECT_EQ(ClientErrorOf([&] { bad.InitializeDescribed(); }).Msg(),
              "Unknown SQL Data type (124).");
    Describe(bad.Vars(1), {0, 0});
    EXPECT_EQ(ClientErrorOf([&] { bad.InitializeDescribed(); }).Msg(),
              "Unknown SQL Data type (0).");

    // Untyped entries belong to the application's parameters only.
    TFIBXSQLDA server(nullptr, true);
    TFIBXSQLDA user(nullptr, true);
    TFIBQueryHooks hooks;
    hooks.ServerParams = [&] { return &server; };
    user.SetQueryHooks(hooks);
    user.SetCount(1);
    EXPECT_NO_THROW(user.InitializeDescribed());
    EXPECT_TRUE(user.Vars(0)->IsNull());
}

TEST(FIBXSQLDA, AreaGrowsNeverShrinksAndKeepsItsObjects) {
    TFIBXSQLDA list(nullptr, true);
    EXPECT_EQ(list.AsXSQLDA(), nullptr);
    list.SetCount(2);
    TFIBXSQLVAR* first = list.Vars(0);
    first->SetAsString(QStringLiteral("garde"));
    list.Vars(1)->SetAsInteger(3);

    list.SetCount(40); // large enough that the area moves
    XSQLDA* area = list.AsXSQLDA();
    EXPECT_EQ(area->version, SQLDA_VERSION1);
    EXPECT_EQ(area->sqln, 40);
    EXPECT_EQ(area->sqld, 40);
    EXPECT_EQ(list.Vars(0), first);
    EXPECT_EQ(first->AsXSQLVAR(), &area->sqlvar[0]);
    EXPECT_EQ(list.Vars(39)->AsXSQLVAR(), &area->sqlvar[39]);
    EXPECT_EQ(first->AsString(), "garde");
    EXPECT_EQ(list.Vars(1)->AsInteger(), 3);
    EXPECT_EQ(area->sqlvar[39].sqltype, 0);
    EXPECT_EQ(area->sqlvar[39].sqldata, nullptr);
    TFIBXSQLVAR* last = list.Vars(39);
    last->SetAsInteger(39);

    list.SetCount(3);
    EXPECT_EQ(list.Size(), 40);
    EXPECT_EQ(list.AsXSQLDA(), area);
    EXPECT_EQ(area->sqln, 3);
    EXPECT_EQ(area->sqld, 3);
    EXPECT_EQ(ClientErrorOf([&] { list.Vars(39); }).Msg(), "XSQLDA index out of range.");
    EXPECT_EQ(list.RecordSize(), qint32(XSQLDA_LENGTH(40)) + 4);

    list.SetCount(40);
    EXPECT_EQ(list.Vars(39), last);
    EXPECT_EQ(last->AsInteger(), 39);

    list.SetCount(0);
    EXPECT_EQ(list.AsXSQLDA(), area);
    EXPECT_EQ(area->sqln, 0);
    EXPECT_EQ(area->sqld, 0);
}

TEST(FIBXSQLDA, DescribedColumnsAreNamedUniquely) {
    auto list = Columns({{SQL_LONG, 4, 0, "ID"},
                         {SQL_LONG, 4, 0, ""},
                         {SQL_LONG, 4, 0, "ID"},
                         {SQL_LONG, 4, 0, ""},
                         {SQL_LONG, 4, 0, "Nom"},
                         {SQL_LONG, 4, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
                         {SQL_LONG, 4, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"}});
    EXPECT_EQ(list->Vars(0)->Name(), "ID");
    EXPECT_EQ(list->Vars(1)->Name(), "F_1");
    EXPECT_EQ(list->Vars(2)->Name(), "ID1");
    EXPECT_EQ(list->Vars(3)->Name(), "F_2");
    EXPECT_EQ(list->Vars(4)->Name(), "Nom"); // case kept
    EXPECT_EQ(list->ByName(QStringLiteral("nom")), nullptr);
    EXPECT_EQ(list->Vars(6)->Name(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012341");
    EXPECT_EQ(list->Vars(2)->AliasName(), "ID1");
    EXPECT_EQ(list->Vars(3)->AsXSQLVAR()->aliasname_length, 3);
    EXPECT_EQ(list->ByName(QStringLiteral("id1")), list->Vars(2));
}

TEST(FIBXSQLVAR, NullFollowsFlagIndicatorAndRows) {
    auto list = Columns({{SQL_LONG, 4, 0, "A", true}, {SQL_LONG, 4, 0, "B", false}});
    TFIBXSQLVAR* a = list->Vars(0);
    TFIBXSQLVAR* b = list->Vars(1);
    EXPECT_EQ(*a->AsXSQLVAR()->sqlind, 0);
    EXPECT_EQ(b->AsXSQLVAR()->sqlind, nullptr);
    EXPECT_TRUE(a->IsNullable());
    EXPECT_FALSE(b->IsNullable());
    Put<qint32>(a, 9);
    *a->AsXSQLVAR()->sqlind = -1;
    EXPECT_TRUE(a->IsNull());
    EXPECT_EQ(a->AsInteger(), 0);
    EXPECT_EQ(a->AsString(), "");
    EXPECT_EQ(a->AsPointer(), nullptr);
    EXPECT_TRUE(a->AsVariant().isNull());
    EXPECT_TRUE(a->AsVariant().isValid()); // NULL, not unassigned
    EXPECT_EQ(a->AsDateTime(), QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC));
    *a->AsXSQLVAR()->sqlind = 0;
    EXPECT_EQ(a->AsInteger(), 9);

    // A non-nullable column is never NULL by its indicator, but becomes nullable to hold NULL.
    EXPECT_FALSE(b->IsNull());
    b->SetIsNull(true);
    EXPECT_TRUE(b->IsNullable());
    EXPECT_EQ(*b->AsXSQLVAR()->sqlind, -1);
    b->SetIsNullable(false);
    EXPECT_EQ(b->AsXSQLVAR()->sqlind, nullptr);
    EXPECT_FALSE(b->IsNull());

    // Before the first row of a select every column reads NULL; an executed procedure's do not.
    qint32 rows = 0;
    bool procedure = false;
    TFIBQueryHooks hooks;
    hooks.RecordCount = [&] { return rows; };
    hooks.IsExecProcedure = [&] { return procedure; };
    list->SetQueryHooks(hooks);
    EXPECT_TRUE(a->IsNull());
    procedure = true;
    EXPECT_FALSE(a->IsNull());
    procedure = false;
    rows = 1;
    EXPECT_FALSE(a->IsNull());

    // An untyped parameter is NULL; setting NULL makes it a nullable empty text.
    TFIBXSQLDA params(nullptr, true);
    params.SetCount(1);
    EXPECT_TRUE(params.Vars(0)->IsNull());
    params.Vars(0)->SetIsNull(true);
    EXPECT_EQ(params.Vars(0)->AsXSQLVAR()->sqltype, SQL_TEXT | 1);
    EXPECT_EQ(*params.Vars(0)->AsXSQLVAR()->sqlind, -1);
}

TEST(FIBXSQLVAR, DatesConvertBetweenServerAndProgram) {
    auto list = Columns({{SQL_TIMESTAMP, 8}, {SQL_TYPE_DATE, 4}, {SQL_TYPE_TIME, 4}});
    // 15 March 2024 is day 60384 for the server and 45366 in the day count.
    ISC_TIMESTAMP ts{60384, 378152500};
    Put(list->Vars(0), ts);
    const QDateTime expected(QDate(2024, 3, 15), QTime(10, 30, 15, 250), Qt::UTC);
    EXPECT_EQ(list->Vars(0)->AsDateTime(), expected);
    EXPECT_EQ(list->Vars(0)->AsString(), "15/03/2024 10:30:15");
    EXPECT_EQ(list->Vars(0)->AsTimeStamp().Date, 60384 + 678576);
    EXPECT_EQ(list->Vars(0)->AsTimeStamp().Time, 37815250);
    EXPECT_DOUBLE_EQ(DateTimeToDayCount(expected), 45366 + 37815250.0 / 86400000.0);
    EXPECT_EQ(list->Vars(0)->AsVariant().typeId(), QMetaType::QDateTime);

    Put<ISC_DATE>(list->Vars(1), 60384);
    EXPECT_EQ(list->Vars(1)->AsDate(), QDate(2024, 3, 15));
    EXPECT_EQ(list->Vars(1)->AsString(), "15/03/2024");
    Put<ISC_TIME>(list->Vars(2), 378152500);
    EXPECT_EQ(list->Vars(2)->AsString(), "10:30:15");

    TFIBXSQLDA params(nullptr, true);
    params.SetCount(2);
    params.Vars(0)->SetAsDateTime(expected);
    EXPECT_EQ(params.Vars(0)->SQLType(), SQL_TIMESTAMP);
    ISC_TIMESTAMP stored;
    std::memcpy(&stored, params.Vars(0)->AsXSQLVAR()->sqldata, sizeof stored);
    EXPECT_EQ(stored.timestamp_date, 60384);
    EXPECT_EQ(stored.timestamp_time, 378152500u);
    params.Vars(0)->SetAsDate(QDate(2024, 3, 15));
    EXPECT_EQ(params.Vars(0)->AsString(), "15/03/2024");
    params.Vars(1)->SetAsString(QStringLiteral("15/03/2024 10:30:15"));
    EXPECT_EQ(params.Vars(1)->AsDateTime(), expected.addMSecs(-250));

    // Before day zero the fraction still counts forward from midnight.
    const QDateTime early(QDate(1899, 12, 29), QTime(6, 0), Qt::UTC);
    EXPECT_DOUBLE_EQ(DateTimeToDayCount(early), -1.25);
    EXPECT_EQ(DayCountToDateTime(-1.25), early);
}

TEST(FIBXSQLVAR, VariantsChooseTheStoredType) {
    TFIBXSQLDA params(nullptr, true);
    params.SetCount(1);
    TFIBXSQLVAR* p = params.Vars(0);
    struct Case {
        QVariant value;
        int type;
    };
    for (const Case& c :
         {Case{QVariant(5), SQL_LONG}, Case{QVariant(true), SQL_LONG},
          Case{QVariant(qlonglong(1) << 40), SQL_INT64}, Case{QVariant(4000000000u), SQL_INT64},
          Case{QVariant(2.5), SQL_DOUBLE}, Case{QVariant(QStringLiteral("x")), SQL_TEXT},
          Case{QVariant(QByteArray("\xE9")), SQL_TEXT},
          Case{QVariant(QDate(2024, 1, 2)), SQL_TIMESTAMP}}) {
        p->SetAsVariant(c.value);
        EXPECT_EQ(p->SQLType(), c.type) << c.value.typeName();
        EXPECT_FALSE(p->IsNull());
    }
    EXPECT_EQ(p->AsDate(), QDate(2024, 1, 2));
    // Without a server description the current type stands for it: a number on a timestamp
    // entry is taken as a day count.
    p->SetAsVariant(QVariant(qlonglong(45366)));
    EXPECT_EQ(p->SQLType(), SQL_TIMESTAMP);
    EXPECT_EQ(p->AsDate(), QDate(2024, 3, 15));
    p->SetAsVariant(QVariant(QStringLiteral("x")));
    p->SetAsVariant(QVariant(qlonglong(1) << 40));
    EXPECT_EQ(p->AsVariant(), QVariant(qlonglong(1) << 40));
    p->SetAsVariant(QVariant(QByteArray("\xE9")));
    EXPECT_EQ(p->AsVariant(), QVariant(QStringLiteral("é")));
    p->SetAsVariant(QVariant());
    EXPECT_TRUE(p->IsNull());
    p->SetAsCurrency(12.34);
    EXPECT_EQ(p->SQLType(), SQL_INT64);
    EXPECT_EQ(p->Scale(), -4);
    EXPECT_EQ(p->AsString(), "12,34");

    // A number for a date parameter is a day count.
    auto server = Columns({{SQL_TYPE_DATE, 4, 0, "", true}}, true);
    server->Vars(0)->SetAsVariant(45366.0);
    EXPECT_EQ(server->Vars(0)->AsDate(), QDate(2024, 3, 15));

    auto flags = Columns({{SQL_IB_BOOLEAN, 2}, {SQL_ARRAY, 8}});
    Put<qint16>(flags->Vars(0), 1);
    EXPECT_EQ(flags->Vars(0)->AsVariant(), QVariant(true));
    EXPECT_EQ(flags->Vars(0)->AsString(), "True");
    EXPECT_EQ(flags->Vars(1)->AsVariant(), QVariant(QStringLiteral("(Array)")));
    EXPECT_EQ(flags->Vars(1)->AsString(), "(ARRAY)");
}

TEST(FIBXSQLDA, AssignAndAssignValuesGoByName) {
    TFIBXSQLDA user(nullptr, true);
    user.SetCount(4);
    user.RegisterName(QStringLiteral("P0"), 0, false);
    user.RegisterName(QStringLiteral("P1"), 1, false);
    user.RegisterName(QStringLiteral("P2"), 2, false);
    user.RegisterName(QStringLiteral("P3"), 3, false);
    user.Vars(0)->SetAsString(QStringLiteral("Crédit"));
    user.Vars(1)->SetAsInteger(42);
    user.Vars(2)->SetIsNull(true);
    user.Vars(3)->SetAsInt64(1250);
    user.Vars(3)->SetScale(-2);

    // The server list in another order, after its description.
    auto server = Columns({{SQL_LONG, 4, 0, "", true},
                           {SQL_VARYING, 20, 0, "", true},
                           {SQL_INT64, 8, -2, "", true},
                           {SQL_VARYING, 20, 0, "", true}},
                          true);
    server->RegisterName(QStringLiteral("P1"), 0, false);
    server->RegisterName(QStringLiteral("P0"), 1, false);
    server->RegisterName(QStringLiteral("P3"), 2, false);
    server->RegisterName(QStringLiteral("P2"), 3, false);
    server->Vars(3)->SetAsString(QStringLiteral("ancien"));

    server->AssignValues(&user);
    EXPECT_EQ(server->Vars(0)->AsInteger(), 42);
    EXPECT_EQ(server->Vars(1)->AsString(), QStringLiteral("Crédit"));
    EXPECT_EQ(server->Vars(2)->SQLType(), SQL_INT64);
    EXPECT_EQ(server->Vars(2)->AsString(), "12,5");
    EXPECT_TRUE(server->Vars(3)->IsNull());

    // Assign copies layout and bytes; a NULL source makes the target NULL.
    TFIBXSQLVAR* target = user.Vars(1);
    target->Assign(server->Vars(2));
    EXPECT_EQ(target->SQLType(), SQL_INT64);
    EXPECT_EQ(target->Scale(), -2);
    EXPECT_EQ(target->AsString(), "12,5");
    target->Assign(server->Vars(3));
    EXPECT_TRUE(target->IsNull());
}

TEST(FIBXSQLDA, ClearValuesAndMacros) {
    TFIBXSQLDA params(nullptr, true);
    params.SetCount(2);
    params.RegisterName(QStringLiteral("ORDRE"), 0, false);
    params.RegisterName(QStringLiteral("P0"), 1, false);
    TFIBXSQLVAR* macro = params.Vars(0);
    macro->SetIsMacro(true);
    macro->SetDefMacroValue(QStringLiteral("1"));
    bool macroChanged = false;
    TFIBQueryHooks hooks;
    hooks.MacroChanged = [&] { return macroChanged; };
    hooks.SetMacroChanged = [&] { macroChanged = true; };
    params.SetQueryHooks(hooks);

    macro->SetAsString(QStringLiteral("1"));
    EXPECT_TRUE(macroChanged); // from no value to "1"
    macroChanged = false;
    macro->SetAsString(QStringLiteral("1"));
    EXPECT_FALSE(macroChanged);
    macro->SetAsString(QStringLiteral("BANQ_SOCIETE"));
    EXPECT_TRUE(macroChanged);
    EXPECT_FALSE(macro->IsNull());
    EXPECT_EQ(macro->AsVariant(), QVariant(QStringLiteral("BANQ_SOCIETE")));

    params.Vars(1)->SetAsInteger(3);
    params.ClearValues();
    EXPECT_EQ(macro->AsString(), "1");
    EXPECT_TRUE(params.Vars(1)->IsNull());
}
