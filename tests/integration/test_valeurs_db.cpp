// Values crossing between the server and the program through datasets and statements, held
// against what the server itself says of them: fields whose class or size differ from their
// column's, and texts on a Unicode connection.
#include "Programme.h"
#include "ServerRows.h"
#include "TestSupport.h"
#include "fib.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include "ServerTestMain.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class ValuesTest : public ::testing::Test {
protected:
    TpFIBDatabase db;
    TpFIBTransaction tr;
    TpFIBDataSet ds;

    // The program's connection, with another character set when one is named.
    void Connect(const QString& charSet = QString()) {
        ConfigureProgramConnection(db);
        if (!charSet.isEmpty()) {
            const QStringList lines = db.DBParams().Text().split(QLatin1Char('\n'));
            db.DBParams().Clear();
            for (QString line : lines) {
                line = line.trimmed();
                if (line.isEmpty()) continue;
                if (line.startsWith(S("lc_ctype="))) line = S("lc_ctype=") + charSet;
                db.DBParams().Add(line);
            }
        }
        OpenForLists(db, tr, ds);
    }
    void TearDown() override {
        ds.Close();
        if (tr.Active()) tr.Rollback();
        if (db.Connected()) db.Close();
    }
};

TEST_F(ValuesTest, SmallIntegerFieldsOnIntegerColumnsNeverReadAnotherNumber) {
    Connect();
    // A small-integer field defined on a column the server declares INTEGER: a value within
    // 16 bits reads as the server has it; a larger one is refused, never read as another number.
    auto* small = new TFIBSmallIntField(&ds);
    small->SetFieldName(S("PETIT"));
    small->SetDataSet(&ds);
    auto* large = new TFIBSmallIntField(&ds);
    large->SetFieldName(S("GRAND"));
    large->SetDataSet(&ds);
    const QString sql =
        S("SELECT CAST(-1234 AS INTEGER) AS PETIT, CAST(100000 AS INTEGER) AS GRAND "
          "FROM RDB$DATABASE");
    ASSERT_EQ(RowsOf(db, sql), QStringList({S("-1234|100000")}));
    ds.SelectSQL().SetText(sql);
    ds.Open();
    EXPECT_EQ(small->AsInteger(), -1234);
    EXPECT_EQ(small->AsString(), S("-1234"));
    EXPECT_FALSE(large->IsNull());
    EXPECT_THROW(large->AsInteger(), EDatabaseError);
    EXPECT_THROW(large->AsString(), EDatabaseError);
}

TEST_F(ValuesTest, TextFieldsDefinedOnAPreparedSelectReadTheirColumnsWhole) {
    Connect();
    // A text field defined once the select is prepared reads its column's whole value.
    const QString longText = QString(90, QLatin1Char('x')) + S("é");
    ds.SelectSQL().SetText(
        S("SELECT CAST('%1' AS VARCHAR(100)) AS NP FROM RDB$DATABASE").arg(longText));
    ds.Prepare();
    auto* np = new TFIBStringField(&ds);
    np->SetFieldName(S("NP"));
    np->SetDataSet(&ds);
    ds.Open();
    EXPECT_EQ(np->AsString().toStdString(), longText.toStdString());
    // A size set smaller while the rows are shown cuts what the field shows, nothing else.
    np->SetSize(10);
    EXPECT_EQ(np->AsString().toStdString(), longText.left(10).toStdString());
}

TEST_F(ValuesTest, UnicodeConnectionTextsReachTheServerWhole) {
    Connect(S("UTF8"));
    // A character beyond the 16-bit plane takes four bytes in UTF-8; the server must get the
    // nine bytes the text is made of, as it sees them itself.
    TOwnStatement s(db, S("SELECT CAST(CAST(:P AS VARCHAR(10) CHARACTER SET UTF8) AS "
                          "VARCHAR(40) CHARACTER SET OCTETS), "
                          "CHAR_LENGTH(CAST(:P AS VARCHAR(10) CHARACTER SET UTF8)) "
                          "FROM RDB$DATABASE"));
    s.q.Prepare();
    const QString text = S("é€😀");
    s.q.ParamByName(S("P"))->SetAsString(text);
    s.q.ExecQuery();
    EXPECT_EQ(QString::fromLatin1(s.q.Fields(0)->AsAnsiString().toHex()),
              QString::fromLatin1(text.toUtf8().toHex()));
    EXPECT_EQ(s.q.Fields(1)->AsInteger(), 3);
    s.q.Close();
    s.tr.Commit();
}

TEST_F(ValuesTest, UnicodeFixedTextsKeepTheirDeclaredLength) {
    Connect(S("UTF8"));
    // A CHAR in UTF8 arrives padded to its length in bytes; its value is what the server holds,
    // blanks up to the declared number of characters, as its own concatenation shows.
    const QString fixed = S("SELECT CAST('é' AS CHAR(3) CHARACTER SET UTF8) AS C3, "
                            "CAST('é€' AS CHAR(10) CHARACTER SET UTF8) AS C10 FROM RDB$DATABASE");
    const QString concatenated = S("SELECT C3 || '|', C10 || '|' FROM (%1)").arg(fixed);
    ASSERT_EQ(RowsOf(db, concatenated), QStringList({S("é  ||é€        |")}));
    const QStringList read = RowsOf(db, fixed);
    ASSERT_EQ(read.size(), 1);
    EXPECT_EQ(read.at(0).toStdString(), S("é  |é€        ").toStdString());
    ds.SelectSQL().SetText(fixed);
    ds.Open();
    EXPECT_EQ(ds.FieldByName(S("C3"))->AsString().toStdString(), S("é  ").toStdString());
}

TEST_F(ValuesTest, NumbersReachTheServerAsGivenOrNotAtAll) {
    Connect();
    // The server's own text of what a parameter brought: a value the column can hold arrives
    // whole; one it cannot is refused here, never sent as another number.
    const auto sent = [&](const QString& type, const std::function<void(TFIBXSQLVAR*)>& set) {
        TOwnStatement s(
            db, S("SELECT CAST(CAST(:A AS %1) AS VARCHAR(40)) FROM RDB$DATABASE").arg(type));
        s.q.Prepare();
        set(s.q.ParamByName(S("A")));
        s.q.ExecQuery();
        const QString text = s.q.Fields(0)->AsString();
        s.q.Close();
        s.tr.Commit();
        return text.toStdString();
    };
    // A currency amount near the top of its range still fits its 64 bits of ten-thousandths.
    EXPECT_EQ(sent(S("NUMERIC(18,4)"), [](TFIBXSQLVAR* p) { p->SetAsCurrency(921000000000000.0); }),
              "921000000000000.0000");
    EXPECT_EQ(
        sent(S("NUMERIC(18,4)"), [](TFIBXSQLVAR* p) { p->SetAsCurrency(-921000000000000.0); }),
        "-921000000000000.0000");
    EXPECT_THROW(sent(S("NUMERIC(18,4)"), [](TFIBXSQLVAR* p) { p->SetAsCurrency(1e15); }),
                 EFIBClientError);
    // An unsigned 64-bit value past the signed range has no BIGINT to be.
    EXPECT_EQ(
        sent(S("BIGINT"),
             [](TFIBXSQLVAR* p) { p->SetAsVariant(QVariant(quint64(9223372036854775807ull))); }),
        "9223372036854775807");
    EXPECT_THROW(
        sent(S("BIGINT"),
             [](TFIBXSQLVAR* p) { p->SetAsVariant(QVariant(quint64(9223372036854775808ull))); }),
        EFIBClientError);
}

TEST_F(ValuesTest, RenamedColumnsKeepTheirLettersOnAUnicodeConnection) {
    Connect(S("UTF8"));
    // Two columns of one name: the second is told apart by a number, its letters unchanged,
    // and both read the values the server gives in that order.
    ds.SelectSQL().SetText(S("SELECT 1 AS \"CAFÉ\", 2 AS \"CAFÉ\", 3 AS \"ÉTÉ\", 4 AS \"ÉTÉ\" "
                             "FROM RDB$DATABASE"));
    ds.Open();
    QStringList names;
    for (int i = 0; i < ds.FieldCount(); ++i)
        names << ds.Fields(i)->FieldName();
    EXPECT_EQ(names.join(QLatin1Char('|')).toStdString(), "CAFÉ|CAFÉ1|ÉTÉ|ÉTÉ1");
    TField* second = ds.FindField(S("CAFÉ1"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->AsInteger(), 2);
    TField* fourth = ds.FindField(S("ÉTÉ1"));
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(fourth->AsInteger(), 4);
}

} // namespace

int main(int argc, char** argv) {
    return RunServerTests(argc, argv);
}
