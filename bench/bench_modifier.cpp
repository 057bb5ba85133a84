// « Modifier » of the bank change run, one mandate per read-committed transaction: the layer
// used exactly as the program uses it, side by side with the same work written directly on the
// client library, in one process and one run, on a private instance that bench/run starts.
//
// Three loops take turns, each on mandates of its own so that every one of them writes rows
// nobody touched before (a row written again would skip the index work of its first change):
//   raw        one prepare per mandate, the least a client can do;
//   layer      TpFIBDatabase, TpFIBTransaction, TpFIBQuery as in btnChangerClick;
//   raw×2      raw calls in the order the layer makes them: an explicit prepare, then the
//              re-prepare of the first execution. Layer against raw×2 isolates the layer's own
//              cost from that intended extra round trip.
#include "IB_Intf.h"
#include "Measure.h"
#include "MotDePasse.h"
#include "Programme.h"
#include "RawClient.h"
#include "uFonctions_Verification.h"

#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray DatabaseName = ProgramDatabaseName().toLatin1();
const QString LibraryName = ProgramLibraryName();
// What the raw loop sends for the program's text: its named markers become "?".
QString ModifierServerSQL(const QString& mandateId) {
    QString text = ModifierSQL(mandateId);
    for (const char* name :
         {":P0", ":P1", ":P2", ":ATTENDU_IBAN", ":ATTENDU_BIC", ":ATTENDU_BANQUE"})
        text.replace(QLatin1String(name), QStringLiteral("?"));
    return text;
}
constexpr unsigned short Dialect = RawDialect;
// Mandates each loop writes, uncounted, before the first measured round: the first statement
// of a connection loads the table's metadata on the server.
constexpr int WarmUp = 100;

enum TLoop { lpRaw, lpLayer, lpRawTwice, LoopCount };
// Padded by hand: printf's widths count bytes, and "×" takes two.
const char* const LoopNames[LoopCount] = {"raw   ", "layer ", "raw×2 "};

struct TMandate {
    QString Id; // decimal digits, as the program reads CMAN_ID from the list
    QString Iban;
    // What the list showed, which the row must still hold (never null here).
    QString Bic;
    qint64 Bank = 0;
};

struct TNewBank {
    QString Code;
    QString Bic;
    qint64 Id = 0;
};

// The new IBAN as the window builds it, the branch box left empty.
QString NewIban(const TNewBank& bank, const QString& iban) {
    return NouvelIbanFrancais(bank.Code, QString(), iban);
}

// ---------------------------------------------------------------------------------------------
// Straight on the client library

// The mandate transaction's parameters: transLocale's four words, in its order.
const char WriteTpbBytes[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait, isc_tpb_rec_version,
                              isc_tpb_read_committed};
const QByteArray WriteTpb = QByteArray::fromRawData(WriteTpbBytes, sizeof WriteTpbBytes);

// The input descriptor a C program would build once and point at each mandate's values: the
// same types the layer's setters send (text, text, 32-bit integer), then the listed IBAN, BIC
// and bank the row must still hold.
class TRawParams {
public:
    TRawParams() {
        FDa = reinterpret_cast<XSQLDA*>(FStorage.data());
        FDa->version = SQLDA_VERSION1;
        FDa->sqln = FDa->sqld = 6;
        for (int i : {0, 1, 3, 4})
            FDa->sqlvar[i].sqltype = SQL_TEXT;
        FDa->sqlvar[2].sqltype = SQL_LONG;
        FDa->sqlvar[2].sqllen = sizeof(ISC_LONG);
        FDa->sqlvar[2].sqldata = reinterpret_cast<ISC_SCHAR*>(&FBank);
        FDa->sqlvar[5].sqltype = SQL_INT64;
        FDa->sqlvar[5].sqllen = sizeof(ISC_INT64);
        FDa->sqlvar[5].sqldata = reinterpret_cast<ISC_SCHAR*>(&FListedBank);
    }
    XSQLDA* Set(QByteArray& iban, QByteArray& bic, ISC_LONG bank, QByteArray& listedIban,
                QByteArray& listedBic, ISC_INT64 listedBank) {
        SetText(0, iban);
        SetText(1, bic);
        FBank = bank;
        SetText(3, listedIban);
        SetText(4, listedBic);
        FListedBank = listedBank;
        return FDa;
    }

private:
    void SetText(int i, QByteArray& text) {
        FDa->sqlvar[i].sqldata = text.data();
        FDa->sqlvar[i].sqllen = ISC_SHORT(text.size());
    }
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(6)> FStorage{};
    XSQLDA* FDa;
    ISC_LONG FBank = 0;
    ISC_INT64 FListedBank = 0;
};

// What the layer's prepare asks after isc_dsql_prepare: the statement type and the parameters'
// description.
void DescribeLikeTheLayer(TRawSession& s, isc_stmt_handle& st, XSQLDA* bind) {
    const char item = isc_info_sql_stmt_type;
    char answer[8] = {};
    s.Check(s.Lib().isc_dsql_sql_info(s.Status(), &st, 1, &item, sizeof answer, answer),
            "isc_dsql_sql_info");
    s.Check(s.Lib().isc_dsql_describe_bind(s.Status(), &st, Dialect, bind),
            "isc_dsql_describe_bind");
}

// Returns the number of mandates whose write failed (rolled back and passed over, as the
// program does).
int RunRaw(TRawSession& s, const TNewBank& bank, const std::vector<TMandate>& mandates,
           bool likeTheLayer) {
    IIBClientLibrary& lib = s.Lib();
    TRawParams params;
    QByteArray bic = bank.Bic.toLatin1();
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(1)> outStorage{};
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(6)> bindStorage{};
    auto* out = reinterpret_cast<XSQLDA*>(outStorage.data());
    auto* bind = reinterpret_cast<XSQLDA*>(bindStorage.data());
    out->version = bind->version = SQLDA_VERSION1;
    out->sqln = 1;
    bind->sqln = 6;
    int failures = 0;
    for (const TMandate& m : mandates) {
        QByteArray iban = NewIban(bank, m.Iban).toLatin1();
        QByteArray listedIban = m.Iban.toLatin1();
        QByteArray listedBic = m.Bic.toLatin1();
        const QByteArray sql = ModifierServerSQL(m.Id).toLatin1();
        isc_tr_handle tr = s.Start(WriteTpb);
        isc_stmt_handle st = 0;
        try {
            const int prepares = likeTheLayer ? 2 : 1;
            for (int i = 0; i < prepares; ++i) {
                if (st) s.Check(lib.isc_dsql_free_statement(s.Status(), &st, DSQL_drop), "free");
                s.Check(lib.isc_dsql_alloc_statement2(s.Status(), s.Db(), &st), "alloc");
                s.Check(lib.isc_dsql_prepare(s.Status(), &tr, &st, 0, sql.constData(), Dialect,
                                             likeTheLayer ? out : nullptr),
                        "isc_dsql_prepare");
                if (likeTheLayer) DescribeLikeTheLayer(s, st, bind);
            }
            s.Check(lib.isc_dsql_execute(
                        s.Status(), &tr, &st, Dialect,
                        params.Set(iban, bic, ISC_LONG(bank.Id), listedIban, listedBic, m.Bank)),
                    "isc_dsql_execute");
            // The row count the layer asks, to tell a row changed since the listing.
            const char item = isc_info_sql_records;
            char answer[64] = {};
            s.Check(lib.isc_dsql_sql_info(s.Status(), &st, 1, &item, sizeof answer, answer),
                    "isc_dsql_sql_info");
            s.Check(lib.isc_dsql_free_statement(s.Status(), &st, DSQL_drop), "free");
            s.Commit(tr);
        } catch (const TRawError&) {
            if (st) lib.isc_dsql_free_statement(s.Status(), &st, DSQL_drop);
            s.RollbackQuietly(tr);
            ++failures;
        }
    }
    return failures;
}

// ---------------------------------------------------------------------------------------------
// Through the layer

// The main window's database objects, set as its definition and FormCreate set them (no alias
// store: the connection parameters are those FormCreate assigns anyway).
struct TLayer {
    TComponent Form;
    TpFIBDatabase* dbSource;
    TpFIBTransaction* transLocale;
    TpFIBQuery* qryLocale;

    TLayer() {
        Form.SetName(QStringLiteral("frmPrincipale"));
        dbSource = new TpFIBDatabase(&Form);
        dbSource->SetName(QStringLiteral("dbSource"));
        transLocale = new TpFIBTransaction(&Form);
        transLocale->SetName(QStringLiteral("transLocale"));
        qryLocale = new TpFIBQuery(&Form);
        qryLocale->SetName(QStringLiteral("qryLocale"));

        dbSource->SetSQLDialect(ProgramSQLDialect);
        dbSource->SetTimeout(0);
        dbSource->SetSynchronizeTime(false);
        dbSource->SetWaitForRestoreConnect(0);
        ConfigureProgramWriteTransaction(*transLocale, dbSource);
        qryLocale->SetDatabase(dbSource);
        qryLocale->SetTransaction(transLocale);

        SetProgramConnectParams(*dbSource, MotDePasseGestion());
        dbSource->SetConnected(true);
    }
    ~TLayer() {
        if (dbSource->Connected()) dbSource->SetConnected(false);
    }
};

// Step 4 of btnChangerClick in « Modifier » mode, the branch box empty.
int RunLayer(TLayer& w, const TNewBank& bank, const std::vector<TMandate>& mandates) {
    int failures = 0;
    for (const TMandate& m : mandates) {
        const QString iban = NewIban(bank, m.Iban);
        w.transLocale->StartTransaction();
        try {
            w.qryLocale->SQL().SetText(ModifierSQL(m.Id));
            w.qryLocale->Prepare();
            w.qryLocale->ParamByName(QStringLiteral("P0"))->SetAsString(iban);
            w.qryLocale->ParamByName(QStringLiteral("P1"))->SetAsString(bank.Bic);
            w.qryLocale->ParamByName(QStringLiteral("P2"))->SetAsInteger(qint32(bank.Id));
            SetCompteAttendu(*w.qryLocale, TCompteMandat{m.Iban, m.Bic, m.Bank});
            w.qryLocale->ExecQuery();
            if (w.qryLocale->RowsAffected() != 1) ++failures;
            w.qryLocale->Close();
            w.qryLocale->FreeHandle();
            w.transLocale->Commit();
        } catch (...) {
            if (w.transLocale->Active()) w.transLocale->Rollback();
            ++failures;
        }
    }
    return failures;
}

// ---------------------------------------------------------------------------------------------
// Setup and report

TNewBank PickNewBank(TRawSession& s) {
    const QStringList rows = s.SelectTexts(QStringLiteral(
        "SELECT FIRST 1 CAST(BANQ_ID AS VARCHAR(20)) || '|' || BANQ_BIC || '|' || BANQ_BANQUE "
        "FROM BANQUE WHERE BANQ_CODE_PAYS = 'FR' AND CHAR_LENGTH(BANQ_BANQUE) = 5 "
        "AND BANQ_ID < 2147483648 ORDER BY BANQ_ID"));
    if (rows.isEmpty()) throw TRawError("no French bank with a 5-digit code in the database");
    const QStringList parts = rows.first().split(u'|');
    return TNewBank{parts.value(2), parts.value(1), parts.value(0).toLongLong()};
}

// Mandates the new bank does not hold yet, with an IBAN the key functions can read: the
// program would stop its run at any other (a conversion error is not guarded).
std::vector<TMandate> PickMandates(TRawSession& s, const TNewBank& bank, int wanted) {
    const QStringList rows = s.SelectTexts(
        QStringLiteral("SELECT FIRST %1 CAST(CMAN_ID AS VARCHAR(20)) || ' ' || CMAN_IBAN || ' ' "
                       "|| CMAN_BIC || ' ' || CAST(CMAN_IDBANQ AS VARCHAR(20)) "
                       "FROM CLIENTS_MANDAT WHERE CMAN_IBAN STARTING WITH 'FR' "
                       "AND CHAR_LENGTH(CMAN_IBAN) = 27 AND CMAN_IDBANQ IS DISTINCT FROM %2 "
                       "AND CMAN_BIC IS NOT NULL AND CMAN_BIC NOT CONTAINING ' ' "
                       "AND CMAN_IDBANQ IS NOT NULL ORDER BY CMAN_ID")
            .arg(qint64(wanted) * 2)
            .arg(bank.Id));
    std::vector<TMandate> mandates;
    for (const QString& row : rows) {
        if (int(mandates.size()) == wanted) break;
        TMandate m{row.section(u' ', 0, 0), row.section(u' ', 1, 1), row.section(u' ', 2, 2),
                   row.section(u' ', 3, 3).toLongLong()};
        try {
            NewIban(bank, m.Iban);
        } catch (const std::exception&) {
            continue;
        }
        mandates.push_back(m);
    }
    return mandates;
}

qint64 CountOfBank(TRawSession& s, const TNewBank& bank) {
    return s
        .SelectTexts(QStringLiteral("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM CLIENTS_MANDAT "
                                    "WHERE CMAN_IDBANQ = %1")
                         .arg(bank.Id))
        .value(0)
        .toLongLong();
}

// The run wrote what the program would have written: every mandate moved to the bank, and the
// first one holds the IBAN computed for it.
void Verify(TRawSession& s, const TNewBank& bank, const std::vector<TMandate>& chunk, qint64 before,
            int failures, const char* loop) {
    const qint64 moved = CountOfBank(s, bank) - before;
    const QString first = s.SelectTexts(QStringLiteral("SELECT CMAN_IBAN || '|' || CMAN_BIC "
                                                       "FROM CLIENTS_MANDAT WHERE CMAN_ID = %1")
                                            .arg(chunk.front().Id))
                              .value(0);
    const QString expected = NewIban(bank, chunk.front().Iban) + u'|' + bank.Bic;
    if (failures != 0 || moved != qint64(chunk.size()) || first != expected) {
        throw TRawError(QStringLiteral("%1: %2 failed writes, %3 of %4 mandates moved, first "
                                       "mandate holds '%5', expected '%6'")
                            .arg(QString::fromUtf8(loop))
                            .arg(failures)
                            .arg(moved)
                            .arg(chunk.size())
                            .arg(first, expected)
                            .toStdString());
    }
}

// CPU seconds the server process has used so far, when bench/run told us its id.
double ServerCpuSeconds() {
    const char* pid = std::getenv("RAVELIN_BENCH_SERVER_PID");
    if (!pid || !*pid) return -1;
    std::FILE* f = std::fopen((std::string("/proc/") + pid + "/stat").c_str(), "r");
    if (!f) return -1;
    char buffer[1024] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = 0;
    // Fields after the command name, which may hold blanks: it ends at the last ')'.
    const char* p = std::strrchr(buffer, ')');
    if (!p) return -1;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

struct TRun {
    TMeasure M;
    double ServerCpu = -1;
};

struct TSummary {
    double PerSecond = 0, Slowest = 0, Fastest = 0, MsPerMandate = 0, ClientCpuUs = 0,
           ServerCpuUs = -1, AllocsPer = 0, BytesPer = 0, RssKiB = -1;
};

TSummary Summarise(const std::vector<TRun>& runs, int n) {
    std::vector<double> rate, cpu, server, allocs, bytes, rss;
    for (const TRun& r : runs) {
        rate.push_back(n / r.M.Seconds);
        cpu.push_back(r.M.CpuSeconds * 1e6 / n);
        if (r.ServerCpu >= 0) server.push_back(r.ServerCpu * 1e6 / n);
        allocs.push_back(double(r.M.Allocations) / n);
        bytes.push_back(double(r.M.AllocatedBytes) / n);
        if (r.M.PeakRssGrowthKiB >= 0) rss.push_back(double(r.M.PeakRssGrowthKiB));
    }
    TSummary s;
    s.PerSecond = Median(rate);
    s.Slowest = *std::min_element(rate.begin(), rate.end());
    s.Fastest = *std::max_element(rate.begin(), rate.end());
    s.MsPerMandate = 1000.0 / s.PerSecond;
    s.ClientCpuUs = Median(cpu);
    if (!server.empty()) s.ServerCpuUs = Median(server);
    s.AllocsPer = Median(allocs);
    s.BytesPer = Median(bytes);
    if (!rss.empty()) s.RssKiB = Median(rss);
    return s;
}

void PrintRun(int round, const char* loop, const TRun& r, int n) {
    std::printf("  round %d  %s %8.0f mandates/s  client CPU %6.0f µs", round, loop,
                n / r.M.Seconds, r.M.CpuSeconds * 1e6 / n);
    if (r.ServerCpu >= 0) std::printf("  server CPU %6.0f µs", r.ServerCpu * 1e6 / n);
    std::printf("  (per mandate)\n");
    std::fflush(stdout);
}

// The spread of the rounds comes first: on a busy machine the wall-clock figures wander, the
// CPU times per mandate much less.
void PrintSummary(const char* loop, const TSummary& s) {
    std::printf("  %s %8.0f mandates/s (%.0f-%.0f)  %6.3f ms  client CPU %6.0f µs", loop,
                s.PerSecond, s.Slowest, s.Fastest, s.MsPerMandate, s.ClientCpuUs);
    if (s.ServerCpuUs >= 0) std::printf("  server CPU %6.0f µs", s.ServerCpuUs);
    if (AllocationsCounted()) std::printf("  %6.1f allocs %8.0f B", s.AllocsPer, s.BytesPer);
    if (s.RssKiB >= 0) std::printf("  peak RSS +%.0f KiB", s.RssKiB);
    std::printf("\n");
}

int Usage() {
    std::fprintf(stderr, "usage: bench_modifier [--mandates N] [--rounds R]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int n = 2000;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        if (arg == "--mandates")
            n = std::atoi(argv[++i]);
        else if (arg == "--rounds")
            rounds = std::atoi(argv[++i]);
        else
            return Usage();
    }
    if (n < 1 || rounds < 1) return Usage();

    try {
        IIBClientLibraryPtr library = GetClientLibrary(LibraryName);
        TRawSession raw(library);
        raw.Attach(DatabaseName.constData());
        const TNewBank bank = PickNewBank(raw);
        const std::vector<TLoop> loops = {lpRaw, lpLayer, lpRawTwice};
        const int perLoop = WarmUp + rounds * n;
        const int wanted = perLoop * int(loops.size());
        const std::vector<TMandate> mandates = PickMandates(raw, bank, wanted);
        if (int(mandates.size()) < wanted) {
            std::fprintf(stderr,
                         "bench_modifier: %d usable mandates, %d needed (scripts/volume %d adds "
                         "them)\n",
                         int(mandates.size()), wanted, wanted - int(mandates.size()) + 1000);
            return 1;
        }

        std::printf("« Modifier », one read-committed transaction per mandate: %d mandates per "
                    "run, %d rounds, medians\n",
                    n, rounds);
        std::printf("client %s, forced writes %s, new bank %s (id %lld)\n",
                    qPrintable(library->GetLibraryName()), raw.ForcedWrites() ? "ON" : "off",
                    qPrintable(bank.Code), bank.Id);
        if (raw.ForcedWrites())
            std::printf("warning: forced writes are on, every commit waits for the disk\n");

        TLayer layer;
        auto next = mandates.begin();
        auto take = [&](int count) {
            std::vector<TMandate> chunk(next, next + count);
            next += count;
            return chunk;
        };
        auto runLoop = [&](TLoop loop, const std::vector<TMandate>& chunk) -> int {
            switch (loop) {
            case lpRaw:
                return RunRaw(raw, bank, chunk, false);
            case lpRawTwice:
                return RunRaw(raw, bank, chunk, true);
            case lpLayer:
                return RunLayer(layer, bank, chunk);
            default:
                throw TRawError("loop not built");
            }
        };

        for (TLoop loop : loops) {
            const std::vector<TMandate> chunk = take(WarmUp);
            const qint64 before = CountOfBank(raw, bank);
            Verify(raw, bank, chunk, before, runLoop(loop, chunk), LoopNames[loop]);
        }
        std::vector<std::vector<TRun>> runs(LoopCount);
        for (int round = 1; round <= rounds; ++round) {
            // Each round starts one loop further, so that no loop always follows the same one
            // (the server cleans up the versions a run leaves during the next run).
            std::vector<TLoop> order(loops);
            std::rotate(order.begin(), order.begin() + (round - 1) % int(order.size()),
                        order.end());
            for (TLoop loop : order) {
                const std::vector<TMandate> chunk = take(n);
                const qint64 before = CountOfBank(raw, bank);
                const double serverBefore = ServerCpuSeconds();
                TMeasureScope scope;
                const int failures = runLoop(loop, chunk);
                TRun r{scope.Stop(), -1};
                const double serverAfter = ServerCpuSeconds();
                if (serverBefore >= 0 && serverAfter >= 0) r.ServerCpu = serverAfter - serverBefore;
                Verify(raw, bank, chunk, before, failures, LoopNames[loop]);
                runs[loop].push_back(r);
                PrintRun(round, LoopNames[loop], r, n);
            }
        }

        std::printf("medians (per mandate):\n");
        std::array<TSummary, LoopCount> s{};
        for (TLoop loop : loops) {
            s[loop] = Summarise(runs[loop], n);
            PrintSummary(LoopNames[loop], s[loop]);
        }
        const TSummary& r1 = s[lpRaw];
        const TSummary& r2 = s[lpRawTwice];
        std::printf("raw×2/raw   %.2f  (what the intended second prepare alone costs)\n",
                    r2.PerSecond / r1.PerSecond);
        const TSummary& l = s[lpLayer];
        std::printf("layer/raw   %.2f  speed,  client CPU ×%.2f", l.PerSecond / r1.PerSecond,
                    l.ClientCpuUs / r1.ClientCpuUs);
        if (AllocationsCounted() && r1.AllocsPer > 0)
            std::printf(",  allocations ×%.1f", l.AllocsPer / r1.AllocsPer);
        std::printf("\nlayer/raw×2 %.2f  speed,  client CPU ×%.2f  (the layer's own cost)\n",
                    l.PerSecond / r2.PerSecond, l.ClientCpuUs / r2.ClientCpuUs);
        std::printf("peak RSS of the process: %lld KiB\n", (long long)PeakRssKiB());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_modifier: %s\n", e.what());
        return 1;
    }
    return 0;
}
