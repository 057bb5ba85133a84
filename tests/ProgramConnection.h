// The main window's connection and writing-transaction settings, for tests that need the
// program's own objects without its window.
#pragma once

#include "MotDePasse.h"
#include "pFIBDatabase.h"

inline void ConfigureProgramConnection(
    TFIBDatabase& db, const QString& name = QStringLiteral("127.0.0.1:TALVIK_GESTION")) {
    db.SetDBName(name);
    db.DBParams().Clear();
    db.DBParams().Add(QStringLiteral("user_name=SYSDBA"));
    db.DBParams().Add(QStringLiteral("lc_ctype=ISO8859_1"));
    db.DBParams().Add(QStringLiteral("password=") + MotDePasseGestion());
    db.SetLibraryName(QStringLiteral("fbClient.dll"));
    db.SetSQLDialect(3);
}

// transLocale: read committed with record versions, never waiting on locks.
inline void ConfigureProgramWriteTransaction(TpFIBTransaction& tr, TFIBDatabase* db) {
    tr.SetDefaultDatabase(db);
    tr.SetTPBMode(tpbDefault);
    tr.TRParams().SetStringList({QStringLiteral("write"), QStringLiteral("nowait"),
                                 QStringLiteral("rec_version"), QStringLiteral("read_committed")});
    tr.SetTimeoutAction(TACommit);
}
