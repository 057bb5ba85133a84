// A client library that hands every call to the real one and notes what the statements ask of
// the server: the texts sent to isc_dsql_prepare, the executions and the input types of the last,
// the fetches; and a statement whose calls go through it.
#pragma once

#include "FIBQuery.h"
#include "ForwardingClientLibrary.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <vector>

class TCountingClientLibrary : public TForwardingClientLibrary {
public:
    using TForwardingClientLibrary::TForwardingClientLibrary;

    QList<QByteArray> PreparedTexts;
    int Executes = 0;
    int Fetches = 0;
    std::vector<short> LastInput;

    ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* statement,
                              unsigned short dialect, const XSQLDA* output) override {
        ++Fetches;
        return FInner->isc_dsql_fetch(status, statement, dialect, output);
    }

    ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* transaction,
                                isc_stmt_handle* statement, unsigned short dialect,
                                const XSQLDA* input) override {
        ++Executes;
        LastInput.clear();
        for (int i = 0; input && i < input->sqld; ++i)
            LastInput.push_back(input->sqlvar[i].sqltype & ~1);
        return FInner->isc_dsql_execute(status, transaction, statement, dialect, input);
    }
    ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* transaction,
                                isc_stmt_handle* statement, unsigned short length,
                                const ISC_SCHAR* text, unsigned short dialect,
                                XSQLDA* output) override {
        PreparedTexts.append(QByteArray(text));
        return FInner->isc_dsql_prepare(status, transaction, statement, length, text, dialect,
                                        output);
    }
};

// A statement of class Query whose client calls go through a counting wrapper of the real library.
template <typename Query> class TCountingStatement : public Query {
public:
    using Query::Query;
    IIBClientLibrary* ClientLibrary() const override {
        IIBClientLibrary* real = Query::ClientLibrary();
        if (!real) return nullptr;
        if (!FCounting) FCounting = std::make_unique<TCountingClientLibrary>(real);
        return FCounting.get();
    }
    TCountingClientLibrary& Counts() const {
        ClientLibrary();
        return *FCounting;
    }

private:
    mutable std::unique_ptr<TCountingClientLibrary> FCounting;
};
