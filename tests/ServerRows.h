// Reading the database back from a test's own second connection.
#pragma once

#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QString>
#include <QStringList>

// A statement on db in a transaction of its own, started, the statement's text set; the caller
// runs it and ends the transaction. A text sent as it is (`paramCheck` false) keeps a block's
// ":I", which names its own variable.
struct TOwnStatement {
    TOwnStatement(TpFIBDatabase& db, const QString& sql, bool paramCheck = true) {
        tr.SetDefaultDatabase(&db);
        tr.StartTransaction();
        q.SetDatabase(&db);
        q.SetTransaction(&tr);
        q.SetParamCheck(paramCheck);
        q.SQL().SetText(sql);
    }
    TpFIBTransaction tr;
    TpFIBQuery q;
};

// db opened as configured, tr started on it (read-only, read committed), and ds bound to both
// with the program's own options for its lists.
inline void OpenForLists(TpFIBDatabase& db, TpFIBTransaction& tr, TpFIBDataSet& ds) {
    db.SetSynchronizeTime(false);
    db.Open(true);
    tr.SetDefaultDatabase(&db);
    tr.SetTPBMode(tpbDefault);
    tr.TRParams().SetStringList({QStringLiteral("read"), QStringLiteral("nowait"),
                                 QStringLiteral("rec_version"), QStringLiteral("read_committed")});
    tr.StartTransaction();
    ds.SetName(QStringLiteral("idsEssai"));
    ds.SetDatabase(&db);
    ds.SetTransaction(&tr);
    for (const char* name :
         {"poUseBooleanField", "poImportDefaultValues", "poGetOrderInfo", "poEmptyStrToNull",
          "oTrimCharFields", "oRefreshAfterPost", "oStartTransaction", "oAutoFormatFields"})
        ds.SetStoredOption(QString::fromLatin1(name), false);
}

// The rows of a select, read in a transaction of their own: each row's columns joined by "|",
// a null as "-".
inline QStringList RowsOf(TpFIBDatabase& db, const QString& sql) {
    TOwnStatement s(db, sql);
    s.q.ExecQuery();
    QStringList rows;
    while (!s.q.Eof()) {
        QStringList row;
        for (int i = 0; i < s.q.FieldCount(); ++i)
            row << (s.q.Fields(i)->IsNull() ? QStringLiteral("-") : s.q.Fields(i)->AsString());
        rows << row.join(QLatin1Char('|'));
        s.q.Next();
    }
    s.q.Close();
    s.tr.Commit();
    return rows;
}

// A statement without parameters run and committed in a transaction of its own, its text sent
// as it is.
inline void ExecuteIn(TpFIBDatabase& db, const QString& sql) {
    TOwnStatement s(db, sql, false);
    s.q.ExecQuery();
    s.q.Close();
    s.tr.Commit();
}
