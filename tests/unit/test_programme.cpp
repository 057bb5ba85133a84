// The program's statements, as the bank change run sends them, and its connection lines.
#include "Programme.h"

#include <gtest/gtest.h>

namespace {

QString S(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

TEST(Programme, ChangeRunStatementsAreTheProgramsTexts) {
    const QString inchange = S(" AND CMAN_IBAN IS NOT DISTINCT FROM :ATTENDU_IBAN AND CMAN_BIC IS "
                               "NOT DISTINCT FROM :ATTENDU_BIC AND CMAN_IDBANQ IS NOT DISTINCT "
                               "FROM :ATTENDU_BANQUE");
    EXPECT_EQ(ModifierSQL(S("1234")),
              S("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = :P0, CMAN_BIC = :P1, CMAN_IDBANQ = :P2 "
                "WHERE CMAN_ID = 1234") +
                  inchange);
    EXPECT_EQ(RecreerDeactivateSQL(S("77")),
              S("UPDATE CLIENTS_MANDAT SET CMAN_ACTIF = 0 WHERE CMAN_ID = 77 AND CMAN_ACTIF = -1") +
                  inchange);
    // An identifier past 32 bits keeps all its digits; quotes inside values are doubled, and a
    // colon inside a quoted value stays text.
    EXPECT_EQ(RecreerInsertSQL(S("77"), 4294967301LL, S("FR7630004000031234567890143"),
                               S("BNPA'FRPP"), S("CRÉDIT D':ARMOR '?x'")),
              S("INSERT INTO CLIENTS_MANDAT (CMAN_ID,CMAN_IDCLI,CMAN_ACTIF,CMAN_SIGNATURE,"
                "CMAN_IDBANQ,CMAN_IBAN,CMAN_BIC,CMAN_MANDAT,CMAN_PAYEUR,CMAN_NOMBANQUE,"
                "CMAN_ADRESSE1,CMAN_ADRESSE2,CMAN_CPVILLE,CMAN_CREATION_IDCTR) SELECT NEXT VALUE "
                "FOR IDGENERIQUE,CMAN_IDCLI,-1,CURRENT_DATE,4294967301,"
                "'FR7630004000031234567890143','BNPA''FRPP',:CMAN_MANDAT,CMAN_PAYEUR,"
                "'CRÉDIT D'':ARMOR ''?x''',CMAN_ADRESSE1,CMAN_ADRESSE2,CMAN_CPVILLE,"
                "CMAN_CREATION_IDCTR FROM CLIENTS_MANDAT WHERE CMAN_ID = 77"));
    EXPECT_EQ(QuotedSQL(QString()), S("''"));

    const QString full(35, QLatin1Char('R'));
    EXPECT_EQ(RecreerReference(full), full);
    EXPECT_EQ(RecreerReference(full.left(34)), full.left(34) + S("N"));
    EXPECT_EQ(RecreerReference(QString()), S("N"));
}

TEST(Programme, ConnectionAndTransactionLines) {
    EXPECT_EQ(ProgramDatabaseName(), S("127.0.0.1:TALVIK_GESTION"));
    EXPECT_EQ(ProgramLibraryName(), S("fbClient.dll"));
    EXPECT_EQ(ProgramConnectParams(S("pw")),
              QStringList({S("user_name=SYSDBA"), S("lc_ctype=ISO8859_1"), S("password=pw")}));

    TpFIBDatabase db;
    db.SetSQLDialect(1);
    ConfigureProgramConnection(db, S("elsewhere:X"));
    EXPECT_EQ(db.DBName(), S("elsewhere:X"));
    EXPECT_EQ(db.SQLDialect(), 3);
    EXPECT_EQ(db.DBParams().Count(), 3);

    TpFIBTransaction read;
    TpFIBTransaction write;
    ConfigureProgramReadTransaction(read, &db);
    ConfigureProgramWriteTransaction(write, &db);
    EXPECT_EQ(read.TRParams().ToStringList(),
              QStringList({S("write"), S("nowait"), S("concurrency")}));
    EXPECT_EQ(write.TRParams().ToStringList(),
              QStringList({S("write"), S("nowait"), S("rec_version"), S("read_committed")}));
    EXPECT_EQ(write.TimeoutAction(), TACommit);
    EXPECT_EQ(write.DefaultDatabase(), &db);
}

TEST(Programme, NewIbanKeepsTheAccountAndRefusesPiecesOfTheWrongLength) {
    // The worked example: branch kept, key 4, check digits 76.
    EXPECT_EQ(NouvelIbanFrancais(S("12345"), QString(), S("FR7699999678901234567890123")),
              S("FR7612345678901234567890104"));
    // A typed branch code replaces the IBAN's own.
    EXPECT_EQ(NouvelIbanFrancais(S("12345"), S("11111"), S("FR7699999678901234567890123")),
              NouvelIbanFrancais(S("12345"), QString(), S("FR7699999111111234567890123")));
    // A piece of the wrong length gives no IBAN, even when the lengths add up to a RIB's.
    EXPECT_EQ(NouvelIbanFrancais(S("1234"), QString(), S("FR7699999678901234567890123")),
              QString());
    EXPECT_EQ(NouvelIbanFrancais(S("1234"), S("111111"), S("FR7699999678901234567890123")),
              QString());
    EXPECT_EQ(NouvelIbanFrancais(S("12345"), QString(), S("FR769999967890123456789")), QString());
}
