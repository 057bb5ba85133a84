#include "pFIBQuery.h"

TpFIBQuery::TpFIBQuery(TComponent* AOwner) : TFIBQuery(AOwner) {}

TpFIBQuery::~TpFIBQuery() = default;

void TpFIBQuery::ExecQuery() {
    for (;;) {
        TDataAction action = daFail;
        try {
            TFIBQuery::ExecQuery();
            return;
        } catch (EFIBError& e) {
            if (!OnExecuteError) throw;
            OnExecuteError(this, e, action);
            if (action == daFail) throw;
            if (action == daAbort) Abort();
        }
    }
}

void TpFIBQuery::ExecProc() {
    if (IsProc()) ExecQuery();
}

bool TpFIBQuery::FieldIsNull(const QString& FieldName) const {
    return FieldByName(FieldName)->IsNull();
}
