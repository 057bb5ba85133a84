#include "Programme.h"

#include "MotDePasse.h"
#include "SysUtils.h"

QString ProgramDatabaseName() {
    return QStringLiteral("127.0.0.1:TALVIK_GESTION");
}

QString ProgramLibraryName() {
    return QStringLiteral("fbClient.dll");
}

QStringList ProgramConnectParams(const QString& password) {
    return {QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=ISO8859_1"),
            QStringLiteral("password=") + password};
}

QStringList ProgramReadTransactionParams() {
    return {QStringLiteral("write"), QStringLiteral("nowait"), QStringLiteral("concurrency")};
}

QStringList ProgramWriteTransactionParams() {
    return {QStringLiteral("write"), QStringLiteral("nowait"), QStringLiteral("rec_version"),
            QStringLiteral("read_committed")};
}

void SetProgramConnectParams(TFIBDatabase& db, const QString& password, const QString& name) {
    db.SetDBName(name);
    // Line by line, as the window always did: each line is a change the connection is told of.
    db.DBParams().Clear();
    for (const QString& line : ProgramConnectParams(password))
        db.DBParams().Add(line);
    db.SetLibraryName(ProgramLibraryName());
}

void ConfigureProgramConnection(TFIBDatabase& db, const QString& name) {
    db.SetSQLDialect(ProgramSQLDialect);
    SetProgramConnectParams(db, MotDePasseGestion(), name);
}

namespace {

void ConfigureProgramTransaction(TpFIBTransaction& tr, TFIBDatabase* db, const QStringList& lines) {
    tr.SetDefaultDatabase(db);
    tr.TRParams().SetStringList(lines);
    tr.SetTimeoutAction(TACommit);
    tr.SetTPBMode(tpbDefault);
}

} // namespace

void ConfigureProgramReadTransaction(TpFIBTransaction& tr, TFIBDatabase* db) {
    ConfigureProgramTransaction(tr, db, ProgramReadTransactionParams());
}

void ConfigureProgramWriteTransaction(TpFIBTransaction& tr, TFIBDatabase* db) {
    ConfigureProgramTransaction(tr, db, ProgramWriteTransactionParams());
}

QString QuotedSQL(const QString& value) {
    QString inner = value;
    inner.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

QString ModifierSQL(const QString& mandateId) {
    return QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = :P0, CMAN_BIC = :P1, "
                          "CMAN_IDBANQ = :P2 WHERE CMAN_ID = ") +
           mandateId;
}

QString RecreerDeactivateSQL(const QString& mandateId) {
    return QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_ACTIF = 0 WHERE CMAN_ID = ") + mandateId;
}

QString RecreerInsertSQL(const QString& mandateId, qint64 newBankId, const QString& newIban,
                         const QString& newBic, const QString& newBankName) {
    return QStringLiteral(
               "INSERT INTO CLIENTS_MANDAT (CMAN_ID,CMAN_IDCLI,CMAN_ACTIF,CMAN_SIGNATURE,"
               "CMAN_IDBANQ,CMAN_IBAN,CMAN_BIC,CMAN_MANDAT,CMAN_PAYEUR,CMAN_NOMBANQUE,"
               "CMAN_ADRESSE1,CMAN_ADRESSE2,CMAN_CPVILLE,CMAN_CREATION_IDCTR) SELECT NEXT VALUE "
               "FOR IDGENERIQUE,CMAN_IDCLI,-1,CURRENT_DATE,") +
           IntToStr(newBankId) + QLatin1Char(',') + QuotedSQL(newIban) + QLatin1Char(',') +
           QuotedSQL(newBic) + QStringLiteral(",:CMAN_MANDAT,CMAN_PAYEUR,") +
           QuotedSQL(newBankName) +
           QStringLiteral(",CMAN_ADRESSE1,CMAN_ADRESSE2,CMAN_CPVILLE,CMAN_CREATION_IDCTR "
                          "FROM CLIENTS_MANDAT WHERE CMAN_ID = ") +
           mandateId;
}

QString RecreerReference(const QString& oldReference) {
    constexpr int MaxReferenceLength = 35;
    return (oldReference + QLatin1Char('N')).left(MaxReferenceLength);
}
