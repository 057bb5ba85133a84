// The benchmarks' baseline: a session written directly on the client library, as a careful C
// program would write it, with nothing of the layer between the loop and the entry points.
#pragma once

#include "IB_Intf.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <stdexcept>

class TRawError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One entry of isc_start_multiple's vector, laid out as the client library reads it.
struct TTransactionBlock {
    isc_db_handle* Database;
    long TpbLength;
    const char* Tpb;
};

inline constexpr unsigned short RawDialect = 3;

class TRawSession {
public:
    explicit TRawSession(IIBClientLibraryPtr library) : FLib(std::move(library)) {}
    ~TRawSession();
    TRawSession(const TRawSession&) = delete;
    TRawSession& operator=(const TRawSession&) = delete;

    IIBClientLibrary& Lib() { return *FLib; }
    isc_db_handle* Db() { return &FDb; }
    ISC_STATUS* Status() { return FStatus.data(); }

    // As the program connects: SYSDBA, ISO8859_1, the password of its own routine.
    void Attach(const char* databaseName);
    // Throws with the server's message; the attachment stays usable.
    void Check(ISC_STATUS code, const char* what);

    isc_tr_handle Start(const QByteArray& tpb);
    void Commit(isc_tr_handle& tr);
    // Never throws: it runs while another error is on its way.
    void RollbackQuietly(isc_tr_handle& tr);

    // The rows of a one-column select whose column is a VARCHAR (the queries cast to it), read
    // in a read-committed transaction of their own.
    QStringList SelectTexts(const QString& sql);
    // Runs one statement in a write transaction of its own and commits it.
    void ExecuteWrite(const QString& sql);
    bool ForcedWrites();

private:
    IIBClientLibraryPtr FLib;
    isc_db_handle FDb = 0;
    std::array<ISC_STATUS, StatusVectorLength> FStatus{};
};
