#include "pFIBDatabase.h"

#include <QSettings>

#include <initializer_list>
#include <memory>

namespace {

const char* const AliasRoot[] = {"Software", "Orvane_Software", "Aliases"};

// The per-user store of aliases. On Windows the registry, shared with the other programs of the
// publisher; elsewhere an INI file in the user's configuration folder, which QSettings::setPath
// (IniFormat, UserScope) moves elsewhere, as the tests do.
std::unique_ptr<QSettings> OpenAliasStore() {
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER"),
                                       QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Orvane_Software"),
                                       QStringLiteral("Aliases"));
#endif
}

// A stored value: text and whole numbers count, anything else is as good as missing.
struct TAliasValue {
    bool present = false;
    QString text;
};

TAliasValue ReadAliasValue(const QSettings& store, const QString& name) {
    const QVariant value = store.value(name);
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return {true, value.toString()};
    default:
        return {};
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TpFIBDatabase

TpFIBDatabase::TpFIBDatabase(TComponent* AOwner) : TFIBDatabase(AOwner) {}

TpFIBDatabase::~TpFIBDatabase() {
    DestroyDatabase();
}

QString TpFIBDatabase::AliasName() const {
    return AnsiToString(FAliasName);
}

void TpFIBDatabase::SetAliasName(const QString& value) {
    if (!HasState(csLoading)) CheckInactive();
    FAliasName = StringToAnsi(value);
    if (!FAliasName.isEmpty()) ReadParamsFromAlias();
}

QString TpFIBDatabase::AliasKeyPath() const {
    QStringList keys;
    for (const char* key : AliasRoot)
        keys << QLatin1String(key);
    keys << AliasName();
    return keys.join(QLatin1Char('/'));
}

void TpFIBDatabase::Open(bool RaiseExcept) {
    if (Connected()) return;
    if (BeforeConnect) {
        bool DoConnect = true;
        BeforeConnect(this, DBParams(), DoConnect);
        if (!DoConnect) return;
    }
    TFIBDatabase::Open(RaiseExcept);
    if (Connected() && FRewriteAlias && !FAliasName.isEmpty()) SaveAlias();
}

void TpFIBDatabase::ForceClose() {
    if (!Connected()) return;
    TFIBDatabase::ForceClose();
}

void TpFIBDatabase::InternalClose(bool Force) {
    if (!Connected()) return;
    TFIBDatabase::InternalClose(Force);
}

bool TpFIBDatabase::ReadParamsFromAlias() {
    const std::unique_ptr<QSettings> store = OpenAliasStore();
    for (const char* key : AliasRoot) {
        if (!store->childGroups().contains(QLatin1String(key))) return false;
        store->beginGroup(QLatin1String(key));
    }
    if (!store->childGroups().contains(AliasName())) return false;
    store->beginGroup(AliasName());

    const TAliasValue dbName = ReadAliasValue(*store, QStringLiteral("Database Name"));
    const TAliasValue userName = ReadAliasValue(*store, QStringLiteral("user_name"));
    const TAliasValue lcCtype = ReadAliasValue(*store, QStringLiteral("lc_ctype"));
    const TAliasValue roleName = ReadAliasValue(*store, QStringLiteral("sql_role_name"));
    const TAliasValue dialect = ReadAliasValue(*store, QStringLiteral("SQL_DIALECT"));
    const TAliasValue clientLib = ReadAliasValue(*store, QStringLiteral("CLIENT_LIB"));

    if (dbName.present) SetDBName(dbName.text);
    if (userName.present) SetDBParamByDPB(DBParams(), isc_dpb_user_name, userName.text);
    if (lcCtype.present) SetDBParamByDPB(DBParams(), isc_dpb_lc_ctype, lcCtype.text);
    if (roleName.present) SetDBParamByDPB(DBParams(), isc_dpb_sql_role_name, roleName.text);
    // The store is shared with the publisher's other programs, which write it as they please: a
    // dialect that is no whole number, or one the connection would refuse, is as good as
    // missing, and the connection keeps its own.
    qint32 dialectValue = 0;
    if (dialect.present && TryStrToInt(dialect.text, dialectValue) && dialectValue >= 1)
        SetSQLDialect(dialectValue);
    if (clientLib.present) SetLibraryName(clientLib.text);
    return dbName.present;
}

void TpFIBDatabase::SaveAlias() {
    const std::unique_ptr<QSettings> store = OpenAliasStore();
    store->beginGroup(AliasKeyPath());
    store->setValue(QStringLiteral("Database Name"), DBName());
    store->setValue(QStringLiteral("user_name"), GetDBParamByDPB(DBParams(), isc_dpb_user_name));
    store->setValue(QStringLiteral("lc_ctype"), GetDBParamByDPB(DBParams(), isc_dpb_lc_ctype));
    store->setValue(QStringLiteral("sql_role_name"),
                    GetDBParamByDPB(DBParams(), isc_dpb_sql_role_name));
    store->setValue(QStringLiteral("SQL_DIALECT"), QString::number(SQLDialect()));
    store->setValue(QStringLiteral("CLIENT_LIB"), LibraryName());
    store->endGroup();
    store->sync();
    if (store->status() != QSettings::NoError)
        throw Exception(
            Format(QStringLiteral("Cannot write alias %s to %s."), AliasName(), store->fileName()));
}

// ---------------------------------------------------------------------------------------------
// TpFIBTransaction

TpFIBTransaction::TpFIBTransaction(TComponent* AOwner) : TFIBTransaction(AOwner) {}

TpFIBTransaction::~TpFIBTransaction() {
    DestroyTransaction();
}

TpFIBDatabase* TpFIBTransaction::DefaultPDatabase() const {
    return dynamic_cast<TpFIBDatabase*>(DefaultDatabase());
}

void TpFIBTransaction::StartTransaction() {
    if (Active()) return;
    // Set again only when they differ: a list set anew counts as changed, and its parameter
    // block would be built again at every start.
    const auto setParams = [this](std::initializer_list<QLatin1String> lines) {
        TStrings& params = TRParams();
        bool same = params.Count() == int(lines.size());
        int i = 0;
        for (auto line = lines.begin(); same && line != lines.end(); ++line, ++i)
            same = params.Strings(i) == *line;
        if (same) return;
        QStringList list;
        for (const QLatin1String line : lines)
            list.append(line);
        params.SetStringList(list);
    };
    switch (FTPBMode) {
    case tpbReadCommitted:
        setParams({QLatin1String("write"), QLatin1String("isc_tpb_nowait"),
                   QLatin1String("read_committed"), QLatin1String("rec_version")});
        break;
    case tpbRepeatableRead:
        setParams({QLatin1String("write"), QLatin1String("isc_tpb_nowait"),
                   QLatin1String("concurrency")});
        break;
    case tpbDefault:
        break;
    }
    TpFIBDatabase* db = DefaultPDatabase();
    if (db && db->BeforeStartTransaction) db->BeforeStartTransaction(this);
    if (BeforeStart) BeforeStart(this);
    TFIBTransaction::StartTransaction();
    if (AfterStart) AfterStart(this);
    // The start may have run a handler that replaced the default connection.
    db = DefaultPDatabase();
    if (db && db->AfterStartTransaction) db->AfterStartTransaction(this);
}

void TpFIBTransaction::EndTransaction(TTransactionAction Action, bool Force) {
    TpFIBDatabase* db = DefaultPDatabase();
    if (db && db->BeforeEndTransaction) db->BeforeEndTransaction(this, Action, Force);
    if (BeforeEnd) BeforeEnd(this, Action, Force);
    TFIBTransaction::EndTransaction(Action, Force);
    if (AfterEnd) AfterEnd(this, Action, Force);
    db = DefaultPDatabase();
    if (db && db->AfterEndTransaction) db->AfterEndTransaction(this, Action, Force);
}

void TpFIBTransaction::DoOnSQLExec(TObject* Query, TKindOnOperation Kind) {
    TFIBTransaction::DoOnSQLExec(Query, Kind);
    const TOnSQLExecute* handler = Kind == koBefore  ? &BeforeSQLExecute
                                   : Kind == koAfter ? &AfterSQLExecute
                                                     : nullptr;
    if (!handler || !*handler) return;
    // Asked only when someone listens: the cast is a good part of a short write's own work.
    const auto* statement = dynamic_cast<const IFIBStatementInfo*>(Query);
    (*handler)(Query, statement ? statement->SQLType() : TFIBSQLTypes(0));
}
