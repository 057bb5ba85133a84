#include "FIBQuery.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace {

QString S(const char* text) {
    return QString::fromUtf8(text);
}

// The vector holds clusters of a kind word and its arguments; a C string takes two words.
bool StatusContains(ISC_STATUS code) {
    const ISC_STATUS* status = StatusVector();
    int i = 0;
    while (i < StatusVectorLength - 1 && status[i] != isc_arg_end) {
        if (status[i] == isc_arg_gds && status[i + 1] == code) return true;
        i += status[i] == isc_arg_cstring ? 3 : 2;
    }
    return false;
}

// The text's length travels with it, so that a NUL inside a quoted value is part of the value
// and does not end the statement there, cut in mid-literal. Past what the count can carry the
// client measures the text itself.
unsigned short ServerTextLength(const QByteArray& text) {
    return text.size() <= 0xFFFF ? static_cast<unsigned short>(text.size()) : 0;
}

bool StatusReportsError() {
    const ISC_STATUS* status = StatusVector();
    return status[0] == 1 && status[1] != 0;
}

// A text made only of characters up to the space holds no statement.
bool IsBlankText(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > ' ') return false;
    return true;
}

// Whether key, a registered name, is name's upper-case form (ASCII letters only, as names are
// registered).
bool IsUpperCaseOf(const QString& key, const QString& name) {
    if (key.size() != name.size()) return false;
    for (qsizetype i = 0; i < key.size(); ++i)
        if (key[i].unicode() != AsciiUpperCase(name[i].unicode())) return false;
    return true;
}

// The server text of a scan in the parameter list's mode that found no macros: the text with
// each occurrence's marker turned into "?" and the rest of it into blanks, in the scan's kept
// buffer when it is unshared and big enough.
void ServerTextOf(const QString& text, TParseParamsResult& scan) {
    QString& out = scan.ServerText;
    AssignKept(out, text);
    if (scan.Params.empty()) return;
    QChar* data = out.data();
    const qint32 length = qint32(out.size());
    for (const TParamOccurrence& o : scan.Params) {
        if (o.BeginPosInText >= 1 && o.BeginPosInText <= length)
            data[o.BeginPosInText - 1] = QLatin1Char('?');
        for (qint32 p = o.BeginPosInText + 1; p <= o.EndPosInText && p <= length; ++p)
            data[p - 1] = QLatin1Char(' ');
    }
}

// What an entry takes from its occurrence in the text.
void SetOccurrence(TFIBXSQLVAR& var, const TParamOccurrence& occurrence) {
    var.SetIsMacro(occurrence.IsMacro);
    var.SetQuoted(occurrence.Quoted);
    var.SetDefMacroValue(occurrence.DefMacroValue);
    var.SetInWhereClause(occurrence.InWhereClause);
    var.SetCanForceIsNull(occurrence.CanForceIsNull);
    var.SetBeginPosInText(occurrence.BeginPosInText);
    var.SetEndPosInText(occurrence.EndPosInText);
}

// Empties a text kept for its buffer: an unshared one keeps its storage for the next text.
template <typename T> void Empty(T& text) {
    if (text.isDetached())
        text.resize(0);
    else
        text.clear();
}

bool IsVariantNull(const QVariant& v) {
    return v.isValid() && v.isNull();
}

// The entry registered under exactly this key, without the fall-back to the server list that a
// lookup in the application's list has.
TFIBXSQLVAR* Registered(const TFIBXSQLDA& list, const QString& key) {
    const auto& names = list.RegisteredNames();
    const auto found = names.find(key);
    return found == names.end() ? nullptr : list.Vars(found->second);
}

// Keeps a flag of the run state for the length of a scope, however the scope ends.
class TRunStateGuard {
public:
    TRunStateGuard(TQueryRunState& state, TQueryRunStateFlag flag) : FState(state), FFlag(flag) {
        FState |= FFlag;
    }
    ~TRunStateGuard() { FState &= ~FFlag; }
    TRunStateGuard(const TRunStateGuard&) = delete;
    TRunStateGuard& operator=(const TRunStateGuard&) = delete;

private:
    TQueryRunState& FState;
    TQueryRunStateFlag FFlag;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Life

TFIBQuery::TFIBQuery(TComponent* AOwner) : TComponent(AOwner) {
    FBase = std::make_unique<TFIBBase>(this);
    FBase->OnTransactionEnding = [this](TObject* Sender) { TransactionEnding(Sender); };
    FBase->OnDatabaseDisconnecting = [this](TObject* Sender) { DatabaseDisconnecting(Sender); };
    FSQL = std::make_unique<TStringList>();
    FSQL->OnChanging = [this](TObject*) { SQLTextChanging(); };
    FSQL->OnChange = [this](TObject*) { SQLTextChanged(); };
    FUserSQLParams = std::make_unique<TFIBXSQLDA>(this, true, true);
    FSQLParams = std::make_unique<TFIBXSQLDA>(this, true);
    FSQLRecord = std::make_unique<TFIBXSQLDA>(this, false);
    if (auto* db = dynamic_cast<TFIBDatabase*>(AOwner)) SetDatabase(db);
    if (auto* tr = dynamic_cast<TFIBTransaction*>(AOwner)) SetTransaction(tr);
}

TFIBQuery::~TFIBQuery() {
    Destroying();
    // A statement going away must not leave its server statement behind, but nothing it could
    // report would reach anyone any more.
    try {
        if (FHandle) FreeHandle();
    } catch (...) {
    }
    FHandle = 0;
    FBase.reset();
}

// ---------------------------------------------------------------------------------------------
// Connection and transaction

TFIBDatabase* TFIBQuery::Database() const {
    return FBase ? FBase->Database() : nullptr;
}

void TFIBQuery::SetDatabase(TFIBDatabase* value) {
    if (value == Database()) return;
    if (FPrepared) FreeHandle();
    FBase->SetDatabase(value);
}

TFIBTransaction* TFIBQuery::Transaction() const {
    return FBase ? FBase->Transaction() : nullptr;
}

void TFIBQuery::SetTransaction(TFIBTransaction* value) {
    FBase->SetTransaction(value);
}

IIBClientLibrary* TFIBQuery::ClientLibrary() const {
    TFIBDatabase* db = Database();
    return db ? db->ClientLibrary() : nullptr;
}

isc_db_handle* TFIBQuery::DBHandle() {
    return FBase->DBHandle();
}

isc_tr_handle* TFIBQuery::TRHandle() {
    return FBase->TRHandle();
}

unsigned short TFIBQuery::Dialect() const {
    TFIBDatabase* db = Database();
    return db ? static_cast<unsigned short>(db->SQLDialect() & 0xFFFF) : 3;
}

void TFIBQuery::TransactionEnding(TObject*) {
    TFIBTransaction* tr = Transaction();
    if (!tr || !FOpen || !FAutoCloseOnTransactionEnd) return;
    // Only a hard end takes the cursor away; the retaining variants keep it usable.
    if (tr->State() == tsDoRollback || tr->State() == tsDoCommit) Close();
}

void TFIBQuery::DatabaseDisconnecting(TObject*) {
    if (!FHandle) return;
    Close();
    FreeHandle();
}

// ---------------------------------------------------------------------------------------------
// Status checks

ISC_STATUS TFIBQuery::Call(ISC_STATUS ErrCode, bool RaiseError) {
    RestoreFPUControlWord();
    // Without a transaction to hear of it, the code still tells the caller what happened: a
    // failed call must never pass for a success.
    ISC_STATUS result = ErrCode;
    if (TFIBTransaction* tr = Transaction()) result = tr->Call(ErrCode, false);
    if (ErrCode > 0 && RaiseError) RaiseInterBaseError(ClientLibrary(), this);
    return result;
}

void TFIBQuery::CheckOpen(const QString& OpName) {
    if (!FOpen) RaiseClientError(29, OpName, ComponentPath(this));
}

void TFIBQuery::CheckClosed(const QString& OpName) {
    if (FOpen) RaiseClientError(28, OpName, ComponentPath(this));
}

void TFIBQuery::CheckValidStatement() {
    if (!Database()) RaiseClientError(21, ComponentPath(this));
    if (!Transaction()) RaiseClientError(22, ComponentPath(this));
    bool connected = false;
    bool started = false;
    bool failed = false;
    try {
        if (!Database()->Connected()) {
            Database()->Open(true);
            connected = true;
        }
        if (!Transaction()->Active()) {
            Transaction()->StartTransaction();
            started = true;
        }
        Prepare();
    } catch (...) {
        failed = true;
    }
    // Leave the connection and the transaction as they were found, whatever the outcome.
    try {
        if (started && Transaction()->Active()) Transaction()->Commit();
        if (connected && Database()->Connected()) Database()->Close();
    } catch (...) {
        failed = true;
    }
    if (failed) RaiseClientError(27, ComponentPath(this));
}

// ---------------------------------------------------------------------------------------------
// Text

void TFIBQuery::SQLTextChanging() {
    if (HasState(csDesigning))
        Close();
    else if (FOpen)
        // Checked here so that the operation's words are built only for the message.
        CheckClosed(S("change sql text"));
    if (OnSQLChanging) OnSQLChanging(this);
    if (FHandle) FreeHandle();
    FMacroChanged = false;
}

void TFIBQuery::EncodeText(const QString& text, bool unicode) {
    // The 8-bit text goes into the previous one's buffer: a statement is encoded at every
    // prepare. A refused text leaves nothing that a prepare could send in its place.
    if (unicode)
        FPreparedSQL = text.toUtf8();
    else
        ServerAnsiTextInto(text, FPreparedSQL);
}

bool TFIBQuery::ScanUserParams(const QString& text) {
    FUserScanCurrent = false;
    // A statement made once per row differs from the previous text in the row's identifier:
    // the previous scan, moved past the number, is the new text's.
    if (FUserScanWhole && FUserScanKey == ServerScanKey() &&
        MoveScanToOtherNumber(FUserScan, FUserScanSource, text, FMacroChar)) {
        FUserScanSource = text;
        FUserScanCurrent = true;
        return true;
    }
    FUserScanWhole = false;
    try {
        if (!ParseParamsInto(FUserScan, text, FMacroChar, FParser.SQLKind(),
                             FParser.CanParamsCheck(), true, this))
            return false;
        FUserScanSource = text;
        FUserScanKey = ServerScanKey();
        FUserScanWhole = true;
        FUserScanCurrent = true;
        return true;
    } catch (...) {
        // A text that cannot be scanned leaves no server text behind: the previous statement
        // must not run under the new text. The next use scans again and reports the fault.
        FProcessedSQL.clear();
        FPreparedSQL.clear();
        FCodePageApplied = false;
        vUserParamsCreated = false;
        try {
            if (FHandle) FreeHandle();
        } catch (...) {
        }
        FPrepared = false;
        throw;
    }
}

void TFIBQuery::EncodeNewText(const QString& text, bool unicode) {
    TFIBDatabase* db = Database();
    if (!db || !db->Connected()) {
        // The connection's character set is not known yet: the prepare encodes the text again,
        // and refuses it then if it must.
        FPreparedSQL = StringToAnsi(text);
        return;
    }
    try {
        EncodeText(text, unicode);
    } catch (...) {
        // As for a text that cannot be scanned: no server text is left behind, and the next use
        // meets the refusal again rather than the previous statement.
        FProcessedSQL.clear();
        FPreparedSQL.clear();
        FCodePageApplied = false;
        vUserParamsCreated = false;
        FPrepared = false;
        throw;
    }
}

void TFIBQuery::SQLTextChanged() {
    FServerTextCurrent = false;
    FUserScanCurrent = false;
    FHaveMacros = false;
    const QString text = FSQL->Text();
    FParser.SetSQLText(text);
    if (FCountLockSQL >= 1) {
        // The list no longer matches the text: whoever needs it next rebuilds it.
        vUserParamsCreated = false;
        return;
    }
    ++FSQLTextChangeCount;
    FDoParamCheck = FParamCheck;
    bool noMarkers = true;
    if (FParamCheck && FSQL->Count() > 0) noMarkers = !HasParamMarkers(text, FMacroChar);
    if (noMarkers) {
        FUserSQLParams->SetCount(0);
        FSQLParams->SetCount(0);
        FProcessedSQL = text;
        TFIBDatabase* db = Database();
        EncodeNewText(text, db && db->IsUnicodeConnect());
    } else {
        if (ScanUserParams(text)) {
            RebuildList(FUserSQLParams, FUserScan.Params, true);
            for (int i = 0; i < FUserSQLParams->Count(); ++i)
                if (FUserSQLParams->Vars(i)->IsMacro()) FHaveMacros = true;
            if (FUserSQLParams->Count() > 0) {
                Empty(FProcessedSQL);
                Empty(FPreparedSQL);
            } else {
                FProcessedSQL = text;
                TFIBDatabase* db = Database();
                // Sent in the 8-bit set even on a Unicode connection, as it always was.
                if (db && db->IsUnicodeConnect())
                    FPreparedSQL = StringToAnsi(text);
                else
                    EncodeNewText(text, false);
            }
        }
    }
    FreeHandle();
    vUserParamsCreated = true;
    FCodePageApplied = false;
    // Giving the macros their first values is no change of a macro.
    FMacroChanged = false;
}

namespace {

// The first entry of the old list registered under key that has not moved yet (a moved one
// leaves an unnamed object behind) and may move: blobs do not carry their contents over.
int MovableEntry(const TFIBXSQLDA& old, const QString& key) {
    const auto [first, last] = old.RegisteredNames().equal_range(key);
    for (auto it = first; it != last; ++it) {
        if (it->second >= old.Count()) continue;
        const TFIBXSQLVAR* var = old.Vars(it->second);
        if (var->Name() == key && !var->IsBlob()) return it->second;
    }
    return -1;
}

} // namespace

void TFIBQuery::RebuildList(std::unique_ptr<TFIBXSQLDA>& list,
                            const std::vector<TParamOccurrence>& occurrences, bool UserParams) {
    // The same names in the same order: each entry would move to its own index, with its value,
    // and blobs, which do not carry their contents over, are not among them. A list given
    // functions of its own in place of this statement is rebuilt as before, without them.
    const int count = int(occurrences.size());
    const bool reusable =
        list->Size() == count && !list->HasQueryHooks() && list->IsUserParams() == UserParams;
    bool same = reusable && list->Count() == count && int(list->RegisteredNames().size()) == count;
    for (int i = 0; same && i < count; ++i) {
        const TParamOccurrence& occurrence = occurrences[size_t(i)];
        const TFIBXSQLVAR* var = list->Vars(i);
        same = !var->IsBlob() && (occurrence.Quoted ? var->Name() == occurrence.Name
                                                    : IsUpperCaseOf(var->Name(), occurrence.Name));
    }
    if (!same && reusable && list->Count() == 0) {
        // Nothing to move from an emptied list (a text without parameters came between): the
        // rebuilt list would be all new entries, which its own objects become again.
        list->RenewEntries();
        for (int i = 0; i < count; ++i) {
            const TParamOccurrence& occurrence = occurrences[size_t(i)];
            list->RegisterName(occurrence.Name, i, occurrence.Quoted);
            SetOccurrence(*list->Vars(i), occurrence);
            if (occurrence.IsMacro) list->Vars(i)->SetAsString(occurrence.DefMacroValue);
        }
        return;
    }
    if (!same) {
        list = BuildList(occurrences, list.get(), UserParams);
        return;
    }
    list->KeepEntriesForNewText();
    for (int i = 0; i < count; ++i) {
        const TParamOccurrence& occurrence = occurrences[size_t(i)];
        TFIBXSQLVAR* var = list->Vars(i);
        SetOccurrence(*var, occurrence);
    }
}

std::unique_ptr<TFIBXSQLDA> TFIBQuery::BuildList(const std::vector<TParamOccurrence>& occurrences,
                                                 TFIBXSQLDA* old, bool UserParams) {
    auto list = std::make_unique<TFIBXSQLDA>(this, true, UserParams);
    const int count = int(occurrences.size());
    list->SetCount(count);
    QVarLengthArray<bool, 16> fromOld(count, false);
    for (int i = 0; i < count; ++i) {
        const TParamOccurrence& occurrence = occurrences[size_t(i)];
        const QString key = occurrence.Quoted ? occurrence.Name : AsciiUpperCase(occurrence.Name);
        // A name that occurs again keeps its descriptor, value and type; a further occurrence
        // beyond the old ones takes a copy of the value.
        if (const int j = old ? MovableEntry(*old, key) : -1; j >= 0) {
            list->TakeEntry(*old, j, i);
            fromOld[i] = true;
        } else if (TFIBXSQLVAR* earlier = Registered(*list, key);
                   earlier && fromOld[earlier->Index()]) {
            list->Vars(i)->CopyValueFrom(*earlier);
            fromOld[i] = true;
        }
        list->RegisterName(occurrence.Name, i, occurrence.Quoted);
        TFIBXSQLVAR* var = list->Vars(i);
        SetOccurrence(*var, occurrence);
        if (!fromOld[i] && occurrence.IsMacro) var->SetAsString(occurrence.DefMacroValue);
    }
    return list;
}

void TFIBQuery::SetParamCheck(bool value) {
    FParamCheck = value;
    if (value) return;
    FServerTextCurrent = false;
    FUserSQLParams->SetCount(0);
    FSQLParams->SetCount(0);
    FProcessedSQL = FSQL->Text();
    FreeHandle();
}

void TFIBQuery::SetMacroChar(QChar value) {
    if (value == FMacroChar) return;
    FMacroChar = value;
    // The macros of the text are other ones now.
    if (vUserParamsCreated) SQLTextChanged();
}

void TFIBQuery::BeginModifySQLText() {
    ++FCountLockSQL;
}

void TFIBQuery::EndModifySQLText() {
    if (FCountLockSQL > 0) --FCountLockSQL;
    if (FCountLockSQL == 0) SQLTextChanged();
}

void TFIBQuery::EncodeServerText() {
    if (FCodePageApplied) return;
    TFIBDatabase* db = Database();
    if (FParser.SQLKind() != skDDL) {
        EncodeText(FProcessedSQL, db && db->IsUnicodeConnect());
    } else if (db && db->NeedUTFEncodeDDL())
        FPreparedSQL = FProcessedSQL.toUtf8();
    FCodePageApplied = true;
}

// The server text from the application's: macros expanded, NULL comparisons rewritten, markers
// turned into "?". The server list is rebuilt from it, taking over the values of its namesakes.
void TFIBQuery::RebuildServerText() {
    ScanServerText();
    FCodePageApplied = false;
    EncodeServerText();
}

bool TFIBQuery::ScanServerText() {
    const QString source = ReadySQLText(true);
    // The execution of a statement just prepared rebuilds its server text from the same source:
    // the scan would find what it found then, and the server text is still the one it made.
    const bool again =
        FServerTextCurrent && source == FServerScanSource && FServerScanKey == ServerScanKey();
    if (!again) {
        FServerTextCurrent = false;
        if (FUserScanCurrent && source == FUserScanSource && FUserScanKey == ServerScanKey() &&
            std::none_of(FUserScan.Params.begin(), FUserScan.Params.end(),
                         [](const TParamOccurrence& o) { return o.IsMacro; })) {
            // The application's scan of this very text, without macros, found what the server
            // scan would: the same occurrences, each of which the server text has as a "?"
            // followed by blanks up to its last character.
            FServerScan.Params = FUserScan.Params;
            ServerTextOf(source, FServerScan);
        } else if (!ParseParamsInto(FServerScan, source, FMacroChar, FParser.SQLKind(),
                                    FParser.CanParamsCheck(), false, this)) {
            return false;
        }
        FServerScanSource = source;
        FServerScanKey = ServerScanKey();
    }
    RebuildList(FSQLParams, FServerScan.Params, false);
    if (!again) {
        // The previous server text goes back to the scan, whose next run writes over its buffer.
        FProcessedSQL.swap(FServerScan.ServerText);
        FServerTextCurrent = true;
    }
    return true;
}

bool TFIBQuery::IsProc() const {
    static const char word[] = "EXECUTE ";
    const QString text = FSQL->Text();
    qsizetype i = 0;
    while (i < text.size() && text[i].unicode() <= ' ')
        ++i;
    if (text.size() - i < 8) return false;
    for (int k = 0; k < 8; ++k) {
        if (AsciiUpperCase(text[i + k].unicode()) != char16_t(word[k])) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Prepare

void TFIBQuery::Prepare() {
    TRunStateGuard guard(FQueryRunState, qrsInPrepare);
    if (FOpen) Close();
    FBase->CheckDatabase();
    TFIBTransaction* tr = Transaction();
    if ((FOptions & qoStartTransaction) && tr && !tr->Active()) tr->StartTransaction();
    FBase->CheckTransaction();
    if (FDoParamCheck && Params()->Count() > 0) {
        if (!vUserParamsCreated) SQLTextChanged();
        if (NeedsReprepare()) {
            RebuildServerText();
            FMacroChanged = false;
            FNeedForceIsNull = !(FOptions & qoNoForceIsNull) && !(FQueryRunState & qrsInExecute);
            FreeHandle();
        }
    } else {
        EncodeServerText();
    }
    if (FPrepared) return;
    if (IsBlankText(FProcessedSQL)) RaiseClientError(37, S("Prepare"));
    try {
        InternalPrepare();
    } catch (...) {
        try {
            if (FHandle) FreeHandle();
        } catch (...) {
        }
        throw;
    }
}

void TFIBQuery::InternalPrepare() {
    IIBClientLibrary* lib = ClientLibrary();
    if (!lib) RaiseClientError(21, ComponentPath(this));
    Call(lib->isc_dsql_alloc_statement2(StatusVector(), DBHandle(), &FHandle), true);
    FSQLRecord->SetCount(1);
    Call(lib->isc_dsql_prepare(StatusVector(), TRHandle(), &FHandle, ServerTextLength(FPreparedSQL),
                               FPreparedSQL.constData(), Dialect(), FSQLRecord->AsXSQLDA()),
         true);

    const char item = isc_info_sql_stmt_type;
    char answer[8] = {};
    Call(lib->isc_dsql_sql_info(StatusVector(), &FHandle, 1, &item, sizeof answer, answer), true);
    if (answer[0] != isc_info_sql_stmt_type) RaiseClientError(0);
    const short length = short(lib->isc_vax_integer(answer + 1, 2));
    FSQLType = TFIBSQLTypes(lib->isc_vax_integer(answer + 3, length));

    if (FSQLType == SQLSelectForUpdate) {
        if (FCursorName.isEmpty()) {
            for (int i = 0; i < 10; ++i)
                FCursorName += QChar(u'0' + QRandomGenerator::global()->bounded(10));
        }
        const QByteArray name = StringToAnsi(FCursorName);
        Call(lib->isc_dsql_set_cursor_name(StatusVector(), &FHandle, name.constData(), 0), true);
    }

    switch (FSQLType) {
    case SQLGetSegment:
    case SQLPutSegment:
    case SQLStartTransaction:
        FreeHandle();
        RaiseClientError(2);
    case SQLSelect:
    case SQLInsert:
    case SQLUpdate:
    case SQLDelete:
    case SQLExecProcedure:
    case SQLSelectForUpdate:
        DescribeParams();
        DescribeColumns();
        FillOnlySrvParams();
        break;
    default:
        break;
    }
    FPrepared = true;
}

void TFIBQuery::DescribeParams() {
    IIBClientLibrary* lib = ClientLibrary();
    TFIBXSQLDA* relevant = vDiffParams ? FSQLParams.get() : FUserSQLParams.get();
    if (!relevant->AsXSQLDA() || !FSQLParams->AsXSQLDA()) return;
    if (vDiffParams && FHaveMacros) KeepParamValues(*FSQLParams, true);
    Call(lib->isc_dsql_describe_bind(StatusVector(), &FHandle, Dialect(), FSQLParams->AsXSQLDA()),
         true);
    FSQLParams->InitializeDescribed();
    if (!vDiffParams) {
        // The application's values travel in its own descriptors: an unset one must still carry
        // a type the server accepts, and a text for a blob must become a blob.
        const int count = std::min(FUserSQLParams->Count(), FSQLParams->Count());
        for (int i = 0; i < count; ++i) {
            TFIBXSQLVAR* user = FUserSQLParams->Vars(i);
            TFIBXSQLVAR* server = FSQLParams->Vars(i);
            if (user->IsMacro()) continue;
            if (user->IsNull())
                user->TakeServerDescription(*server);
            else if (!user->IsBlob() && server->IsBlob())
                user->ConvertToBlobParam(*server);
        }
    }
    if (vDiffParams && FHaveMacros) {
        FPrepared = true;
        KeepParamValues(*FSQLParams, false);
    }
}

void TFIBQuery::DescribeColumns() {
    if (FSQLType != SQLSelect && FSQLType != SQLExecProcedure && FSQLType != SQLSelectForUpdate) {
        FSQLRecord->SetCount(0);
        return;
    }
    XSQLDA* area = FSQLRecord->AsXSQLDA();
    if (area->sqld > area->sqln) {
        FSQLRecord->SetCount(area->sqld);
        Call(ClientLibrary()->isc_dsql_describe(StatusVector(), &FHandle, Dialect(),
                                                FSQLRecord->AsXSQLDA()),
             true);
    } else if (area->sqld == 0) {
        FSQLRecord->SetCount(0);
    }
    FSQLRecord->InitializeDescribed();
}

// ---------------------------------------------------------------------------------------------
// Execution

void TFIBQuery::BeginExecution() {
    if (BeforeExecute) BeforeExecute(this);
    TFIBTransaction* tr = Transaction();
    if (!tr) RaiseClientError(22, ComponentPath(this));
    FSQLRecord->ClearValues();
    if ((FOptions & qoStartTransaction) && !tr->Active()) tr->StartTransaction();
    tr->DoOnSQLExec(this, koBefore);
}

void TFIBQuery::EndExecution() {
    if (AfterExecute) AfterExecute(this);
    TFIBTransaction* tr = Transaction();
    if (tr) tr->DoOnSQLExec(this, koAfter);
    FUserSQLParams->SetModified(false);
    FMacroChanged = false;
    FNeedForceIsNull = false;
    FUserSQLParams->ReleaseStreamValues();
    FSQLParams->ReleaseStreamValues();
    FHaveStreamParams = false;
    if ((FOptions & qoAutoCommit) && tr && tr->Active()) {
        if (tr->TimeoutAction() == TACommitRetaining)
            tr->CommitRetaining();
        else
            tr->Commit();
    }
}

XSQLDA* TFIBQuery::InputXSQLDA(bool NoParams) {
    if (vDiffParams && FDoParamCheck && !NoParams) {
        FSQLParams->AssignValues(FUserSQLParams.get());
        return FSQLParams->AsXSQLDA();
    }
    if (FUserSQLParams->HasDefferedSettings()) FUserSQLParams->ApplyDeferredSettings();
    return FUserSQLParams->AsXSQLDA();
}

void TFIBQuery::ExecQuery() {
    TRunStateGuard guard(FQueryRunState, qrsInExecute);
    if (FParser.SQLKind() == skDDL) {
        ExecuteImmediate();
        return;
    }
    BeginExecution();
    const bool noParams = Params()->Count() < 1;
    if (FDoParamCheck && !noParams)
        Prepare();
    else if (!FPrepared)
        Prepare();
    FUserSQLParams->WriteStreamValues();
    XSQLDA* input = InputXSQLDA(noParams);

    IIBClientLibrary* lib = ClientLibrary();
    QElapsedTimer timer;
    timer.start();
    try {
        switch (FSQLType) {
        case SQLSelect:
        case SQLSelectForUpdate:
            if (FOpen) Close();
            Call(lib->isc_dsql_execute(StatusVector(), TRHandle(), &FHandle, Dialect(), input),
                 true);
            FOpen = true;
            FBOF = true;
            FEof = false;
            FRecordCount = 0;
            FSQLRecord->ClearValues();
            if (FGoToFirstRecordOnExecute) Next();
            break;
        case SQLExecProcedure:
            Call(lib->isc_dsql_execute2(StatusVector(), TRHandle(), &FHandle, Dialect(), input,
                                        FSQLRecord->AsXSQLDA()),
                 true);
            FProcExecuted = true;
            break;
        case SQLCommit:
            Transaction()->Commit();
            break;
        case SQLRollback:
            Transaction()->Rollback();
            break;
        default:
            Call(lib->isc_dsql_execute(StatusVector(), TRHandle(), &FHandle, Dialect(), input),
                 true);
            break;
        }
    } catch (...) {
        FCallTime = quint32(timer.elapsed());
        throw;
    }
    FCallTime = quint32(timer.elapsed());
    if (FDoParamCheck && !noParams && FHaveMacros) KeepParamValues(*FUserSQLParams, true);
    EndExecution();
    if (!FOpen && (FOptions & qoFreeHandleAfterExecute)) FreeHandle();
}

TFIBXSQLDA* TFIBQuery::Next() {
    if (FEof) return nullptr;
    // Checked here rather than through CheckOpen, whose words would be built at every row.
    if (!FOpen) RaiseClientError(29, S("fetch next record"), ComponentPath(this));
    if (OnSQLFetch) {
        bool stop = false;
        OnSQLFetch(FRecordCount, stop);
        if (stop && !HasState(csLoading)) return nullptr;
    }
    IIBClientLibrary* lib = ClientLibrary();
    const ISC_STATUS result = Call(
        lib->isc_dsql_fetch(StatusVector(), &FHandle, Dialect(), FSQLRecord->AsXSQLDA()), false);
    if (result <= 0) {
        ++FRecordCount;
        FBOF = false;
        return FSQLRecord.get();
    }
    if (result == 100) {
        FEof = true;
        return nullptr;
    }
    if (StatusContains(isc_dsql_cursor_err)) {
        FEof = true;
        return nullptr;
    }
    // The error is taken from the status vector before closing reuses the vector.
    try {
        RaiseInterBaseError(lib, this);
    } catch (...) {
        try {
            Close();
        } catch (...) {
        }
        throw;
    }
}

void TFIBQuery::Close() {
    // Whatever happens to the cursor, the statement no longer counts it as open.
    const auto finish = [this](bool mayRaise) {
        FQueryRunState &= ~TQueryRunState(qrsInClose);
        FEof = FBOF = FOpen = FProcExecuted = false;
        if (!(FOptions & qoFreeHandleAfterExecute)) return;
        if (mayRaise) {
            FreeHandle();
            return;
        }
        try {
            FreeHandle();
        } catch (...) {
        }
    };
    FQueryRunState |= qrsInClose;
    try {
        IIBClientLibrary* lib = ClientLibrary();
        if (FHandle && FOpen && lib && (FSQLType == SQLSelect || FSQLType == SQLSelectForUpdate)) {
            if (TFIBTransaction* tr = Transaction()) tr->DoOnSQLExec(this, koOther);
            const ISC_STATUS result =
                Call(lib->isc_dsql_free_statement(StatusVector(), &FHandle, DSQL_close), false);
            // A cursor the server already closed (its transaction ended) is closed enough.
            if (StatusReportsError() && result > 0 && !StatusContains(isc_bad_stmt_handle) &&
                !StatusContains(isc_dsql_cursor_close_err))
                RaiseInterBaseError(lib, this);
        }
    } catch (...) {
        finish(false);
        throw;
    }
    finish(true);
}

void TFIBQuery::FreeHandle() {
    FSQLRecord->SetCount(0);
    if (FHandle) {
        IIBClientLibrary* lib = ClientLibrary();
        if (lib) {
            const ISC_STATUS result =
                Call(lib->isc_dsql_free_statement(StatusVector(), &FHandle, DSQL_drop), false);
            // A statement the server no longer knows is dropped already.
            if (StatusReportsError() && result > 0 && result != isc_bad_stmt_handle) {
                FPrepared = false;
                FHandle = 0;
                FEof = true;
                RaiseInterBaseError(lib, this);
            }
        }
        FEof = true;
    }
    FPrepared = false;
    FHandle = 0;
}

void TFIBQuery::ExecuteImmediate() {
    BeginExecution();
    if (FProcessedSQL.isEmpty() || FMacroChanged) {
        RebuildServerText();
        FMacroChanged = false;
    } else {
        EncodeServerText();
    }
    FUserSQLParams->WriteStreamValues();
    XSQLDA* input = InputXSQLDA(Params()->Count() < 1);
    FreeHandle();
    IIBClientLibrary* lib = ClientLibrary();
    if (!lib) RaiseClientError(21, ComponentPath(this));
    Call(lib->isc_dsql_execute_immediate(StatusVector(), DBHandle(), TRHandle(),
                                         ServerTextLength(FPreparedSQL), FPreparedSQL.constData(),
                                         Dialect(), input),
         true);
    EndExecution();
}

bool TFIBQuery::Eof() {
    if (FEof && FOpen && (FOptions & qoFreeHandleAfterExecute)) FreeHandle();
    return FEof || !FOpen;
}

// ---------------------------------------------------------------------------------------------
// Rows affected

TAllRowsAffected TFIBQuery::AllRowsAffected() {
    if (!FPrepared) Prepare();
    IIBClientLibrary* lib = ClientLibrary();
    const char item = isc_info_sql_records;
    QByteArray answer(255, '\0');
    Call(lib->isc_dsql_sql_info(StatusVector(), &FHandle, 1, &item, short(answer.size()),
                                answer.data()),
         true);
    TAllRowsAffected result;
    if (answer[0] == char(isc_info_end)) return result;
    if (answer[0] != char(isc_info_sql_records)) RaiseClientError(0);
    const int total = lib->isc_vax_integer(answer.constData() + 1, 2);
    if (total > answer.size()) {
        answer = QByteArray(total, '\0');
        Call(lib->isc_dsql_sql_info(StatusVector(), &FHandle, 1, &item, short(answer.size()),
                                    answer.data()),
             true);
    }
    int p = 3;
    while (p < answer.size()) {
        const char code = answer[p];
        if (code == char(isc_info_end)) break;
        if (p + 3 > answer.size()) RaiseClientError(0);
        const short length = short(lib->isc_vax_integer(answer.constData() + p + 1, 2));
        if (p + 3 + length > answer.size()) RaiseClientError(0);
        const qint32 value = lib->isc_vax_integer(answer.constData() + p + 3, length);
        switch (code) {
        case isc_info_req_select_count:
            result.Selects = value;
            break;
        case isc_info_req_insert_count:
            result.Inserts = value;
            break;
        case isc_info_req_update_count:
            result.Updates = value;
            break;
        case isc_info_req_delete_count:
            result.Deletes = value;
            break;
        default:
            RaiseClientError(0);
        }
        p += 3 + length;
    }
    return result;
}

qint32 TFIBQuery::RowsAffected() {
    const TAllRowsAffected counts = AllRowsAffected();
    switch (FSQLType) {
    case SQLSelect:
        return counts.Selects;
    case SQLInsert:
        return counts.Inserts;
    case SQLUpdate:
        return counts.Updates;
    case SQLDelete:
        return counts.Deletes;
    default:
        return counts.Selects + counts.Inserts + counts.Updates + counts.Deletes;
    }
}

// ---------------------------------------------------------------------------------------------
// Parameters and columns

TFIBXSQLDA* TFIBQuery::Params() {
    if (!vUserParamsCreated) SQLTextChanged();
    return FUserSQLParams.get();
}

TFIBXSQLVAR* TFIBQuery::FindParam(const QString& aParamName) {
    return Params()->FindParam(aParamName);
}

TFIBXSQLVAR* TFIBQuery::ParamByName(const QString& ParamName) {
    if (TFIBXSQLVAR* found = FindParam(ParamName)) return found;
    // The outputs of a procedure are set and read like its inputs.
    if (IsProc()) return FieldByName(ParamName);
    throw Exception(
        Format(S("Parameter \"%s\" does not exist in %s"), ParamName, ComponentPath(this)));
}

qint32 TFIBQuery::ParamCount() {
    return Params()->Count();
}

QString TFIBQuery::ParamName(qint32 ParamIndex) {
    return Params()->Vars(ParamIndex)->Name();
}

bool TFIBQuery::ParamExist(const QString& ParamName, qint32& Index) {
    TFIBXSQLVAR* found = FindParam(ParamName);
    Index = found ? found->Index() : -1;
    return found != nullptr;
}

TFIBXSQLVAR* TFIBQuery::Fields(qint32 Index) const {
    if (Index < 0 || Index >= FSQLRecord->Count())
        RaiseClientError(41, S("Field No: ") + IntToStr(Index));
    return FSQLRecord->Vars(Index);
}

TFIBXSQLVAR* TFIBQuery::FindField(const QString& FieldName) const {
    return FSQLRecord->ByName(FieldName);
}

TFIBXSQLVAR* TFIBQuery::FieldByName(const QString& FieldName) const {
    TFIBXSQLVAR* found = FindField(FieldName);
    if (!found) RaiseClientError(41, FieldName);
    return found;
}

qint32 TFIBQuery::FieldIndex(const QString& FieldName) const {
    TFIBXSQLVAR* found = FindField(FieldName);
    return found ? found->Index() : -1;
}

qint32 TFIBQuery::FieldCount() const {
    return FSQLRecord->Count();
}

// ---------------------------------------------------------------------------------------------
// Macros and NULL comparisons

QString TFIBQuery::ReadySQLText(bool ForChangeExecSQL) {
    if (ForChangeExecSQL) vDiffParams = false;
    QString result = FParser.SQLText();
    const bool noForce = (FOptions & qoNoForceIsNull) != 0;
    if (!FHaveMacros && noForce) return result;
    // Positions in the result lag behind the parser's by offset.
    int offset = 0;
    const bool mayForce =
        !noForce && ((FQueryRunState & qrsInExecute) || !(FQueryRunState & qrsInPrepare));
    TFIBXSQLDA* params = Params();
    for (int i = 0; i < params->Count(); ++i) {
        TFIBXSQLVAR* var = params->Vars(i);
        if (var->IsMacro()) {
            QString value = var->AsString();
            if (var->Quoted() && !value.startsWith(QLatin1Char('\'')))
                value = QLatin1Char('\'') + value + QLatin1Char('\'');
            const int begin = var->BeginPosInText() - offset;
            const int end = var->EndPosInText() - offset;
            result.replace(begin - 1, end - begin + 1, value);
            offset += (end - begin + 1) - int(value.size());
            var->SetOldValue(value);
            if (ForChangeExecSQL) vDiffParams = true;
            continue;
        }
        if (!mayForce || !var->InWhereClause() || !var->CanForceIsNull() || !var->IsNull())
            continue;
        // 1-based position in the result of the character before the marker.
        int p = var->BeginPosInText() - 1 - offset;
        while (p >= 1 && IsKeywordDelimiter(result[p - 1].unicode()))
            --p;
        if (p < 1) continue;
        const QChar at = result[p - 1];
        const QChar before = p >= 2 ? result[p - 2] : QChar();
        QString replacement;
        if (at == QLatin1Char('=')) {
            if (before == QLatin1Char('!') || before == QLatin1Char('^') ||
                before == QLatin1Char('~')) {
                --p;
                replacement = S(" IS NOT NULL ");
            } else if (before != QLatin1Char('<') && before != QLatin1Char('>')) {
                replacement = S(" IS NULL ");
            }
        } else if (at == QLatin1Char('>') && before == QLatin1Char('<')) {
            --p;
            replacement = S(" IS NOT NULL ");
        }
        if (replacement.isEmpty()) continue;
        const int end = var->EndPosInText() - offset;
        result.replace(p - 1, end - p + 1, replacement);
        offset += (end - p + 1) - int(replacement.size());
        if (ForChangeExecSQL) {
            var->SetOldValue(QVariant::fromValue(nullptr));
            vDiffParams = true;
        }
    }
    return result;
}

bool TFIBQuery::NeedsReprepare() {
    if (!FPrepared || FMacroChanged || FNeedForceIsNull) return true;
    if (!FHaveMacros && (FOptions & qoNoForceIsNull)) return false;
    TFIBXSQLDA* params = Params();
    for (int i = 0; i < params->Count(); ++i) {
        TFIBXSQLVAR* var = params->Vars(i);
        if (var->IsMacro()) {
            if (var->AsVariant() != var->OldValue()) return true;
        } else if (var->CanForceIsNull()) {
            if (var->IsNull() != IsVariantNull(var->OldValue())) return true;
        }
    }
    return false;
}

void TFIBQuery::KeepParamValues(TFIBXSQLDA& ParamsList, bool Save) {
    for (int i = 0; i < ParamsList.Count(); ++i) {
        TFIBXSQLVAR* var = ParamsList.Vars(i);
        if (Save) {
            if (var->Initialized()) var->SetOldValue(var->AsVariant());
            continue;
        }
        if (var->IsBlob()) continue;
        if (!var->OldValue().isValid()) {
            XSQLVAR* raw = var->AsXSQLVAR();
            if ((raw->sqltype & ~1) == SQL_VARYING)
                raw->sqltype = short(SQL_TEXT | (raw->sqltype & 1));
            var->SetIsNull(true);
        } else {
            var->SetAsVariant(var->OldValue());
        }
    }
}

void TFIBQuery::FillOnlySrvParams() {
    FOnlySrvParams.clear();
    if (!vDiffParams) return;
    TFIBXSQLDA* params = Params();
    for (int i = 0; i < params->Count(); ++i) {
        TFIBXSQLVAR* var = params->Vars(i);
        TFIBXSQLVAR* server = Registered(*FSQLParams, var->Name());
        if (!server) continue;
        const int serverType = server->ServerSQLType();
        if (serverType != SQL_TIMESTAMP && serverType != SQL_TYPE_DATE) continue;
        switch (var->SQLType()) {
        case SQL_DOUBLE:
        case SQL_FLOAT:
        case SQL_D_FLOAT:
        case SQL_INT64:
            if (!var->IsNull()) var->SetAsDateTime(DayCountToDateTime(var->AsDouble()));
            break;
        default:
            break;
        }
    }
    for (int i = 0; i < FSQLParams->Count(); ++i) {
        const QString name = FSQLParams->Vars(i)->Name();
        bool known = false;
        for (int j = 0; j < params->Count() && !known; ++j)
            known = SameTextAscii(params->Vars(j)->Name(), name);
        if (!known) FOnlySrvParams.emplace(name, i);
    }
}

void TFIBQuery::ApplyMacro() {
    if (HasState(csDesigning)) return;
    Close();
    FreeHandle();
    if (ScanServerText()) FCodePageApplied = false;
    FMacroChanged = false;
    FNeedForceIsNull = false;
}

void TFIBQuery::RestoreMacroDefaultValues() {
    TFIBXSQLDA* params = Params();
    for (int i = 0; i < params->Count(); ++i) {
        TFIBXSQLVAR* var = params->Vars(i);
        if (var->IsMacro()) var->SetAsString(var->DefMacroValue());
    }
}

QString TFIBQuery::DefMacroValue(const QString& MacroName) {
    return ParamByName(MacroName)->DefMacroValue();
}
