// The mandate list read through the layer, side by side with the same select fetched by hand on
// the client library, in one process and one run, on each database given (bench/run fetch
// starts one private instance per size).
//
// The layer is idsBanque as the main window holds it: persistent fields, the stored options
// off, a grid's link of 20 rows through a data source, reading in transSource. The baseline is
// a loop on isc_dsql_* that copies every fetched value into a vector of rows and an arena of
// texts at their actual length. Each round measures:
//   open→20   Prepare + Open until the grid's 20 rows are readable; raw: prepare, execute and
//             20 fetches. Nothing here may grow with the table.
//   full      the whole result: Open then Last(); raw: fetching every row.
//   AsString  First() then Next() to Eof reading every field's AsString (layer only).
//   moves     First() then Next() to Eof without reading (layer only).
// and, after the full walk, the peak resident growth, the cache's bytes per row against the
// bytes the server delivered, and the allocations per fetched row.
#include "MandateList.h"
#include "Measure.h"
#include "RawClient.h"

#include <QCoreApplication>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const QString LibraryName = QStringLiteral("fbClient.dll");
// The rows a grid of the main window shows.
constexpr int GridRows = 20;

struct TBank {
    qint64 Id = 0;
    QString Code;
};

// The first French bank with a code of its own, in identifier order.
TBank PickBank(TRawSession& s) {
    const QStringList rows = s.SelectTexts(QStringLiteral(
        "SELECT FIRST 1 CAST(BANQ_ID AS VARCHAR(20)) || '|' || BANQ_BANQUE FROM BANQUE "
        "WHERE BANQ_CODE_PAYS = 'FR' AND CHAR_LENGTH(BANQ_BANQUE) = 5 ORDER BY BANQ_ID"));
    if (rows.isEmpty()) throw TRawError("no French bank with a 5-digit code in the database");
    return TBank{rows.first().section(u'|', 0, 0).toLongLong(), rows.first().section(u'|', 1)};
}

qint64 CountOf(TRawSession& s, const QString& select) {
    return s
        .SelectTexts(
            QStringLiteral("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM (%1) AS T").arg(select))
        .value(0)
        .toLongLong();
}

// The generated mandates go to every French bank in turn, so no bank would list most of them:
// they are all given to the chosen bank once, and a database already prepared so is used as it
// is. Their IBANs keep their own bank codes; the list takes them by identifier.
void GatherOnBank(TRawSession& s, const TBank& bank, const QString& select, qint64& matching,
                  qint64 total) {
    if (matching * 2 >= total) return;
    std::printf("  giving the generated mandates to bank %lld (once per database)...\n", bank.Id);
    std::fflush(stdout);
    s.ExecuteWrite(QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_IDBANQ = %1 WHERE CMAN_MANDAT "
                                  "STARTING WITH 'VOL-' AND CMAN_IDBANQ IS DISTINCT FROM %1")
                       .arg(bank.Id));
    // The count reads every row again, which also clears the old versions the update left.
    matching = CountOf(s, select);
}

// The characters AsString gives for every field of the rows: the raw loop's oracle for the
// layer's walk (numbers in decimal, texts one character per byte, nulls empty).
qint64 DisplayedCharacters(const TRawMandates& rows) {
    auto digits = [](qint64 v) {
        const std::string text = std::to_string(v);
        return qint64(text.size());
    };
    qint64 chars = 0;
    for (std::size_t i = 0; i < rows.Count(); ++i) {
        const TRawMandate& r = rows.Row(i);
        if (!r.IsNull(mcId)) chars += digits(r.Id);
        if (!r.IsNull(mcIdCli)) chars += digits(r.IdCli);
        if (!r.IsNull(mcActif)) chars += digits(r.Actif);
        if (!r.IsNull(mcIdBanq)) chars += digits(r.IdBanq);
        for (quint8 length : r.Lengths)
            chars += length;
    }
    return chars;
}

struct TRound {
    double First20Ms = 0;
    double FullSeconds = 0;
    double FullCpuSeconds = 0;
    double FetchAllocsPerRow = 0; // during Last(), or the raw fetches after the first 20
    double RssGrowthKiB = -1;
    double OwnBytesPerRow = 0; // the cache's, or the raw rows'
    double DataBytesPerRow = 0;
    qint64 Rows = 0;
    qint64 Characters = 0;
    // Layer only.
    double AsStringRowsPerSecond = 0;
    double AsStringAllocsPerRow = 0;
    double MoveRowsPerSecond = 0;
    double MoveAllocsPerRow = 0;
};

double PerRow(std::uint64_t value, qint64 rows) {
    return rows > 0 ? double(value) / double(rows) : 0;
}

double Growth(std::int64_t before, std::int64_t atPhase, const TMeasure& phase) {
    if (before < 0 || atPhase < 0 || phase.PeakRssGrowthKiB < 0) return -1;
    return double(atPhase - before + phase.PeakRssGrowthKiB);
}

TRound RawRound(TRawSession& s, isc_tr_handle& tr, const QString& sql) {
    TRawMandates rows;
    TRawMandateQuery query(s, tr);
    malloc_trim(0);
    const std::int64_t rss0 = CurrentRssKiB();
    TMeasureScope open;
    query.Open(sql);
    for (int i = 0; i < GridRows && query.FetchInto(rows); ++i) {
    }
    const TMeasure first = open.Stop();
    const std::int64_t rss1 = CurrentRssKiB();
    const std::size_t before = rows.Count();
    TMeasureScope rest;
    while (query.FetchInto(rows)) {
    }
    const TMeasure all = rest.Stop();
    query.Close();

    TRound r;
    r.Rows = qint64(rows.Count());
    r.First20Ms = first.Seconds * 1e3;
    r.FullSeconds = first.Seconds + all.Seconds;
    r.FullCpuSeconds = first.CpuSeconds + all.CpuSeconds;
    r.FetchAllocsPerRow = PerRow(all.Allocations, r.Rows - qint64(before));
    r.RssGrowthKiB = Growth(rss0, rss1, all);
    r.OwnBytesPerRow = double(rows.AllocatedBytes()) / double(std::max<qint64>(r.Rows, 1));
    r.DataBytesPerRow = double(rows.DataBytes()) / double(std::max<qint64>(r.Rows, 1));
    r.Characters = DisplayedCharacters(rows);
    return r;
}

TRound LayerRound(TLayerMandateList& w, const QString& sql) {
    TpFIBDataSet& ds = *w.idsBanque;
    w.Reset(sql);
    malloc_trim(0);
    const std::int64_t rss0 = CurrentRssKiB();
    TMeasureScope open;
    ds.Prepare();
    ds.Open();
    const TMeasure first = open.Stop();
    if (ds.RecordCount() != GridRows && !ds.Eof())
        throw TRawError("Open did not fetch the grid's rows");
    const qint64 before = ds.RecordCount();
    const std::int64_t rss1 = CurrentRssKiB();
    TMeasureScope last;
    ds.Last();
    const TMeasure all = last.Stop();

    TRound r;
    r.Rows = ds.RecordCount();
    r.First20Ms = first.Seconds * 1e3;
    r.FullSeconds = first.Seconds + all.Seconds;
    r.FullCpuSeconds = first.CpuSeconds + all.CpuSeconds;
    r.FetchAllocsPerRow = PerRow(all.Allocations, r.Rows - before);
    r.RssGrowthKiB = Growth(rss0, rss1, all);
    r.OwnBytesPerRow =
        double(ds.RecordsCache()->AllocatedBytes()) / double(std::max<qint64>(r.Rows, 1));

    std::vector<TField*> fields;
    for (qint32 i = 0; i < ds.FieldCount(); ++i)
        fields.push_back(ds.Fields(i));
    TMeasureScope read;
    ds.First();
    while (!ds.Eof()) {
        for (TField* f : fields)
            r.Characters += f->AsString().size();
        ds.Next();
    }
    const TMeasure reading = read.Stop();
    r.AsStringRowsPerSecond = double(r.Rows) / reading.Seconds;
    r.AsStringAllocsPerRow = PerRow(reading.Allocations, r.Rows);

    TMeasureScope move;
    ds.First();
    while (!ds.Eof())
        ds.Next();
    const TMeasure moving = move.Stop();
    r.MoveRowsPerSecond = double(r.Rows) / moving.Seconds;
    r.MoveAllocsPerRow = PerRow(moving.Allocations, r.Rows);
    ds.Close();
    return r;
}

template <typename F> double MedianOf(const std::vector<TRound>& rounds, F value) {
    std::vector<double> values;
    for (const TRound& r : rounds)
        values.push_back(value(r));
    return Median(values);
}

void PrintRound(int round, const char* loop, const TRound& r) {
    std::printf("  round %d  %s open→20 %7.2f ms  full %9.0f rows/s  client CPU %5.2f µs/row  "
                "%5.2f allocs/row",
                round, loop, r.First20Ms, double(r.Rows) / r.FullSeconds,
                r.FullCpuSeconds * 1e6 / double(r.Rows), r.FetchAllocsPerRow);
    if (r.AsStringRowsPerSecond > 0)
        std::printf("  AsString %8.0f rows/s  moves %9.0f rows/s", r.AsStringRowsPerSecond,
                    r.MoveRowsPerSecond);
    std::printf("\n");
    std::fflush(stdout);
}

struct TDatabaseResult {
    qint64 Rows = 0;
    double RawFirst20Ms = 0, LayerFirst20Ms = 0;
};

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

TDatabaseResult RunDatabase(const QString& databaseName, int rounds) {
    const QByteArray name = databaseName.toLatin1();
    TRawSession raw(GetClientLibrary(LibraryName));
    raw.Attach(name.constData());
    const TBank bank = PickBank(raw);
    const QString sql = MandateSelectText(bank.Id, bank.Code);
    const qint64 total = CountOf(raw, QStringLiteral("SELECT 1 AS UN FROM CLIENTS_MANDAT"));
    qint64 matching = CountOf(raw, sql);
    std::printf("%s: %lld mandates, forced writes %s\n", name.constData(), total,
                raw.ForcedWrites() ? "ON" : "off");
    GatherOnBank(raw, bank, sql, matching, total);
    std::printf("  the list for bank %lld, code %s, holds %lld rows (%.0f %% of the mandates)\n",
                bank.Id, qPrintable(bank.Code), matching, 100.0 * double(matching) / double(total));
    std::fflush(stdout);

    TLayerMandateList layer(databaseName);
    isc_tr_handle tr = raw.Start(ReadingTpb());
    // One uncounted round each: the server reads the pages into its cache and the client
    // library grows its buffers once.
    RawRound(raw, tr, sql);
    LayerRound(layer, sql);

    std::vector<TRound> raws, layers;
    for (int round = 1; round <= rounds; ++round) {
        const bool rawFirst = round % 2 == 1;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == rawFirst) {
                raws.push_back(RawRound(raw, tr, sql));
                PrintRound(round, "raw  ", raws.back());
            } else {
                layers.push_back(LayerRound(layer, sql));
                PrintRound(round, "layer", layers.back());
            }
        }
    }
    raw.Commit(tr);

    const TRound& r0 = raws.front();
    for (const TRound& r : layers)
        if (r.Rows != r0.Rows || r.Rows != matching || r.Characters != r0.Characters)
            throw TRawError(QStringLiteral("the layer read %1 rows and %2 characters, the raw "
                                           "loop %3 rows and %4 characters, the count %5")
                                .arg(r.Rows)
                                .arg(r.Characters)
                                .arg(r0.Rows)
                                .arg(r0.Characters)
                                .arg(matching)
                                .toStdString());

    auto raw_ = [&](auto f) { return MedianOf(raws, f); };
    auto lay = [&](auto f) { return MedianOf(layers, f); };
    const double rows = double(r0.Rows);
    const double rawFirst = raw_([](const TRound& r) { return r.First20Ms; });
    const double layFirst = lay([](const TRound& r) { return r.First20Ms; });
    const double rawRate = raw_([&](const TRound& r) { return rows / r.FullSeconds; });
    const double layRate = lay([&](const TRound& r) { return rows / r.FullSeconds; });
    const double rawCpu = raw_([&](const TRound& r) { return r.FullCpuSeconds * 1e6 / rows; });
    const double layCpu = lay([&](const TRound& r) { return r.FullCpuSeconds * 1e6 / rows; });
    const double rawRss = raw_([&](const TRound& r) { return r.RssGrowthKiB * 1024 / rows; });
    const double layRss = lay([&](const TRound& r) { return r.RssGrowthKiB * 1024 / rows; });
    const double rawOwn = raw_([](const TRound& r) { return r.OwnBytesPerRow; });
    const double cache = lay([](const TRound& r) { return r.OwnBytesPerRow; });
    const double data = r0.DataBytesPerRow;
    const double rawAllocs = raw_([](const TRound& r) { return r.FetchAllocsPerRow; });
    const double lastAllocs = lay([](const TRound& r) { return r.FetchAllocsPerRow; });

    std::printf("medians over %d rounds, %.0f rows:           raw        layer   layer/raw\n",
                rounds, rows);
    std::printf("  open→first 20 rows (ms)            %10.2f %12.2f %8.2f   target ≤ 1.20: %s\n",
                rawFirst, layFirst, layFirst / rawFirst, Verdict(layFirst / rawFirst <= 1.2));
    std::printf("    of which the layer's own (layer − raw, ms)     %12.2f\n", layFirst - rawFirst);
    std::printf("  full walk, Last() (rows/s)         %10.0f %12.0f %8.2f   target ≥ 0.90: %s\n",
                rawRate, layRate, layRate / rawRate, Verdict(layRate / rawRate >= 0.9));
    std::printf("  client CPU of the full walk (µs/row)%9.2f %12.2f %8.2f\n", rawCpu, layCpu,
                layCpu / rawCpu);
    std::printf("  peak RSS growth (bytes/row)        %10.0f %12.0f %8.2f\n", rawRss, layRss,
                layRss / rawRss);
    std::printf("  own bytes/row (raw rows | cache)   %10.1f %12.1f %8.2f\n", rawOwn, cache,
                cache / rawOwn);
    std::printf("  cache bytes / data bytes (%.1f B/row)           %12.2f            target ≤ "
                "1.30: %s\n",
                data, cache / data, Verdict(cache / data <= 1.3));
    std::printf("  allocations per fetched row        %10.3f %12.3f            target 0: %s\n",
                rawAllocs, lastAllocs, Verdict(lastAllocs < 0.01));
    std::printf("  First/Next reading every AsString (rows/s)      %12.0f   (%.2f allocs/row)\n",
                lay([](const TRound& r) { return r.AsStringRowsPerSecond; }),
                lay([](const TRound& r) { return r.AsStringAllocsPerRow; }));
    std::printf("  First/Next moving only (rows/s)                 %12.0f   (%.3f allocs/row)\n",
                lay([](const TRound& r) { return r.MoveRowsPerSecond; }),
                lay([](const TRound& r) { return r.MoveAllocsPerRow; }));
    std::fflush(stdout);
    return TDatabaseResult{r0.Rows, rawFirst, layFirst};
}

int Usage() {
    std::fprintf(stderr, "usage: bench_fetch [--rounds R] DATABASE...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 3;
    std::vector<QString> databases;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds") {
            if (i + 1 >= argc) return Usage();
            rounds = std::atoi(argv[++i]);
        } else {
            databases.push_back(QString::fromLocal8Bit(argv[i]));
        }
    }
    if (rounds < 1 || databases.empty()) return Usage();
    if (!AllocationsCounted()) std::printf("allocations are not counted in this build\n");

    try {
        std::vector<TDatabaseResult> results;
        for (const QString& database : databases)
            results.push_back(RunDatabase(database, rounds));
        if (results.size() < 2) return 0;
        // Nothing of the open may grow with the table: the smallest and the largest side by side.
        const TDatabaseResult& small = results.front();
        const TDatabaseResult& large = results.back();
        const double rawGrowth = large.RawFirst20Ms / small.RawFirst20Ms;
        const double layGrowth = large.LayerFirst20Ms / small.LayerFirst20Ms;
        std::printf("open→first 20 from %lld to %lld rows: raw ×%.2f, layer ×%.2f   flat "
                    "(layer within 1.2× of its smaller figure): %s\n",
                    small.Rows, large.Rows, rawGrowth, layGrowth, Verdict(layGrowth <= 1.2));
        // When the raw loop grows too, the server does work per row before the first one; the
        // layer's own share is what is left.
        std::printf("  the layer's own share (layer − raw): %.2f ms → %.2f ms\n",
                    small.LayerFirst20Ms - small.RawFirst20Ms,
                    large.LayerFirst20Ms - large.RawFirst20Ms);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_fetch: %s\n", e.what());
        return 1;
    }
    return 0;
}
