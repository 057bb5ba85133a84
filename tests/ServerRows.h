// Reading the database back from a test's own second connection.
#pragma once

#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QString>
#include <QStringList>

// The rows of a select, read in a transaction of their own: each row's columns joined by "|",
// a null as "-".
inline QStringList RowsOf(TpFIBDatabase& db, const QString& sql) {
    TpFIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.StartTransaction();
    TpFIBQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    q.SQL().SetText(sql);
    q.ExecQuery();
    QStringList rows;
    while (!q.Eof()) {
        QStringList row;
        for (int i = 0; i < q.FieldCount(); ++i)
            row << (q.Fields(i)->IsNull() ? QStringLiteral("-") : q.Fields(i)->AsString());
        rows << row.join(QLatin1Char('|'));
        q.Next();
    }
    q.Close();
    tr.Commit();
    return rows;
}

// A statement without parameters run and committed in a transaction of its own. Its text is
// sent as it is: a block's ":I" names its own variable.
inline void ExecuteIn(TpFIBDatabase& db, const QString& sql) {
    TpFIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.StartTransaction();
    TpFIBQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    q.SetParamCheck(false);
    q.SQL().SetText(sql);
    q.ExecQuery();
    q.Close();
    tr.Commit();
}
