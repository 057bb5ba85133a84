// The connection and transaction classes placed on windows: the connection with its per-user
// alias store and connect hooks, the transaction with its parameter modes and its events.
#pragma once

#include "FIBDatabase.h"

#include <QString>

#include <functional>

class TpFIBDatabase;

using TFIBLoginEvent =
    std::function<void(TFIBDatabase* Database, TDBParams& LoginParams, bool& DoConnect)>;

class TpFIBDatabase : public TFIBDatabase {
public:
    explicit TpFIBDatabase(TComponent* AOwner = nullptr);
    ~TpFIBDatabase() override;

    QString AliasName() const;
    void SetAliasName(const QString& value);
    bool SaveAliasParamsAfterConnect() const { return FRewriteAlias; }
    void SetSaveAliasParamsAfterConnect(bool value) { FRewriteAlias = value; }
    quint32 WaitForRestoreConnect() const { return FWaitForRestoreConnect; }
    void SetWaitForRestoreConnect(quint32 value) { FWaitForRestoreConnect = value; }

    void Open(bool RaiseExcept = true) override;
    void ForceClose() override;

    // Reads the alias's values from the store and applies those present; false when the alias
    // or its "Database Name" is missing.
    virtual bool ReadParamsFromAlias();
    void SaveAlias() override;

    // Where the alias lives: the key path under the store's root.
    QString AliasKeyPath() const;

    TFIBLoginEvent BeforeConnect;
    TNotifyEvent BeforeStartTransaction;
    TNotifyEvent AfterStartTransaction;
    TEndTrEvent BeforeEndTransaction;
    TEndTrEvent AfterEndTransaction;

protected:
    void InternalClose(bool Force) override;

private:
    QByteArray FAliasName;
    bool FRewriteAlias = true;
    quint32 FWaitForRestoreConnect = 0;
};

using TOnSQLExecute = std::function<void(TObject* Query, TFIBSQLTypes SQLType)>;

class TpFIBTransaction : public TFIBTransaction {
public:
    explicit TpFIBTransaction(TComponent* AOwner = nullptr);
    ~TpFIBTransaction() override;

    TTPBMode TPBMode() const { return FTPBMode; }
    void SetTPBMode(TTPBMode value) { FTPBMode = value; }
    const QString& UserKindTransaction() const { return FUserKindTransaction; }
    void SetUserKindTransaction(const QString& value) { FUserKindTransaction = value; }

    void StartTransaction() override;
    void EndTransaction(TTransactionAction Action, bool Force) override;
    void DoOnSQLExec(TObject* Query, TKindOnOperation Kind) override;

    TNotifyEvent BeforeStart;
    TNotifyEvent AfterStart;
    TEndTrEvent BeforeEnd;
    TEndTrEvent AfterEnd;
    TOnSQLExecute BeforeSQLExecute;
    TOnSQLExecute AfterSQLExecute;

private:
    TpFIBDatabase* DefaultPDatabase() const;

    TTPBMode FTPBMode = tpbReadCommitted;
    QString FUserKindTransaction = QStringLiteral("NoUserKind");
};
