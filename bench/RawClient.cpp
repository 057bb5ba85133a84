#include "RawClient.h"

#include "MotDePasse.h"

#include <cstring>
#include <string>

namespace {

void AddDpb(QByteArray& dpb, char item, const QByteArray& value) {
    dpb.append(item);
    dpb.append(char(value.size()));
    dpb.append(value);
}

const char ReadTpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                        isc_tpb_nowait};
const char WriteTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait, isc_tpb_rec_version,
                         isc_tpb_read_committed};

} // namespace

TRawSession::~TRawSession() {
    if (FDb) FLib->isc_detach_database(FStatus.data(), &FDb);
}

void TRawSession::Attach(const char* databaseName) {
    const QByteArray password = MotDePasseGestion().toLatin1();
    QByteArray dpb(1, char(isc_dpb_version1));
    AddDpb(dpb, isc_dpb_user_name, "SYSDBA");
    AddDpb(dpb, isc_dpb_lc_ctype, "ISO8859_1");
    AddDpb(dpb, isc_dpb_password, password);
    Check(FLib->isc_attach_database(Status(), 0, databaseName, &FDb, short(dpb.size()),
                                    dpb.constData()),
          "isc_attach_database");
}

void TRawSession::Check(ISC_STATUS code, const char* what) {
    if (code == 0 && FStatus[1] == 0) return;
    std::string message = what;
    const ISC_STATUS* cursor = FStatus.data();
    char line[512];
    while (FLib->fb_interpret(line, sizeof line, &cursor) > 0) {
        message += "\n  ";
        message += line;
    }
    throw TRawError(message);
}

isc_tr_handle TRawSession::Start(const QByteArray& tpb) {
    isc_tr_handle tr = 0;
    TTransactionBlock block{&FDb, long(tpb.size()), tpb.constData()};
    Check(FLib->isc_start_multiple(Status(), &tr, 1, &block), "isc_start_multiple");
    return tr;
}

void TRawSession::Commit(isc_tr_handle& tr) {
    Check(FLib->isc_commit_transaction(Status(), &tr), "isc_commit_transaction");
}

void TRawSession::RollbackQuietly(isc_tr_handle& tr) {
    if (tr) FLib->isc_rollback_transaction(Status(), &tr);
    tr = 0;
}

QStringList TRawSession::SelectTexts(const QString& sql) {
    isc_tr_handle tr = Start(QByteArray::fromRawData(ReadTpb, sizeof ReadTpb));
    isc_stmt_handle st = 0;
    QStringList rows;
    try {
        alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(1)> storage{};
        auto* out = reinterpret_cast<XSQLDA*>(storage.data());
        out->version = SQLDA_VERSION1;
        out->sqln = 1;
        const QByteArray text = sql.toLatin1();
        Check(FLib->isc_dsql_alloc_statement2(Status(), &FDb, &st), "alloc");
        Check(FLib->isc_dsql_prepare(Status(), &tr, &st, 0, text.constData(), RawDialect, out),
              "prepare");
        XSQLVAR& var = out->sqlvar[0];
        if (out->sqld != 1 || (var.sqltype & ~1) != SQL_VARYING)
            throw TRawError("setup query must return one VARCHAR column: " + sql.toStdString());
        QByteArray buffer(var.sqllen + 2, '\0');
        short null = 0;
        var.sqldata = buffer.data();
        var.sqlind = &null;
        Check(FLib->isc_dsql_execute(Status(), &tr, &st, RawDialect, nullptr), "execute");
        while (true) {
            const ISC_STATUS r = FLib->isc_dsql_fetch(Status(), &st, RawDialect, out);
            if (r == 100) break;
            Check(r, "fetch");
            quint16 length = 0;
            std::memcpy(&length, buffer.constData(), 2);
            rows << (null ? QString() : QString::fromLatin1(buffer.constData() + 2, length));
        }
        Check(FLib->isc_dsql_free_statement(Status(), &st, DSQL_drop), "free");
        Commit(tr);
    } catch (...) {
        if (st) FLib->isc_dsql_free_statement(Status(), &st, DSQL_drop);
        RollbackQuietly(tr);
        throw;
    }
    return rows;
}

void TRawSession::ExecuteWrite(const QString& sql) {
    isc_tr_handle tr = Start(QByteArray::fromRawData(WriteTpb, sizeof WriteTpb));
    try {
        const QByteArray text = sql.toLatin1();
        Check(FLib->isc_dsql_execute_immediate(Status(), &FDb, &tr, 0, text.constData(), RawDialect,
                                               nullptr),
              "isc_dsql_execute_immediate");
        Commit(tr);
    } catch (...) {
        RollbackQuietly(tr);
        throw;
    }
}

bool TRawSession::ForcedWrites() {
    const char item = isc_info_forced_writes;
    char buffer[16] = {};
    Check(FLib->isc_database_info(Status(), &FDb, 1, &item, sizeof buffer, buffer),
          "isc_database_info");
    if (buffer[0] != isc_info_forced_writes) throw TRawError("forced writes not reported");
    const short length = short(FLib->isc_vax_integer(buffer + 1, 2));
    return FLib->isc_vax_integer(buffer + 3, length) != 0;
}
