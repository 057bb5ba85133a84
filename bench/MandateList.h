// The mandate list of the main window read two ways: through the layer, as idsBanque with its
// persistent fields and a grid's link, and by hand on the client library into rows of a C++
// program's own. bench_fetch times one against the other; the tests check that both read the
// same values.
#pragma once

#include "RawClient.h"

#include "DB.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// The list's select for an old bank, the branch box empty and « actifs » cleared: one line, as
// ChargerMandats builds it.
QString MandateSelectText(qint64 ancienId, const QString& ancienCode);

// ---------------------------------------------------------------------------------------------
// By hand

// The list's columns in select order.
enum TMandateColumn {
    mcId,
    mcIdCli,
    mcNp,
    mcActif,
    mcIdBanq,
    mcIban,
    mcBic,
    mcNomBanque,
    mcMandat,
    mcSociete,
    MandateColumnCount
};
inline constexpr int MandateTextCount = 6;
// The text columns, in select order.
inline constexpr std::array<TMandateColumn, MandateTextCount> MandateTextColumns = {
    mcNp, mcIban, mcBic, mcNomBanque, mcMandat, mcSociete};

// One row as a careful program keeps it: its numbers, and its texts side by side at their
// actual length in the store's arena (every column's declared width is below 256).
struct TRawMandate {
    qint64 Id = 0;
    qint64 IdCli = 0;
    qint64 IdBanq = 0;
    qint16 Actif = 0;
    quint16 Nulls = 0; // bit c: column c is null
    quint32 Texts = 0; // position of the first text in the arena
    std::array<quint8, MandateTextCount> Lengths{};

    bool IsNull(TMandateColumn c) const { return Nulls & (1u << c); }
};

class TRawMandates {
public:
    // Room for the texts of the row added next, and their position in the arena.
    char* ReserveTexts(qint32 Bytes, quint32& Position);
    void Add(const TRawMandate& Row, qint64 DataBytes);
    void Clear();

    std::size_t Count() const { return FRows.size(); }
    const TRawMandate& Row(std::size_t i) const { return FRows[i]; }
    // Text t (index in MandateTextColumns) of a row, as Latin-1 bytes.
    QByteArray Text(const TRawMandate& Row, int t) const;
    // What the server delivered for the rows added: texts at their length, numbers at their
    // size, nulls for nothing.
    qint64 DataBytes() const { return FDataBytes; }
    // The row vector's and the arena's heap bytes.
    qint64 AllocatedBytes() const;

    // Position bits: chunk number above, offset below.
    static constexpr int ChunkBits = 20;
    static constexpr qint32 ChunkSize = 1 << ChunkBits;

private:
    std::vector<TRawMandate> FRows;
    std::vector<std::unique_ptr<char[]>> FChunks;
    qint32 FUsed = ChunkSize; // in the last chunk
    qint64 FDataBytes = 0;
};

// The list's select prepared, executed and fetched straight on the client library, each
// fetched row copied into TRawMandates.
class TRawMandateQuery {
public:
    TRawMandateQuery(TRawSession& Session, isc_tr_handle& Transaction);
    ~TRawMandateQuery();
    TRawMandateQuery(const TRawMandateQuery&) = delete;
    TRawMandateQuery& operator=(const TRawMandateQuery&) = delete;

    // isc_dsql_alloc_statement2, isc_dsql_prepare (which describes the columns), then
    // isc_dsql_execute; throws TRawError when the columns are not the list's.
    void Open(const QString& Sql);
    // One isc_dsql_fetch; false at the end.
    bool FetchInto(TRawMandates& Rows);
    void Close();

private:
    void Bind();

    TRawSession& FSession;
    isc_tr_handle& FTransaction;
    isc_stmt_handle FStatement = 0;
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(MandateColumnCount)> FDescriptor{};
    XSQLDA* FOut;
    std::array<short, MandateColumnCount> FNulls{};
    std::vector<char> FData; // every column's value buffer, back to back
};

// The reading transaction of the main window: transSource's parameters.
QByteArray ReadingTpb();

// ---------------------------------------------------------------------------------------------
// Through the layer

// The main window's connection, reading transaction and list, with the grid's link of 20 rows:
// set as the window definition and FormCreate set them.
struct TLayerMandateList {
    explicit TLayerMandateList(const QString& DatabaseName);
    ~TLayerMandateList();

    // Close, unprepare, set the text; Prepare and Open are the caller's to time.
    void Reset(const QString& Sql);

    TComponent Form;
    TpFIBDatabase* dbSource;
    TpFIBTransaction* transSource;
    TpFIBDataSet* idsBanque;
    TDataSource* dsBanque;
    TDataLink Grid;
};
