// The bank change run as a user starts it: the real main window, offscreen, lists the mandates
// of one bank with « Vérifier » and moves them with « Changer », in « Modifier » and then in
// « Recréer » mode, side by side in one process with the same work written directly on the
// client library.
//
// Each loop owns a set of mandates and a pair of banks of its own (codes no generated mandate
// carries), and moves its set from one bank of the pair to the other, then back at the next
// run: every run starts from a list of exactly N active mandates in the same state for both.
// « Recréer » leaves the old rows inactive at the bank they leave, where the list (active
// mandates only) no longer sees them. The window runs twice, with its change journal and
// without it, so that the journal's cost shows against the same window in the same process.
// Last, the window (with its journal, then without it) and the raw loop take turns mandate by
// mandate on their own sets, which tells their costs per mandate apart from the machine's
// swings.
#include "Application.h"
#include "Dialogs.h"
#include "Journal.h"
#include "MandateList.h"
#include "Measure.h"
#include "Programme.h"
#include "RawClient.h"
#include "Unit1.h"
#include "uFonctions_Verification.h"

#include "Controls.h"
#include "pFIBDataSet.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr unsigned short Dialect = RawDialect;
// The rows the grid shows, as the layer's open fetches them.
constexpr int GridRows = 20;
// Our banks' identifiers start here, far above the demo's and the generator's.
constexpr qint64 BankBase = 9100000000;

enum TLoop { lpLayer, lpLayerSansJournal, lpRaw, LoopCount };
const char* const LoopNames[LoopCount] = {"window ", "w/o jnl", "raw    "};
enum TMode { mdModifier, mdRecreer, ModeCount };
const char* const ModeNames[ModeCount] = {"Modifier", "Recréer "};

struct TBank {
    qint64 Id = 0;
    QString Code;
    QString Bic;
    QString Nom;
};

// A loop's two banks; the mandates are at From when a run starts.
struct TPair {
    TBank From;
    TBank To;
    void Swap() { std::swap(From, To); }
};

// The new IBAN as the window builds it, the branch box left empty.
QString NewIban(const TBank& bank, const QString& iban) {
    return NouvelIbanFrancais(bank.Code, QString(), iban);
}

QString ListSql(const TBank& bank) {
    return MandateSelectLines(bank.Id, bank.Code, QString(), true).join(QStringLiteral("\r\n"));
}

// What the client library is sent for the program's text: its named markers become "?".
QString ServerSql(QString text) {
    for (const char* name :
         {":P0", ":P1", ":P2", ":CMAN_MANDAT", ":ATTENDU_IBAN", ":ATTENDU_BIC", ":ATTENDU_BANQUE"})
        text.replace(QLatin1String(name), QStringLiteral("?"));
    return text;
}

// ---------------------------------------------------------------------------------------------
// Straight on the client library

const char WriteTpbBytes[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait, isc_tpb_rec_version,
                              isc_tpb_read_committed};
const QByteArray WriteTpb = QByteArray::fromRawData(WriteTpbBytes, sizeof WriteTpbBytes);

// One statement's handle, prepared `times` times in a row as the layer does it: the layer
// prepares explicitly and prepares again at the first execution of a statement with parameters.
// Each prepare asks what the layer asks: the statement type and the parameters.
class TRawStatement {
public:
    explicit TRawStatement(TRawSession& s) : FS(s) {
        FOut = reinterpret_cast<XSQLDA*>(FOutStorage.data());
        FBind = reinterpret_cast<XSQLDA*>(FBindStorage.data());
        FOut->version = FBind->version = SQLDA_VERSION1;
        FOut->sqln = 1;
        FBind->sqln = 6;
    }
    ~TRawStatement() {
        if (FSt) FS.Lib().isc_dsql_free_statement(FS.Status(), &FSt, DSQL_drop);
    }
    TRawStatement(const TRawStatement&) = delete;
    TRawStatement& operator=(const TRawStatement&) = delete;

    void Prepare(isc_tr_handle& tr, const QByteArray& sql, int times) {
        IIBClientLibrary& lib = FS.Lib();
        for (int i = 0; i < times; ++i) {
            Free();
            FS.Check(lib.isc_dsql_alloc_statement2(FS.Status(), FS.Db(), &FSt), "alloc");
            FS.Check(
                lib.isc_dsql_prepare(FS.Status(), &tr, &FSt, 0, sql.constData(), Dialect, FOut),
                "isc_dsql_prepare");
            const char item = isc_info_sql_stmt_type;
            char answer[8] = {};
            FS.Check(lib.isc_dsql_sql_info(FS.Status(), &FSt, 1, &item, sizeof answer, answer),
                     "isc_dsql_sql_info");
            FS.Check(lib.isc_dsql_describe_bind(FS.Status(), &FSt, Dialect, FBind),
                     "isc_dsql_describe_bind");
        }
    }
    void Execute(isc_tr_handle& tr, XSQLDA* params) {
        FS.Check(FS.Lib().isc_dsql_execute(FS.Status(), &tr, &FSt, Dialect, params),
                 "isc_dsql_execute");
        Free();
    }
    // Executes an update and answers how many rows it changed, as the window asks of each
    // write: the row must still hold what the list showed.
    int ExecuteUpdate(isc_tr_handle& tr, XSQLDA* params) {
        FS.Check(FS.Lib().isc_dsql_execute(FS.Status(), &tr, &FSt, Dialect, params),
                 "isc_dsql_execute");
        const char item = isc_info_sql_records;
        char answer[64] = {};
        FS.Check(FS.Lib().isc_dsql_sql_info(FS.Status(), &FSt, 1, &item, sizeof answer, answer),
                 "isc_dsql_sql_info");
        int updated = 0;
        // isc_info_sql_records, its length, then counts: a code, a 2-byte length, a value.
        for (int i = 3; i < int(sizeof answer) - 2 && answer[i] != isc_info_end;) {
            const int length = int(FS.Lib().isc_vax_integer(answer + i + 1, 2));
            if (answer[i] == isc_info_req_update_count)
                updated = int(FS.Lib().isc_vax_integer(answer + i + 3, short(length)));
            i += 3 + length;
        }
        Free();
        return updated;
    }
    void Free() {
        if (FSt) FS.Check(FS.Lib().isc_dsql_free_statement(FS.Status(), &FSt, DSQL_drop), "free");
    }

private:
    TRawSession& FS;
    isc_stmt_handle FSt = 0;
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(1)> FOutStorage{};
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(6)> FBindStorage{};
    XSQLDA* FOut;
    XSQLDA* FBind;
};

// Up to six parameters, pointed at each mandate's values; the types the layer's setters send.
class TRawParams {
public:
    TRawParams() {
        FDa = reinterpret_cast<XSQLDA*>(FStorage.data());
        FDa->version = SQLDA_VERSION1;
        FDa->sqln = 6;
    }
    XSQLDA* Text(QByteArray& text) {
        SetText(0, &text);
        FDa->sqld = 1;
        return FDa;
    }
    // The listed IBAN, BIC and bank the row must still hold, from parameter `first` on; a null
    // column as a null parameter.
    XSQLDA* Listed(int first, const TRawMandate& m, QByteArray* iban, QByteArray* bic) {
        SetText(first, m.IsNull(mcIban) ? nullptr : iban);
        SetText(first + 1, m.IsNull(mcBic) ? nullptr : bic);
        FListedBank = m.IdBanq;
        SetInt64(first + 2, m.IsNull(mcIdBanq) ? nullptr : &FListedBank);
        FDa->sqld = ISC_SHORT(first + 3);
        return FDa;
    }
    XSQLDA* Modifier(QByteArray& iban, QByteArray& bic, ISC_INT64& bank, const TRawMandate& m,
                     QByteArray* listedIban, QByteArray* listedBic) {
        SetText(0, &iban);
        SetText(1, &bic);
        SetInt64(2, &bank);
        return Listed(3, m, listedIban, listedBic);
    }

private:
    void SetText(int i, QByteArray* text) {
        XSQLVAR& v = FDa->sqlvar[i];
        v.sqltype = SQL_TEXT + 1;
        FNulls[size_t(i)] = text ? 0 : -1;
        v.sqlind = &FNulls[size_t(i)];
        v.sqldata = text ? text->data() : nullptr;
        v.sqllen = text ? ISC_SHORT(text->size()) : 0;
    }
    void SetInt64(int i, ISC_INT64* value) {
        XSQLVAR& v = FDa->sqlvar[i];
        v.sqltype = SQL_INT64 + 1;
        FNulls[size_t(i)] = value ? 0 : -1;
        v.sqlind = &FNulls[size_t(i)];
        v.sqllen = sizeof(ISC_INT64);
        v.sqldata = reinterpret_cast<ISC_SCHAR*>(value ? value : &FListedBank);
    }
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(6)> FStorage{};
    XSQLDA* FDa;
    std::array<short, 6> FNulls{};
    ISC_INT64 FListedBank = 0;
};

// The list as the window holds it: transSource's snapshot, the select executed and the grid's
// first rows fetched.
struct TRawList {
    explicit TRawList(TRawSession& s) : S(s), Query(s, Tr) {}
    ~TRawList() {
        try {
            Query.Close();
        } catch (const TRawError&) {
        }
        if (Tr) S.RollbackQuietly(Tr);
    }
    void Open(const TBank& bank) {
        Query.Close();
        if (Tr) S.RollbackQuietly(Tr);
        Rows.Clear();
        Tr = S.Start(ReadingTpb());
        Query.Open(ListSql(bank));
        for (int i = 0; i < GridRows && Query.FetchInto(Rows); ++i) {
        }
    }
    void FetchAll() {
        while (Query.FetchInto(Rows)) {
        }
    }

    TRawSession& S;
    isc_tr_handle Tr = 0;
    TRawMandateQuery Query;
    TRawMandates Rows;
};

// One mandate in a transaction of its own; false when it was rolled back.
bool RawWrite(TRawSession& s, TRawStatement& st, TRawParams& params, TMode mode, const TBank& bank,
              const TRawMandate& m, const TRawMandates& rows) {
    const QString id = QString::number(m.Id);
    QByteArray listedIban = rows.Text(m, 1);
    QByteArray listedBic = rows.Text(m, 2);
    const QString iban = NewIban(bank, QString::fromLatin1(listedIban));
    isc_tr_handle tr = s.Start(WriteTpb);
    try {
        if (mode == mdRecreer) {
            st.Prepare(tr, ServerSql(RecreerDeactivateSQL(id)).toLatin1(), 2);
            // Ended or changed since the listing: nothing to copy.
            if (st.ExecuteUpdate(tr, params.Listed(0, m, &listedIban, &listedBic)) != 1) {
                s.RollbackQuietly(tr);
                return false;
            }
            QByteArray reference =
                RecreerReference(QString::fromLatin1(rows.Text(m, 4))).toLatin1();
            st.Prepare(
                tr, ServerSql(RecreerInsertSQL(id, bank.Id, iban, bank.Bic, bank.Nom)).toLatin1(),
                2);
            st.Execute(tr, params.Text(reference));
        } else {
            QByteArray ib = iban.toLatin1();
            QByteArray bic = bank.Bic.toLatin1();
            ISC_INT64 bankId = bank.Id;
            st.Prepare(tr, ServerSql(ModifierSQL(id)).toLatin1(), 2);
            if (st.ExecuteUpdate(
                    tr, params.Modifier(ib, bic, bankId, m, &listedIban, &listedBic)) != 1) {
                s.RollbackQuietly(tr);
                return false;
            }
        }
        s.Commit(tr);
        return true;
    } catch (const TRawError&) {
        st.Free();
        s.RollbackQuietly(tr);
        return false;
    }
}

// What btnChangerClick does once the user said yes: every row read, each mandate written, the
// snapshot renewed and the list read again. Returns the mandates passed over.
int RunRaw(TRawSession& s, TRawList& list, TMode mode, const TPair& pair) {
    list.FetchAll();
    TRawStatement st(s);
    TRawParams params;
    int failures = 0;
    for (std::size_t i = 0; i < list.Rows.Count(); ++i)
        if (!RawWrite(s, st, params, mode, pair.To, list.Rows.Row(i), list.Rows)) ++failures;
    list.Open(pair.From);
    return failures;
}

// ---------------------------------------------------------------------------------------------
// Through the window

// Answers the confirmations "&Oui" and keeps what the other boxes said.
class TBoxes {
public:
    TBoxes() {
        SetMessageBoxHandler([this](const QString& text, const QString&, TMessageKind kind) {
            if (kind == TMessageKind::Information) Said << text;
            return IDYES;
        });
        SetErrorBoxHandler([this](const QString& text, const QString&) { Said << text; });
    }
    QStringList Said;
};

void ChooseBanks(TfrmPrincipale& frm, const TPair& pair) {
    frm.Ancien_ID = pair.From.Id;
    frm.Ancien_Code = pair.From.Code;
    frm.Ancien_BIC = pair.From.Bic;
    frm.Ancien_Nom = pair.From.Nom;
    frm.Nouveau_ID = pair.To.Id;
    frm.Nouveau_Code = pair.To.Code;
    frm.Nouveau_BIC = pair.To.Bic;
    frm.Nouveau_Nom = pair.To.Nom;
}

// The window set for a run of `pair` in `mode`, branch boxes empty, ready for « Vérifier ».
void SetUpWindow(TfrmPrincipale& frm, const TPair& pair, TMode mode, bool sansJournal) {
    frm.SansJournal = sansJournal;
    ChooseBanks(frm, pair);
    frm.rgoMandat->SetItemIndex(mode);
    frm.edtAncienGuichet->clear();
    frm.edtNouveauGuichet->clear();
}

// ---------------------------------------------------------------------------------------------
// Mandate by mandate

// The window's run and the raw loop taking turns, one mandate each: after each of the window's
// mandates, the raw loop writes one of its own. On a shared machine the pace of both swings by
// a fifth from one second to the next, more than the window costs over the raw loop; turns of
// one mandate see the same machine, and their sums compare the work itself. The run's fixed
// costs (reading every row, the dialog, the list read again) stay in the rounds' figures; the
// window's first mandate, which carries them, is left out, and so is the raw loop's.
struct TPaired {
    double WindowWall = 0, WindowCpu = 0, RawWall = 0, RawCpu = 0;
    std::uint64_t WindowAllocations = 0, RawAllocations = 0;
    int Mandates = 0;
    int Failures = 0; // mandates rolled back, and boxes shown
    void Add(const TMark& windowStart, const TMark& windowEnd, const TMark& rawEnd) {
        WindowWall += windowEnd.Wall - windowStart.Wall;
        WindowCpu += windowEnd.Cpu - windowStart.Cpu;
        WindowAllocations += windowEnd.Allocations - windowStart.Allocations;
        RawWall += rawEnd.Wall - windowEnd.Wall;
        RawCpu += rawEnd.Cpu - windowEnd.Cpu;
        RawAllocations += rawEnd.Allocations - windowEnd.Allocations;
        ++Mandates;
    }
    TPaired& operator+=(const TPaired& p) {
        WindowWall += p.WindowWall;
        WindowCpu += p.WindowCpu;
        WindowAllocations += p.WindowAllocations;
        RawWall += p.RawWall;
        RawCpu += p.RawCpu;
        RawAllocations += p.RawAllocations;
        Mandates += p.Mandates;
        Failures += p.Failures;
        return *this;
    }
};

TPaired RunPaired(TfrmPrincipale& frm, TBoxes& boxes, TRawSession& raw, TRawList& list, TMode mode,
                  bool sansJournal, const TPair& window, const TPair& rawPair) {
    SetUpWindow(frm, window, mode, sansJournal);
    frm.btnVerifier->click();
    list.Open(rawPair.From);
    list.FetchAll();
    TRawStatement st(raw);
    TRawParams params;
    TPaired paired;
    TMark start;
    int failures = 0;
    frm.OnProgression = [&](int fait, int) {
        const TMark windowEnd = Mark();
        if (std::size_t(fait) > list.Rows.Count()) return;
        if (!RawWrite(raw, st, params, mode, rawPair.To, list.Rows.Row(fait - 1), list.Rows))
            ++failures;
        const TMark rawEnd = Mark();
        if (fait >= 2) paired.Add(start, windowEnd, rawEnd);
        start = rawEnd;
    };
    frm.btnChanger->click();
    QCoreApplication::processEvents();
    frm.OnProgression = nullptr;
    paired.Failures = failures + int(boxes.Said.size());
    return paired;
}

// ---------------------------------------------------------------------------------------------
// The journal alone

// A run's journal without the run: each mandate's two lines (EN_COURS, then CHANGE with its
// amendment) formatted and handed to the system as the window writes them, then the sync. On a
// loaded machine the two window loops swing by more than the journal costs; this is the cost
// itself.
TMeasure JournalAlone(int n) {
    TJournal journal(TModeChangement::Recreer, QDateTime::currentDateTime());
    TLigneJournal l;
    l.idClient = QStringLiteral("8200000001");
    l.client = QStringLiteral("DUPONT-MARÉCHAL Jean-François");
    l.ancienBic = QStringLiteral("ANCIFRPPXXX");
    l.nouveauBic = QStringLiteral("OUESFRPPXXX");
    l.ancienneBanque = QStringLiteral("9100000000");
    l.nouvelleBanque = QStringLiteral("9100000001");
    const QString iban = QStringLiteral("FR7690000678901234567890123");
    TMeasureScope m;
    for (int i = 0; i < n; ++i) {
        l.id = QString::number(8000000000LL + i);
        l.ancienneReference = QStringLiteral("VOL-") + l.id;
        l.nouvelleReference = RecreerReference(l.ancienneReference);
        l.ancienIban = iban;
        l.nouvelIban = NouvelIbanFrancais(QStringLiteral("90001"), QString(), iban);
        l.resultat = Resultat::EnCours;
        l.modificationSepa.clear();
        journal.Ecrire(l);
        l.resultat = Resultat::Change;
        l.modificationSepa = ModificationSepa(TModeChangement::Recreer, l.ancienIban, l.nouvelIban,
                                              l.ancienneReference);
        journal.Ecrire(l);
    }
    journal.Terminer();
    return m.Stop();
}

// ---------------------------------------------------------------------------------------------
// Setup

// Two banks per loop and set of mandates (`set`), with codes no generated mandate carries. No
// country code: scripts/volume, run later on the same database, gives mandates only to French
// banks.
std::array<TBank, 2 * LoopCount> MakeBanks(TRawSession& s, int set) {
    std::array<TBank, 2 * LoopCount> banks;
    for (int i = 0; i < 2 * LoopCount; ++i) {
        TBank& b = banks[i];
        b.Id = BankBase + 10 * set + i;
        b.Code = QStringLiteral("9%1%2")
                     .arg(set, 2, 10, QLatin1Char('0'))
                     .arg(i, 2, 10, QLatin1Char('0'));
        b.Bic = QStringLiteral("BNCH%1FRPP").arg(i).left(11);
        b.Nom = QStringLiteral("Banque d'essai %1").arg(b.Code);
        s.ExecuteWrite(QStringLiteral("UPDATE OR INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, "
                                      "BANQ_BIC, BANQ_BANQUE) VALUES (%1, %2, %3, %4) "
                                      "MATCHING (BANQ_ID)")
                           .arg(b.Id)
                           .arg(QuotedSQL(b.Nom), QuotedSQL(b.Bic), QuotedSQL(b.Code)));
    }
    return banks;
}

qint64 Count(TRawSession& s, const QString& where) {
    return s
        .SelectTexts(QStringLiteral("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM CLIENTS_MANDAT "
                                    "WHERE ") +
                     where)
        .value(0)
        .toLongLong();
}

// n generated mandates none of our banks holds yet go to `bank`, active: the first n by
// identifier, taken as a range (an IN over a FIRST subquery is read again for every row).
void GiveMandates(TRawSession& s, const TBank& bank, int n) {
    const QString free = QStringLiteral("CMAN_MANDAT STARTING WITH 'VOL-' AND CMAN_IBAN STARTING "
                                        "WITH 'FR' AND CHAR_LENGTH(CMAN_IBAN) = 27 AND "
                                        "COALESCE(CMAN_IDBANQ, 0) < %1")
                             .arg(BankBase);
    const QString last =
        s.SelectTexts(QStringLiteral("SELECT FIRST 1 SKIP %1 CAST(CMAN_ID AS VARCHAR(20)) FROM "
                                     "CLIENTS_MANDAT WHERE %2 ORDER BY CMAN_ID")
                          .arg(n - 1)
                          .arg(free))
            .value(0);
    if (last.isEmpty()) throw TRawError("not enough generated mandates (scripts/volume adds them)");
    // Their IBANs under the bank's own code: the run passes over a mandate whose IBAN names
    // another bank than the one it is listed for.
    s.ExecuteWrite(QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_IDBANQ = %1, CMAN_ACTIF = -1, "
                                  "CMAN_IBAN = SUBSTRING(CMAN_IBAN FROM 1 FOR 4) || %4 || "
                                  "SUBSTRING(CMAN_IBAN FROM 10) WHERE %2 AND CMAN_ID <= %3")
                       .arg(bank.Id)
                       .arg(free, last, QuotedSQL(bank.Code)));
}

QString ListedAt(const TBank& bank) {
    return QStringLiteral("CMAN_ACTIF = -1 AND CMAN_IDBANQ = %1").arg(bank.Id);
}

// After a run of `pair`: every one of its n mandates at the new bank and none left at the old,
// else what went wrong; then the pair turned for the next run.
void CheckMovedAndSwap(TRawSession& raw, TPair& pair, int n, const QString& what, int failures,
                       const QStringList& said) {
    const qint64 moved = Count(raw, ListedAt(pair.To));
    if (failures != 0 || moved != n || Count(raw, ListedAt(pair.From)) != 0)
        throw TRawError(QStringLiteral("%1: %2 mandates at the new bank, %3 failures %4")
                            .arg(what)
                            .arg(moved)
                            .arg(failures)
                            .arg(said.join(u' '))
                            .toStdString());
    pair.Swap();
}

// « Annuler un passage… » on the journal of the window's last run of `pair` (moved and swapped
// since): every mandate back at the bank it left, the pair turned back, its time measured.
TMeasure UndoLastRun(TfrmPrincipale& frm, TBoxes& boxes, TRawSession& raw, TPair& pair, int n) {
    const QFileInfoList journals =
        QDir(DossierJournaux()).entryInfoList({QStringLiteral("*.csv")}, QDir::Files, QDir::Time);
    if (journals.isEmpty()) throw TRawError("the window's run left no journal");
    boxes.Said.clear();
    TMeasureScope u;
    frm.AnnulerPassage(journals.front().filePath());
    QCoreApplication::processEvents();
    const TMeasure measure = u.Stop();
    // The undo always says what it gave back; anything else was a failure.
    const QString expected = QStringLiteral("%1 mandats sur %1 ont été rendus à leur banque "
                                            "d'origine.")
                                 .arg(n);
    if (boxes.Said.size() != 1 || !boxes.Said.front().startsWith(expected))
        throw TRawError("undo: " + boxes.Said.join(u' ').toStdString());
    boxes.Said.clear();
    pair.Swap();
    if (Count(raw, ListedAt(pair.From)) != n || Count(raw, ListedAt(pair.To)) != 0)
        throw TRawError("undo: the mandates are not all back");
    return measure;
}

// ---------------------------------------------------------------------------------------------
// Report

struct TResult {
    std::vector<double> Rate;   // mandates per second, one per run
    std::vector<double> Cpu;    // client CPU µs per mandate
    std::vector<double> Allocs; // allocations per mandate
};

int Usage() {
    std::fprintf(stderr, "usage: bench_run [--mandates N] [--rounds R] [--paired P] "
                         "[--set S] [--mode modifier|recreer]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    int n = 10000;
    int rounds = 2;
    int set = 0;
    int pairedRounds = 2;
    // Both modes, or one alone (for a profile of one loop).
    int firstMode = 0, endMode = ModeCount;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        if (arg == "--mandates")
            n = std::atoi(argv[++i]);
        else if (arg == "--rounds")
            rounds = std::atoi(argv[++i]);
        else if (arg == "--set")
            set = std::atoi(argv[++i]);
        else if (arg == "--paired")
            pairedRounds = std::atoi(argv[++i]);
        else if (arg == "--mode") {
            const std::string mode = argv[++i];
            if (mode == "modifier")
                endMode = mdModifier + 1;
            else if (mode == "recreer")
                firstMode = mdRecreer;
            else
                return Usage();
        } else
            return Usage();
    }
    if (n < 1 || rounds < 1 || pairedRounds < 0 || set < 0 || set > 99) return Usage();
    // The window reads its alias store from the user's settings: a folder of our own.
    QTemporaryDir settings;
    if (!settings.isValid()) return 1;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    // The window measured is the program's own connection: a ravelin.conf of the user's or the
    // workstation's would send it elsewhere and ask for a password.
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", settings.path().toLocal8Bit());
    // The journals of the window's runs too: never in the user's own folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(settings.filePath(QStringLiteral("donnees"))));

    try {
        TRawSession raw(GetClientLibrary(ProgramLibraryName()));
        raw.Attach(ProgramDatabaseName().toLatin1().constData());
        const bool forced = raw.ForcedWrites();
        const std::array<TBank, 2 * LoopCount> banks = MakeBanks(raw, set);
        std::array<TPair, LoopCount> pairs = {TPair{banks[0], banks[1]}, TPair{banks[2], banks[3]},
                                              TPair{banks[4], banks[5]}};
        for (TPair& p : pairs) {
            if (Count(raw, ListedAt(p.From)) + Count(raw, ListedAt(p.To)) == 0)
                GiveMandates(raw, p.From, n);
            // A previous run may have left this set at the other bank.
            if (Count(raw, ListedAt(p.To)) > Count(raw, ListedAt(p.From))) p.Swap();
            const qint64 listed = Count(raw, ListedAt(p.From));
            if (listed != n)
                throw TRawError(QStringLiteral("bank %1 lists %2 mandates, %3 wanted (a set "
                                               "made for another size: use another --set, or "
                                               "scripts/volume to add mandates)")
                                    .arg(p.From.Id)
                                    .arg(listed)
                                    .arg(n)
                                    .toStdString());
        }

        std::printf("change run over %d listed mandates, one transaction per mandate, forced "
                    "writes %s, %d rounds per mode\n",
                    n, forced ? "ON" : "off", rounds);
        std::fflush(stdout);

        TBoxes boxes;
        TfrmPrincipale frm;
        if (!boxes.Said.isEmpty())
            throw TRawError("the window did not open: " + boxes.Said.join(u' ').toStdString());
        frm.show();
        QCoreApplication::processEvents();
        TRawList list(raw);

        std::array<std::array<TResult, LoopCount>, ModeCount> results;
        // Each round's undo pace and the pace of the run it gave back.
        std::vector<std::pair<double, double>> undo;
        std::array<std::vector<double>, LoopCount> firstScreen;
        // Indexed by the window's loop: with its journal or without.
        std::array<std::array<std::vector<TPaired>, 2>, ModeCount> paired;
        for (int mode = firstMode; mode < endMode; ++mode) {
            for (int round = 1; round <= rounds; ++round) {
                // Neither loop always runs after the other (the server cleans up behind a run
                // during the next one).
                std::array<TLoop, LoopCount> order = {lpLayer, lpLayerSansJournal, lpRaw};
                std::rotate(order.begin(), order.begin() + (round - 1) % LoopCount, order.end());
                if (mode == mdRecreer) std::reverse(order.begin(), order.end());
                for (TLoop loop : order) {
                    TPair& pair = pairs[loop];
                    int failures = 0;
                    TMeasure listing, run;
                    if (loop != lpRaw) {
                        SetUpWindow(frm, pair, TMode(mode), loop == lpLayerSansJournal);
                        TMeasureScope l;
                        frm.btnVerifier->click();
                        listing = l.Stop();
                        TMeasureScope r;
                        frm.btnChanger->click();
                        QCoreApplication::processEvents();
                        run = r.Stop();
                        failures = int(boxes.Said.size());
                    } else {
                        TMeasureScope l;
                        list.Open(pair.From);
                        listing = l.Stop();
                        TMeasureScope r;
                        failures = RunRaw(raw, list, TMode(mode), pair);
                        run = r.Stop();
                    }
                    CheckMovedAndSwap(raw, pair, n,
                                      QString::fromUtf8(LoopNames[loop]) + u' ' +
                                          QString::fromUtf8(ModeNames[mode]),
                                      failures, boxes.Said);
                    // The window's « Modifier » given back from its journal at once: the set is
                    // where it was, and the undo's pace is told against the run's own.
                    if (mode == mdModifier && loop == lpLayer) {
                        const TMeasure u = UndoLastRun(frm, boxes, raw, pair, n);
                        undo.push_back({n / u.Seconds, n / run.Seconds});
                        std::printf("  Modifier round %d  undo    %7.0f mandates/s  client CPU "
                                    "%5.0f µs, %5.1f allocations per mandate\n",
                                    round, n / u.Seconds, u.CpuSeconds * 1e6 / n,
                                    double(u.Allocations) / n);
                    }
                    results[mode][loop].Rate.push_back(n / run.Seconds);
                    results[mode][loop].Cpu.push_back(run.CpuSeconds * 1e6 / n);
                    results[mode][loop].Allocs.push_back(double(run.Allocations) / n);
                    firstScreen[loop].push_back(listing.Seconds * 1e3);
                    std::printf("  %s round %d  %s %7.0f mandates/s  client CPU %5.0f µs, %5.1f "
                                "allocations per mandate  (listing %.1f ms)\n",
                                ModeNames[mode], round, LoopNames[loop], n / run.Seconds,
                                run.CpuSeconds * 1e6 / n, double(run.Allocations) / n,
                                listing.Seconds * 1e3);
                    std::fflush(stdout);
                }
            }
            // The window with its journal and without it, each against the raw loop, in an
            // order that turns with the rounds.
            for (int round = 1; round <= pairedRounds; ++round) {
                std::array<TLoop, 2> windows = {lpLayer, lpLayerSansJournal};
                if (round % 2 == 0) std::swap(windows[0], windows[1]);
                for (TLoop window : windows) {
                    const TPaired p =
                        RunPaired(frm, boxes, raw, list, TMode(mode), window == lpLayerSansJournal,
                                  pairs[window], pairs[lpRaw]);
                    for (TLoop loop : {window, lpRaw})
                        CheckMovedAndSwap(raw, pairs[loop], n,
                                          QString::fromUtf8(LoopNames[loop]) + u' ' +
                                              QString::fromUtf8(ModeNames[mode]) +
                                              QStringLiteral(" mandate by mandate"),
                                          p.Failures, boxes.Said);
                    std::printf("  %s mandate by mandate, round %d  %s %5.0f µs, client CPU "
                                "%5.0f µs, %5.1f allocations  raw %5.0f µs, client CPU %5.0f "
                                "µs, %5.1f allocations\n",
                                ModeNames[mode], round, LoopNames[window],
                                p.WindowWall * 1e6 / p.Mandates, p.WindowCpu * 1e6 / p.Mandates,
                                double(p.WindowAllocations) / p.Mandates,
                                p.RawWall * 1e6 / p.Mandates, p.RawCpu * 1e6 / p.Mandates,
                                double(p.RawAllocations) / p.Mandates);
                    std::fflush(stdout);
                    paired[mode][window].push_back(p);
                }
            }
        }

        std::printf("medians, forced writes %s, %d mandates:\n", forced ? "ON" : "off", n);
        for (int mode = firstMode; mode < endMode; ++mode) {
            const TResult& w = results[mode][lpLayer];
            const TResult& r = results[mode][lpRaw];
            const double ratio = Median(w.Rate) / Median(r.Rate);
            std::printf("  %s  window %7.0f  raw %7.0f mandates/s  window/raw %.2f%s  client CPU "
                        "%.0f / %.0f µs (×%.2f)",
                        ModeNames[mode], Median(w.Rate), Median(r.Rate), ratio,
                        ratio >= 0.95 ? "" : "  (below 0.95)", Median(w.Cpu), Median(r.Cpu),
                        Median(w.Cpu) / Median(r.Cpu));
            if (AllocationsCounted())
                std::printf("  allocations %.1f / %.1f", Median(w.Allocs), Median(r.Allocs));
            std::printf("\n");
        }
        // On a shared machine the pace of every loop drifts from one minute to the next; a
        // round's loops run back to back, so each round's own window/raw pair drifts less than
        // the medians taken apart.
        std::printf("medians of each round's own window/raw:\n");
        for (int mode = firstMode; mode < endMode; ++mode) {
            const TResult& w = results[mode][lpLayer];
            const TResult& r = results[mode][lpRaw];
            std::vector<double> rates, cpus;
            for (std::size_t i = 0; i < w.Rate.size(); ++i) {
                rates.push_back(w.Rate[i] / r.Rate[i]);
                cpus.push_back(w.Cpu[i] / r.Cpu[i]);
            }
            const double ratio = Median(rates);
            std::printf("  %s  window/raw %.2f%s  client CPU ×%.2f  (rounds %.2f to %.2f)\n",
                        ModeNames[mode], ratio, ratio >= 0.95 ? "" : "  (below 0.95)", Median(cpus),
                        *std::min_element(rates.begin(), rates.end()),
                        *std::max_element(rates.begin(), rates.end()));
        }
        if (pairedRounds > 0) {
            std::printf("mandate by mandate, window and raw taking turns (%d rounds, the sums "
                        "of all turns):\n",
                        pairedRounds);
            for (int mode = firstMode; mode < endMode; ++mode)
                for (TLoop window : {lpLayer, lpLayerSansJournal}) {
                    TPaired all;
                    std::vector<double> rates, cpus;
                    for (const TPaired& p : paired[mode][window]) {
                        all += p;
                        rates.push_back(p.RawWall / p.WindowWall);
                        cpus.push_back(p.WindowCpu / p.RawCpu);
                    }
                    const double ratio = all.RawWall / all.WindowWall;
                    std::printf("  %s  %s/raw %.2f%s  client CPU %.0f / %.0f µs (×%.2f)  "
                                "(rounds: %.2f to %.2f, CPU ×%.2f to ×%.2f)\n",
                                ModeNames[mode], window == lpLayer ? "window" : "w/o jnl", ratio,
                                ratio >= 0.95 ? "" : "  (below 0.95)",
                                all.WindowCpu * 1e6 / all.Mandates, all.RawCpu * 1e6 / all.Mandates,
                                all.WindowCpu / all.RawCpu,
                                *std::min_element(rates.begin(), rates.end()),
                                *std::max_element(rates.begin(), rates.end()),
                                *std::min_element(cpus.begin(), cpus.end()),
                                *std::max_element(cpus.begin(), cpus.end()));
                }
        }
        if (!undo.empty()) {
            std::vector<double> ratios, rates;
            for (const auto& [u, r] : undo) {
                ratios.push_back(u / r);
                rates.push_back(u);
            }
            const double ratio = Median(ratios);
            std::printf("  Modifier  undo %7.0f mandates/s, undo/run %.2f%s  (rounds %.2f to "
                        "%.2f)\n",
                        Median(rates), ratio, ratio >= 0.9 ? "" : "  (below 0.9)",
                        *std::min_element(ratios.begin(), ratios.end()),
                        *std::max_element(ratios.begin(), ratios.end()));
        }
        for (int mode = firstMode; mode < endMode; ++mode) {
            const double with = Median(results[mode][lpLayer].Rate);
            const double without = Median(results[mode][lpLayerSansJournal].Rate);
            std::printf("  %s  window with journal / window without: %7.0f / %7.0f mandates/s = "
                        "%.3f (journal %+.1f %%)%s  client CPU %.0f / %.0f µs\n",
                        ModeNames[mode], with, without, with / without, (without / with - 1) * 100,
                        with / without >= 0.97 ? "" : "  (above 3 %)",
                        Median(results[mode][lpLayer].Cpu),
                        Median(results[mode][lpLayerSansJournal].Cpu));
        }
        const TMeasure alone = JournalAlone(n);
        std::printf("  journal alone: %.1f µs per mandate (client CPU %.1f µs, %.1f allocations), "
                    "against %.0f µs per mandate of the window's « %s »: %.1f %%\n",
                    alone.Seconds * 1e6 / n, alone.CpuSeconds * 1e6 / n,
                    double(alone.Allocations) / n, 1e6 / Median(results[firstMode][lpLayer].Rate),
                    QString::fromUtf8(ModeNames[firstMode]).trimmed().toUtf8().constData(),
                    alone.Seconds * 1e6 / n * Median(results[firstMode][lpLayer].Rate) / 1e4);
        std::printf("  Vérifier, open→first screen: window %.1f ms, raw %.1f ms, window/raw "
                    "%.2f\n",
                    Median(firstScreen[lpLayer]), Median(firstScreen[lpRaw]),
                    Median(firstScreen[lpLayer]) / Median(firstScreen[lpRaw]));
        frm.close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_run: %s\n", e.what());
        return 1;
    }
    return 0;
}
