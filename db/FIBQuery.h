// One SQL statement bound to a connection and a transaction: its text with named parameters and
// macros, its server statement, its execution and the walk of a select's rows. The parameters
// and columns are descriptor lists of the values unit; the text routines do the parsing.
#pragma once

#include "FIBDatabase.h"
#include "FIBXSQLDA.h"
#include "SqlTxtRtns.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>

// The values equal the server's answers to isc_info_sql_stmt_type: never reorder.
enum TFIBSQLTypes : quint8 {
    SQLUnknown = 0,
    SQLSelect = 1,
    SQLInsert = 2,
    SQLUpdate = 3,
    SQLDelete = 4,
    SQLDDL = 5,
    SQLGetSegment = 6,
    SQLPutSegment = 7,
    SQLExecProcedure = 8,
    SQLStartTransaction = 9,
    SQLCommit = 10,
    SQLRollback = 11,
    SQLSelectForUpdate = 12,
    SQLSetGenerator = 13,
    SQLSavePointOperation = 14,
};

// Bit numbers are fixed: a set is stored as the sum of 1 << bit.
enum TpFIBQueryOption : unsigned {
    qoStartTransaction = 1u << 0,
    qoAutoCommit = 1u << 1,
    qoTrimCharFields = 1u << 2,
    qoNoForceIsNull = 1u << 3,
    qoFreeHandleAfterExecute = 1u << 4,
};
using TpFIBQueryOptions = unsigned;

enum TQueryRunStateFlag : unsigned {
    qrsInPrepare = 1u << 0,
    qrsInExecute = 1u << 1,
    qrsInClose = 1u << 2,
};
using TQueryRunState = unsigned;

struct TAllRowsAffected {
    qint32 Updates = 0;
    qint32 Deletes = 0;
    qint32 Selects = 0;
    qint32 Inserts = 0;
};

// Called before each fetch with the rows fetched so far; setting StopFetching ends the walk.
using TOnSQLFetch = std::function<void(qint32 RecordNumber, bool& StopFetching)>;

class TFIBQuery : public TComponent, public IFIBStatementInfo, public IFIBXSQLDAOwner {
public:
    explicit TFIBQuery(TComponent* AOwner = nullptr);
    ~TFIBQuery() override;

    // ---- Connection and transaction (through the link)
    TFIBBase* Base() const { return FBase.get(); }
    TFIBDatabase* Database() const override;
    // Another connection while prepared first drops the server statement.
    void SetDatabase(TFIBDatabase* value);
    TFIBTransaction* Transaction() const;
    void SetTransaction(TFIBTransaction* value);
    // The connection's client library; nullptr without a connection or before its first load.
    // Virtual so that a statement can be watched call by call (a counting wrapper in tests).
    IIBClientLibrary* ClientLibrary() const override;
    // The handles, after the link's checks (messages 21 / 22, closed connection, inactive
    // transaction).
    isc_db_handle* DBHandle() override;
    isc_tr_handle* TRHandle() override;

    // ---- Text
    TStrings& SQL() { return *FSQL; }
    const TStrings& SQL() const { return *FSQL; }
    void SetSQL(const TStrings& value) { FSQL->Assign(value); }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool value);
    QChar MacroChar() const { return FMacroChar; }
    void SetMacroChar(QChar value);
    TSQLKind SQLKind() const { return FParser.SQLKind(); }
    const TSQLParser& Parser() const { return FParser; }
    qint32 SQLTextChangeCount() const { return FSQLTextChangeCount; }
    // The text the server was (or will be) given: parameters as "?", macros expanded.
    const QString& ProcessedSQL() const { return FProcessedSQL; }
    void BeginModifySQLText();
    void EndModifySQLText();
    qint32 CountModifySQLText() const { return FCountLockSQL; }

    // ---- Options and state
    TpFIBQueryOptions Options() const { return FOptions; }
    void SetOptions(TpFIBQueryOptions value) { FOptions = value; }
    bool GoToFirstRecordOnExecute() const { return FGoToFirstRecordOnExecute; }
    void SetGoToFirstRecordOnExecute(bool value) { FGoToFirstRecordOnExecute = value; }
    bool AutoCloseOnTransactionEnd() const { return FAutoCloseOnTransactionEnd; }
    void SetAutoCloseOnTransactionEnd(bool value) { FAutoCloseOnTransactionEnd = value; }
    const QString& CursorName() const { return FCursorName; }
    void SetCursorName(const QString& value) { FCursorName = value; }
    TQueryRunState QueryRunState() const { return FQueryRunState; }
    isc_stmt_handle* Handle() { return &FHandle; }
    bool HandleAllocated() const { return FHandle != 0; }
    TFIBSQLTypes SQLType() const override { return FSQLType; }
    bool Prepared() const override { return FPrepared; }
    bool Open() const { return FOpen; }
    bool Bof() const { return FBOF; }
    // True also when no cursor is open; at the end of an open cursor with
    // qoFreeHandleAfterExecute, reading it drops the server statement.
    bool Eof();
    qint32 RecordCount() const override { return FRecordCount; }
    bool ProcExecuted() const { return FProcExecuted; }
    quint32 CallTime() const { return FCallTime; }
    // The text starts with "EXECUTE " once leading blanks are passed.
    bool IsProc() const;

    // ---- Work
    void Prepare();
    virtual void ExecQuery();
    // The next row of an open select, or nullptr at its end.
    TFIBXSQLDA* Next();
    void Close();
    void FreeHandle();
    void ExecuteImmediate();
    qint32 RowsAffected();
    TAllRowsAffected AllRowsAffected();
    // Every status check: restores the x87 control word, lets the transaction see the code and
    // raises the server's error when asked.
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);
    void CheckOpen(const QString& OpName);
    void CheckClosed(const QString& OpName);
    void CheckValidStatement();

    // ---- Parameters
    TFIBXSQLDA* Params();
    TFIBXSQLVAR* ParamByName(const QString& ParamName);
    TFIBXSQLVAR* FindParam(const QString& aParamName);
    qint32 ParamCount();
    QString ParamName(qint32 ParamIndex);
    bool ParamExist(const QString& ParamName, qint32& Index);

    // ---- Columns
    TFIBXSQLVAR* Fields(qint32 Index) const;
    TFIBXSQLVAR* FieldByName(const QString& FieldName) const;
    TFIBXSQLVAR* FindField(const QString& FieldName) const;
    TFIBXSQLVAR* FN(const QString& FieldName) const { return FindField(FieldName); }
    qint32 FieldIndex(const QString& FieldName) const;
    qint32 FieldCount() const;
    TFIBXSQLDA* Current() const { return FSQLRecord.get(); }

    // ---- Macros and NULL comparisons
    // The server source text: macros expanded, NULL comparisons rewritten. With
    // ForChangeExecSQL the old values are recorded and DiffParams is set.
    QString ReadySQLText(bool ForChangeExecSQL);
    bool NeedsReprepare();
    void KeepParamValues(TFIBXSQLDA& ParamsList, bool Save);
    void FillOnlySrvParams();
    void ApplyMacro() override;
    void RestoreMacroDefaultValues();
    QString DefMacroValue(const QString& MacroName);
    bool HaveMacros() const { return FHaveMacros; }
    bool DiffParams() const { return vDiffParams; }
    // Names of server parameters that are no application parameters, with their server index.
    const std::map<QString, qint32>& OnlySrvParams() const { return FOnlySrvParams; }

    // ---- What the descriptor lists report back to their statement
    // The server's parameter list (differs from Params when the text was rewritten).
    TFIBXSQLDA* SQLParams() const override { return FSQLParams.get(); }
    bool MacroChanged() const override { return FMacroChanged; }
    void SetMacroChanged(bool value) override { FMacroChanged = value; }
    bool NeedForceIsNull() const { return FNeedForceIsNull; }
    void SetNeedForceIsNull(bool value) override { FNeedForceIsNull = value; }
    bool HaveStreamParams() const { return FHaveStreamParams; }
    void SetHaveStreamParams(bool value) override { FHaveStreamParams = value; }
    TComponent* StatementComponent() override { return this; }
    bool IsExecProcedure() const override { return FSQLType == SQLExecProcedure; }
    bool TrimCharFields() const override { return (FOptions & qoTrimCharFields) != 0; }
    bool NoForceIsNull() const override { return (FOptions & qoNoForceIsNull) != 0; }

    // ---- Events
    TNotifyEvent BeforeExecute;
    TNotifyEvent AfterExecute;
    TNotifyEvent OnSQLChanging;
    TOnSQLFetch OnSQLFetch;

protected:
    // The execution brackets: events, the transaction's notice, the auto commit.
    void BeginExecution();
    void EndExecution();

private:
    void SQLTextChanging();
    void SQLTextChanged();
    // The application's scan of the text into FUserScan; false for the silent stop.
    bool ScanUserParams(const QString& text);
    void EncodeServerText();
    // The text as the server is sent it, into FPreparedSQL; a refusal leaves it empty.
    void EncodeText(const QString& text, bool unicode);
    // The text as the server is sent it, set as the statement's own; a refusal leaves none.
    void EncodeNewText(const QString& text, bool unicode);
    // The list for a new text's occurrences. The entries of the list's namesakes move into it
    // with their values; a list that already holds the same names in the same order stays as
    // it is, which amounts to the same and costs nothing.
    void RebuildList(std::unique_ptr<TFIBXSQLDA>& list,
                     const std::vector<TParamOccurrence>& occurrences, bool UserParams);
    std::unique_ptr<TFIBXSQLDA> BuildList(const std::vector<TParamOccurrence>& occurrences,
                                          TFIBXSQLDA* old, bool UserParams);
    void RebuildServerText();
    // Scans the text after macros and NULL rewriting into the server text and the server list;
    // false when the scan was skipped (a missing name while loading).
    bool ScanServerText();
    void DescribeParams();
    void DescribeColumns();
    void InternalPrepare();
    XSQLDA* InputXSQLDA(bool NoParams);
    void TransactionEnding(TObject* Sender);
    void DatabaseDisconnecting(TObject* Sender);
    unsigned short Dialect() const;

    std::unique_ptr<TFIBBase> FBase;
    std::unique_ptr<TStringList> FSQL;
    TSQLParser FParser;
    std::unique_ptr<TFIBXSQLDA> FUserSQLParams;
    std::unique_ptr<TFIBXSQLDA> FSQLParams;
    std::unique_ptr<TFIBXSQLDA> FSQLRecord;
    // The scans' results, kept so that the next text reuses their buffers.
    TParseParamsResult FUserScan;
    TParseParamsResult FServerScan;
    // What the last application scan was made from, while its result stands for it.
    QString FUserScanSource;
    quint32 FUserScanKey = 0;
    bool FUserScanCurrent = false;
    // FUserScan holds the whole scan of FUserScanSource (a failed or stopped scan leaves a part).
    bool FUserScanWhole = false;
    // What the last server scan was made from, and whether FProcessedSQL is still its text.
    QString FServerScanSource;
    quint32 FServerScanKey = 0;
    bool FServerTextCurrent = false;
    quint32 ServerScanKey() const {
        return quint32(FMacroChar.unicode()) | quint32(FParser.SQLKind()) << 16 |
               quint32(FParser.CanParamsCheck()) << 24;
    }
    QString FProcessedSQL;
    QByteArray FPreparedSQL;
    bool FCodePageApplied = false;
    isc_stmt_handle FHandle = 0;
    TFIBSQLTypes FSQLType = SQLUnknown;
    bool FPrepared = false;
    bool FOpen = false;
    bool FBOF = false;
    bool FEof = false;
    qint32 FRecordCount = 0;
    bool FProcExecuted = false;
    bool FGoToFirstRecordOnExecute = true;
    bool FParamCheck = true;
    bool FDoParamCheck = true;
    bool vUserParamsCreated = false;
    QChar FMacroChar = QLatin1Char('@');
    bool FHaveMacros = false;
    bool FMacroChanged = false;
    bool FNeedForceIsNull = false;
    bool vDiffParams = false;
    TpFIBQueryOptions FOptions = 0;
    TQueryRunState FQueryRunState = 0;
    qint32 FCountLockSQL = 0;
    qint32 FSQLTextChangeCount = 0;
    bool FAutoCloseOnTransactionEnd = true;
    QString FCursorName;
    quint32 FCallTime = 0;
    bool FHaveStreamParams = false;
    std::map<QString, qint32> FOnlySrvParams;
};
