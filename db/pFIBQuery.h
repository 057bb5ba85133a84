// The statement placed on windows: the plain statement with a hook that may retry or quietly
// abandon an execution the server refused.
#pragma once

#include "FIBQuery.h"

#include <functional>

// What an error hook asks for after a failed execution.
enum TDataAction {
    daFail = 0,
    daAbort = 1,
    daRetry = 2,
};

using TFIBExecuteErrorEvent =
    std::function<void(TObject* Sender, EFIBError& E, TDataAction& Action)>;

class TpFIBQuery : public TFIBQuery {
public:
    explicit TpFIBQuery(TComponent* AOwner = nullptr);
    ~TpFIBQuery() override;

    const QString& Description() const { return FDescription; }
    void SetDescription(const QString& value) { FDescription = value; }

    // Runs the execution again for as long as OnExecuteError answers daRetry; daAbort ends it
    // with the silent abort, daFail (or no handler) passes the error on.
    void ExecQuery() override;
    // ExecQuery, for an "EXECUTE ..." text only.
    void ExecProc();
    TFIBXSQLVAR* FN(const QString& FieldName) const { return FieldByName(FieldName); }
    bool FieldIsNull(const QString& FieldName) const;

    TFIBExecuteErrorEvent OnExecuteError;

private:
    QString FDescription;
};
