#include "MandateList.h"

#include "MotDePasse.h"
#include "Programme.h"

#include <cstring>

QString MandateSelectText(qint64 ancienId, const QString& ancienCode) {
    return MandateSelectLines(ancienId, ancienCode, QString(), false).constFirst();
}

QByteArray ReadingTpb() {
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait,
                               isc_tpb_concurrency};
    return QByteArray::fromRawData(tpb, sizeof tpb);
}

// ---------------------------------------------------------------------------------------------

char* TRawMandates::ReserveTexts(qint32 Bytes, quint32& Position) {
    if (FUsed + Bytes > ChunkSize) {
        FChunks.push_back(std::make_unique_for_overwrite<char[]>(ChunkSize));
        FUsed = 0;
    }
    Position = (quint32(FChunks.size() - 1) << ChunkBits) | quint32(FUsed);
    char* at = FChunks.back().get() + FUsed;
    FUsed += Bytes;
    return at;
}

void TRawMandates::Add(const TRawMandate& Row, qint64 DataBytes) {
    FRows.push_back(Row);
    FDataBytes += DataBytes;
}

void TRawMandates::Clear() {
    FRows.clear();
    FRows.shrink_to_fit();
    FChunks.clear();
    FChunks.shrink_to_fit();
    FUsed = ChunkSize;
    FDataBytes = 0;
}

QByteArray TRawMandates::Text(const TRawMandate& Row, int t) const {
    const char* at = FChunks[Row.Texts >> ChunkBits].get() + (Row.Texts & (ChunkSize - 1));
    for (int i = 0; i < t; ++i)
        at += Row.Lengths[size_t(i)];
    return QByteArray(at, Row.Lengths[size_t(t)]);
}

qint64 TRawMandates::AllocatedBytes() const {
    return qint64(FRows.capacity() * sizeof(TRawMandate)) + qint64(FChunks.size()) * ChunkSize +
           qint64(FChunks.capacity() * sizeof(FChunks[0]));
}

// ---------------------------------------------------------------------------------------------

namespace {

bool IsText(TMandateColumn c) {
    for (TMandateColumn t : MandateTextColumns)
        if (t == c) return true;
    return false;
}

// What each column must be for the copy below: the list's declared types.
short ExpectedType(TMandateColumn c) {
    if (IsText(c)) return SQL_VARYING;
    return c == mcActif ? SQL_SHORT : SQL_INT64;
}

} // namespace

TRawMandateQuery::TRawMandateQuery(TRawSession& Session, isc_tr_handle& Transaction)
    : FSession(Session), FTransaction(Transaction) {
    FOut = reinterpret_cast<XSQLDA*>(FDescriptor.data());
    FOut->version = SQLDA_VERSION1;
    FOut->sqln = MandateColumnCount;
}

TRawMandateQuery::~TRawMandateQuery() {
    if (FStatement)
        FSession.Lib().isc_dsql_free_statement(FSession.Status(), &FStatement, DSQL_drop);
}

void TRawMandateQuery::Open(const QString& Sql) {
    IIBClientLibrary& lib = FSession.Lib();
    const QByteArray text = Sql.toLatin1();
    FSession.Check(lib.isc_dsql_alloc_statement2(FSession.Status(), FSession.Db(), &FStatement),
                   "isc_dsql_alloc_statement2");
    FSession.Check(lib.isc_dsql_prepare(FSession.Status(), &FTransaction, &FStatement, 0,
                                        text.constData(), RawDialect, FOut),
                   "isc_dsql_prepare");
    Bind();
    FSession.Check(
        lib.isc_dsql_execute(FSession.Status(), &FTransaction, &FStatement, RawDialect, nullptr),
        "isc_dsql_execute");
}

void TRawMandateQuery::Bind() {
    if (FOut->sqld != MandateColumnCount) throw TRawError("the list's select must have 10 columns");
    size_t size = 0;
    std::array<size_t, MandateColumnCount> offsets{};
    for (int c = 0; c < MandateColumnCount; ++c) {
        const XSQLVAR& var = FOut->sqlvar[c];
        if ((var.sqltype & ~1) != ExpectedType(TMandateColumn(c)) || var.sqlscale != 0 ||
            (IsText(TMandateColumn(c)) && var.sqllen > 255))
            throw TRawError("unexpected column type in the list's select");
        offsets[size_t(c)] = size;
        size += (size_t(var.sqllen) + (IsText(TMandateColumn(c)) ? 2 : 0) + 7) & ~size_t(7);
    }
    FData.assign(size, 0);
    for (int c = 0; c < MandateColumnCount; ++c) {
        FOut->sqlvar[c].sqldata = FData.data() + offsets[size_t(c)];
        FOut->sqlvar[c].sqlind = &FNulls[size_t(c)];
    }
}

bool TRawMandateQuery::FetchInto(TRawMandates& Rows) {
    const ISC_STATUS r =
        FSession.Lib().isc_dsql_fetch(FSession.Status(), &FStatement, RawDialect, FOut);
    if (r == 100) return false;
    FSession.Check(r, "isc_dsql_fetch");

    TRawMandate row;
    qint64 data = 0;
    auto number = [&](TMandateColumn c, auto& into) {
        const XSQLVAR& var = FOut->sqlvar[c];
        if ((var.sqltype & 1) && FNulls[size_t(c)] == -1) {
            row.Nulls |= quint16(1u << c);
            return;
        }
        std::memcpy(&into, var.sqldata, sizeof into);
        data += qint64(sizeof into);
    };
    number(mcId, row.Id);
    number(mcIdCli, row.IdCli);
    number(mcActif, row.Actif);
    number(mcIdBanq, row.IdBanq);

    qint32 total = 0;
    for (int t = 0; t < MandateTextCount; ++t) {
        const TMandateColumn c = MandateTextColumns[size_t(t)];
        const XSQLVAR& var = FOut->sqlvar[c];
        quint16 length = 0;
        if ((var.sqltype & 1) && FNulls[size_t(c)] == -1)
            row.Nulls |= quint16(1u << c);
        else
            std::memcpy(&length, var.sqldata, sizeof length);
        row.Lengths[size_t(t)] = quint8(length);
        total += length;
    }
    char* at = Rows.ReserveTexts(total, row.Texts);
    for (int t = 0; t < MandateTextCount; ++t) {
        const quint8 length = row.Lengths[size_t(t)];
        std::memcpy(at, FOut->sqlvar[MandateTextColumns[size_t(t)]].sqldata + 2, length);
        at += length;
    }
    Rows.Add(row, data + total);
    return true;
}

void TRawMandateQuery::Close() {
    if (!FStatement) return;
    FSession.Check(
        FSession.Lib().isc_dsql_free_statement(FSession.Status(), &FStatement, DSQL_drop),
        "isc_dsql_free_statement");
}

// ---------------------------------------------------------------------------------------------

TLayerMandateList::TLayerMandateList(const QString& DatabaseName) {
    Form.SetName(QStringLiteral("frmPrincipale"));
    dbSource = new TpFIBDatabase(&Form);
    dbSource->SetName(QStringLiteral("dbSource"));
    transSource = new TpFIBTransaction(&Form);
    transSource->SetName(QStringLiteral("transSource"));
    idsBanque = new TpFIBDataSet(&Form);
    idsBanque->SetName(QStringLiteral("idsBanque"));
    dsBanque = new TDataSource(&Form);
    dsBanque->SetName(QStringLiteral("dsBanque"));

    dbSource->SetSQLDialect(3);
    dbSource->SetDefaultTransaction(transSource);
    dbSource->SetDefaultUpdateTransaction(transSource);
    dbSource->SetTimeout(0);
    dbSource->SetSynchronizeTime(false);
    dbSource->SetWaitForRestoreConnect(0);
    transSource->SetDefaultDatabase(dbSource);
    transSource->TRParams().SetStringList(
        {QStringLiteral("write"), QStringLiteral("nowait"), QStringLiteral("concurrency")});
    transSource->SetTimeoutAction(TACommit);
    transSource->SetTPBMode(tpbDefault);

    idsBanque->SetDatabase(dbSource);
    idsBanque->SetTransaction(transSource);
    DefineMandateList(*idsBanque, &Form);
    dsBanque->SetDataSet(idsBanque);
    Grid.SetBufferCount(20);
    Grid.SetDataSource(dsBanque);

    SetProgramConnectParams(*dbSource, MotDePasseGestion(), DatabaseName);
    dbSource->SetConnected(true);
    transSource->StartTransaction();
}

TLayerMandateList::~TLayerMandateList() {
    Grid.SetDataSource(nullptr);
    idsBanque->Close();
    if (transSource->Active()) transSource->Rollback();
    if (dbSource->Connected()) dbSource->SetConnected(false);
}

void TLayerMandateList::Reset(const QString& Sql) {
    if (idsBanque->Active()) idsBanque->Close();
    if (idsBanque->Prepared()) idsBanque->UnPrepare();
    idsBanque->SelectSQL().SetText(Sql);
}
