#include "IB_Intf.h"

#include "SysUtils.h"

#include <QRegularExpression>

#include <dlfcn.h>

#include <cstdarg>
#include <mutex>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif

namespace {

// The loader gives no error number, only a text. These are the codes the program's own
// platform uses for the same two failures, so the message keeps the shape users know:
// 126 "module not found" and 127 "procedure not found".
constexpr qint32 ModuleNotFoundCode = 126;
constexpr qint32 ProcedureNotFoundCode = 127;

// Handles up to this value mean "nothing loaded"; unloading stores it.
constexpr std::uintptr_t NoLibraryHandle = 32;

[[noreturn]] void RaiseOSError(qint32 code, const QString& systemText) {
    if (code == 0)
        throw EOSError(QStringLiteral("Un appel à une fonction du système d'exploitation a échoué"),
                       0);
    throw EOSError(Format(QStringLiteral("Erreur système.  Code : %d.") + QStringLiteral("\r\n") +
                              QStringLiteral("%s%s"),
                          code, systemText, QString()),
                   code);
}

QString LoaderErrorText() {
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

// Process-wide, created before main and freed after it; freeing the list drops the last
// references and so unloads every library still loaded.
std::mutex RegistryLock;
std::vector<IIBClientLibraryPtr> Registry;

// Clears the busy flag when the call leaves, whether it returns or raises.
class TBusyScope {
public:
    explicit TBusyScope(std::atomic<bool>& flag) : FFlag(flag) {
        FFlag.store(true, std::memory_order_relaxed);
    }
    ~TBusyScope() { FFlag.store(false, std::memory_order_relaxed); }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    std::atomic<bool>& FFlag;
};

} // namespace

QString PlatformLibraryFileName(const QString& name) {
    static const QRegularExpression FirebirdClient(QStringLiteral("^(fbclient|gds32)\\.dll$"),
                                                   QRegularExpression::CaseInsensitiveOption);
    if (FirebirdClient.match(name).hasMatch()) return QStringLiteral("libfbclient.so.2");
    return name;
}

ISC_STATUS* StatusVector() {
    thread_local ISC_STATUS vector[StatusVectorLength] = {};
    return vector;
}

void RestoreFPUControlWord() {
#if defined(__i386__) || defined(__x86_64__)
    // glibc keeps the word it installed at start-up; that is the process default.
    fpu_control_t word = __fpu_control;
    _FPU_SETCW(word);
#endif
}

void SetFPUExtendedPrecision() {
#if defined(__i386__) || defined(__x86_64__)
    fpu_control_t word;
    _FPU_GETCW(word);
    word |= _FPU_EXTENDED;
    _FPU_SETCW(word);
#endif
}

IIBClientLibraryPtr GetClientLibrary(const QString& name) {
    std::lock_guard<std::mutex> lock(RegistryLock);
    for (const IIBClientLibraryPtr& library : Registry) {
        if (library->GetLibraryName() != name) continue;
        if (!library->LibraryLoaded()) library->LoadIBLibrary();
        return library;
    }
    auto library = std::make_shared<TIBClientLibrary>(name);
    Registry.push_back(library);
    return library;
}

// --- TIBClientLibrary: life cycle ------------------------------------------------------------

TIBClientLibrary::TIBClientLibrary(const QString& libraryName) : FLibraryName(libraryName) {
    LoadIBLibrary();
}

TIBClientLibrary::~TIBClientLibrary() {
    FreeIBLibrary();
}

QString TIBClientLibrary::GetLibraryName() {
    return FLibraryName;
}
qint32 TIBClientLibrary::GetIBClientVersion() {
    return FIBClientVersion;
}
qint32 TIBClientLibrary::GetIBClientMinorVersion() {
    return FIBClientMinorVersion;
}
bool TIBClientLibrary::GetBusy() {
    return FBusy.load(std::memory_order_relaxed);
}

bool TIBClientLibrary::LibraryLoaded() {
    return FLibraryHandle > NoLibraryHandle;
}

void TIBClientLibrary::FreeIBLibrary() {
    if (FLibraryHandle <= NoLibraryHandle) return;
    dlclose(reinterpret_cast<void*>(FLibraryHandle));
    FLibraryHandle = NoLibraryHandle;
    // The addresses now point into unmapped memory; an empty field raises instead of jumping.
    ClearEntryPoints();
}

void* TIBClientLibrary::Resolve(const char* name, bool required) {
    dlerror();
    void* address = dlsym(reinterpret_cast<void*>(FLibraryHandle), name);
    if (address) return address;
    QString reason = LoaderErrorText();
    if (required)
        RaiseOSError(ProcedureNotFoundCode, reason.isEmpty() ? QString::fromLatin1(name) : reason);
    return nullptr;
}

void TIBClientLibrary::ClearEntryPoints() {
    FBLOB_get = nullptr;
    FBLOB_put = nullptr;
    Fisc_sqlcode = nullptr;
    Fisc_sql_interprete = nullptr;
    Fisc_interprete = nullptr;
    Ffb_interpret = nullptr;
    Fisc_vax_integer = nullptr;
    Fisc_blob_info = nullptr;
    Fisc_open_blob2 = nullptr;
    Fisc_close_blob = nullptr;
    Fisc_get_segment = nullptr;
    Fisc_put_segment = nullptr;
    Fisc_create_blob2 = nullptr;
    Fisc_blob_lookup_desc = nullptr;
    Fisc_blob_set_desc = nullptr;
    Fisc_cancel_blob = nullptr;
    Fisc_service_attach = nullptr;
    Fisc_service_detach = nullptr;
    Fisc_service_query = nullptr;
    Fisc_service_start = nullptr;
    Fisc_decode_date = nullptr;
    Fisc_decode_sql_date = nullptr;
    Fisc_decode_sql_time = nullptr;
    Fisc_decode_timestamp = nullptr;
    Fisc_encode_date = nullptr;
    Fisc_encode_sql_date = nullptr;
    Fisc_encode_sql_time = nullptr;
    Fisc_encode_timestamp = nullptr;
    Fisc_dsql_free_statement = nullptr;
    Fisc_dsql_execute2 = nullptr;
    Fisc_dsql_execute = nullptr;
    Fisc_dsql_set_cursor_name = nullptr;
    Fisc_dsql_fetch = nullptr;
    Fisc_dsql_sql_info = nullptr;
    Fisc_dsql_alloc_statement2 = nullptr;
    Fisc_dsql_prepare = nullptr;
    Fisc_dsql_describe_bind = nullptr;
    Fisc_dsql_describe = nullptr;
    Fisc_dsql_execute_immediate = nullptr;
    Fisc_dsql_exec_immed2 = nullptr;
    Fisc_drop_database = nullptr;
    Fisc_detach_database = nullptr;
    Fisc_attach_database = nullptr;
    Fisc_database_info = nullptr;
    Fisc_start_multiple = nullptr;
    Fisc_commit_transaction = nullptr;
    Fisc_commit_retaining = nullptr;
    Fisc_rollback_transaction = nullptr;
    Fisc_rollback_retaining = nullptr;
    Fisc_cancel_events = nullptr;
    Fisc_que_events = nullptr;
    Fisc_event_counts = nullptr;
    Fisc_event_block = nullptr;
    Fisc_free = nullptr;
    Fisc_wait_for_event = nullptr;
    Fisc_transaction_info = nullptr;
    Fisc_prepare_transaction = nullptr;
    Fisc_prepare_transaction2 = nullptr;
    Fisc_array_lookup_bounds = nullptr;
    Fisc_array_get_slice = nullptr;
    Fisc_array_put_slice = nullptr;
    Fisc_array_set_desc = nullptr;
    Fisc_array_lookup_desc = nullptr;
    Fisc_portable_integer = nullptr;
    Fisc_add_user = nullptr;
    Fisc_delete_user = nullptr;
    Fisc_modify_user = nullptr;
    Fisc_get_client_version = nullptr;
    Fisc_get_client_major_version = nullptr;
    Fisc_get_client_minor_version = nullptr;
    Fisc_dsql_batch_execute_immed = nullptr;
    Fisc_dsql_batch_execute = nullptr;
    Ffb_cancel_operation = nullptr;
}

void TIBClientLibrary::LoadIBLibrary() {
    // A second load of a loaded object would hold two loader references and release one.
    FreeIBLibrary();
    ClearEntryPoints();

    const QByteArray file = PlatformLibraryFileName(FLibraryName).toLocal8Bit();
    void* handle = dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        FLibraryHandle = 0;
        RaiseOSError(ModuleNotFoundCode, LoaderErrorText());
    }
    FLibraryHandle = reinterpret_cast<std::uintptr_t>(handle);

    // A library lacking something we need must not stay half-bound: the object is then either
    // discarded (creation) or left unloaded, and the next request tries again.
    try {
#define RESOLVE(name, required)                                                                    \
    F##name = reinterpret_cast<decltype(F##name)>(Resolve(#name, required))
        RESOLVE(BLOB_get, true);
        RESOLVE(BLOB_put, true);
        RESOLVE(isc_sqlcode, true);
        RESOLVE(isc_sql_interprete, true);
        RESOLVE(isc_interprete, true);
        RESOLVE(fb_interpret, false);
        RESOLVE(isc_vax_integer, true);
        RESOLVE(isc_blob_info, true);
        RESOLVE(isc_open_blob2, true);
        RESOLVE(isc_close_blob, true);
        RESOLVE(isc_get_segment, true);
        RESOLVE(isc_put_segment, true);
        RESOLVE(isc_create_blob2, true);
        RESOLVE(isc_decode_date, true);
        RESOLVE(isc_encode_date, true);
        RESOLVE(isc_dsql_free_statement, true);
        RESOLVE(isc_dsql_execute2, true);
        RESOLVE(isc_dsql_execute, true);
        RESOLVE(isc_dsql_set_cursor_name, true);
        RESOLVE(isc_dsql_fetch, true);
        RESOLVE(isc_dsql_sql_info, true);
        RESOLVE(isc_dsql_alloc_statement2, true);
        RESOLVE(isc_dsql_prepare, true);
        RESOLVE(isc_dsql_describe_bind, true);
        RESOLVE(isc_dsql_describe, true);
        RESOLVE(isc_dsql_execute_immediate, true);
        RESOLVE(isc_dsql_exec_immed2, true);
        RESOLVE(isc_drop_database, true);
        RESOLVE(isc_detach_database, true);
        RESOLVE(isc_attach_database, true);
        RESOLVE(isc_database_info, true);
        RESOLVE(isc_start_multiple, true);
        RESOLVE(isc_commit_transaction, true);
        RESOLVE(isc_commit_retaining, true);
        RESOLVE(isc_rollback_transaction, true);
        RESOLVE(isc_cancel_events, true);
        RESOLVE(isc_que_events, true);
        RESOLVE(isc_event_counts, true);
        RESOLVE(isc_event_block, true);
        RESOLVE(isc_free, true);
        RESOLVE(isc_array_lookup_bounds, true);
        RESOLVE(isc_array_get_slice, true);
        RESOLVE(isc_array_put_slice, true);
        RESOLVE(isc_wait_for_event, true);
        RESOLVE(isc_transaction_info, true);
        RESOLVE(isc_prepare_transaction, true);
        RESOLVE(isc_prepare_transaction2, true);
        RESOLVE(isc_rollback_retaining, false);

        // Retaining rollback came with version 6, together with the services and the SQL date
        // types; its absence marks an older client that has none of them.
        if (Fisc_rollback_retaining) {
            FIBClientVersion = 6;
            FIBClientMinorVersion = 0;
            RESOLVE(isc_service_attach, true);
            RESOLVE(isc_service_detach, true);
            RESOLVE(isc_service_query, true);
            RESOLVE(isc_service_start, true);
            RESOLVE(isc_decode_sql_date, true);
            RESOLVE(isc_decode_sql_time, true);
            RESOLVE(isc_decode_timestamp, true);
            RESOLVE(isc_encode_sql_date, true);
            RESOLVE(isc_encode_sql_time, true);
            RESOLVE(isc_encode_timestamp, true);
            RESOLVE(isc_portable_integer, true);
        } else {
            FIBClientVersion = 5;
            FIBClientMinorVersion = 0;
        }

        RESOLVE(isc_get_client_version, false);
        if (Fisc_get_client_version) {
            RESOLVE(isc_get_client_major_version, true);
            RESOLVE(isc_get_client_minor_version, true);
            FIBClientVersion = Fisc_get_client_major_version();
            FIBClientMinorVersion = Fisc_get_client_minor_version();
            RESOLVE(isc_dsql_batch_execute_immed, false);
            RESOLVE(isc_dsql_batch_execute, false);
            RESOLVE(fb_cancel_operation, false);
        } else {
            FIBClientMinorVersion = 0;
        }
#undef RESOLVE
    } catch (...) {
        FreeIBLibrary();
        throw;
    }

    SetFPUExtendedPrecision();
}

// --- TIBClientLibrary: calling the entry points ----------------------------------------------

void TIBClientLibrary::RaiseMissingProcedure(const char* name) const {
    throw Exception(Format(QStringLiteral("Can't find procedure %s in %s"), name, FLibraryName));
}

// Every kind checks the field: besides the optional entry points, a field is empty when the
// library was unloaded, and raising beats jumping to address zero.
template <typename F, typename... Args>
auto TIBClientLibrary::CallPlain(F entry, const char* name, Args... args) {
    if (!entry) RaiseMissingProcedure(name);
    TBusyScope busy(FBusy);
    return entry(args...);
}

template <typename F, typename... Args>
auto TIBClientLibrary::CallWithoutBusy(F entry, const char* name, Args... args) {
    if (!entry) RaiseMissingProcedure(name);
    return entry(args...);
}

#define PLAIN(name, ...) return CallPlain(F##name, #name, __VA_ARGS__)
#define NOBUSY(name, ...) return CallWithoutBusy(F##name, #name, __VA_ARGS__)

ISC_STATUS TIBClientLibrary::isc_attach_database(ISC_STATUS* a, short b, const ISC_SCHAR* c,
                                                 isc_db_handle* d, short e, const ISC_SCHAR* f) {
    PLAIN(isc_attach_database, a, b, c, d, e, f);
}

ISC_STATUS TIBClientLibrary::isc_array_get_slice(ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c,
                                                 ISC_QUAD* d, const ISC_ARRAY_DESC* e, void* f,
                                                 ISC_LONG* g) {
    NOBUSY(isc_array_get_slice, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_array_lookup_bounds(ISC_STATUS* a, isc_db_handle* b,
                                                     isc_tr_handle* c, const ISC_SCHAR* d,
                                                     const ISC_SCHAR* e, ISC_ARRAY_DESC* f) {
    NOBUSY(isc_array_lookup_bounds, a, b, c, d, e, f);
}

ISC_STATUS TIBClientLibrary::isc_array_lookup_desc(ISC_STATUS* a, isc_db_handle* b,
                                                   isc_tr_handle* c, const ISC_SCHAR* d,
                                                   const ISC_SCHAR* e, ISC_ARRAY_DESC* f) {
    NOBUSY(isc_array_lookup_desc, a, b, c, d, e, f);
}

ISC_STATUS TIBClientLibrary::isc_array_set_desc(ISC_STATUS* a, const ISC_SCHAR* b,
                                                const ISC_SCHAR* c, const short* d, const short* e,
                                                const short* f, ISC_ARRAY_DESC* g) {
    NOBUSY(isc_array_set_desc, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_array_put_slice(ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c,
                                                 ISC_QUAD* d, const ISC_ARRAY_DESC* e, void* f,
                                                 ISC_LONG* g) {
    NOBUSY(isc_array_put_slice, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_blob_info(ISC_STATUS* a, isc_blob_handle* b, short c,
                                           const ISC_SCHAR* d, short e, ISC_SCHAR* f) {
    PLAIN(isc_blob_info, a, b, c, d, e, f);
}

ISC_STATUS TIBClientLibrary::isc_blob_lookup_desc(ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c,
                                                  const ISC_UCHAR* d, const ISC_UCHAR* e,
                                                  ISC_BLOB_DESC* f, ISC_UCHAR* g) {
    PLAIN(isc_blob_lookup_desc, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_blob_set_desc(ISC_STATUS* a, const ISC_UCHAR* b,
                                               const ISC_UCHAR* c, short d, short e, short f,
                                               ISC_BLOB_DESC* g) {
    PLAIN(isc_blob_set_desc, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_cancel_blob(ISC_STATUS* a, isc_blob_handle* b) {
    PLAIN(isc_cancel_blob, a, b);
}

ISC_STATUS TIBClientLibrary::isc_cancel_events(ISC_STATUS* a, isc_db_handle* b, ISC_LONG* c) {
    PLAIN(isc_cancel_events, a, b, c);
}

ISC_STATUS TIBClientLibrary::isc_que_events(ISC_STATUS* a, isc_db_handle* b, ISC_LONG* c, short d,
                                            const ISC_UCHAR* e, ISC_EVENT_CALLBACK f, void* g) {
    PLAIN(isc_que_events, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_wait_for_event(ISC_STATUS* a, isc_db_handle* b, short c,
                                                const ISC_UCHAR* d, ISC_UCHAR* e) {
    PLAIN(isc_wait_for_event, a, b, c, d, e);
}

ISC_STATUS TIBClientLibrary::isc_close_blob(ISC_STATUS* a, isc_blob_handle* b) {
    PLAIN(isc_close_blob, a, b);
}

ISC_STATUS TIBClientLibrary::isc_create_blob2(ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c,
                                              isc_blob_handle* d, ISC_QUAD* e, short f,
                                              const ISC_SCHAR* g) {
    PLAIN(isc_create_blob2, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_commit_retaining(ISC_STATUS* a, isc_tr_handle* b) {
    PLAIN(isc_commit_retaining, a, b);
}

ISC_STATUS TIBClientLibrary::isc_commit_transaction(ISC_STATUS* a, isc_tr_handle* b) {
    PLAIN(isc_commit_transaction, a, b);
}

ISC_STATUS TIBClientLibrary::isc_transaction_info(ISC_STATUS* a, isc_tr_handle* b, short c,
                                                  const ISC_SCHAR* d, short e, ISC_SCHAR* f) {
    PLAIN(isc_transaction_info, a, b, c, d, e, f);
}

ISC_STATUS TIBClientLibrary::isc_database_info(ISC_STATUS* a, isc_db_handle* b, short c,
                                               const ISC_SCHAR* d, short e, ISC_SCHAR* f) {
    PLAIN(isc_database_info, a, b, c, d, e, f);
}

void TIBClientLibrary::isc_decode_date(const ISC_QUAD* a, void* b) {
    PLAIN(isc_decode_date, a, b);
}

void TIBClientLibrary::isc_decode_sql_date(const ISC_DATE* a, void* b) {
    PLAIN(isc_decode_sql_date, a, b);
}

void TIBClientLibrary::isc_decode_sql_time(const ISC_TIME* a, void* b) {
    PLAIN(isc_decode_sql_time, a, b);
}

void TIBClientLibrary::isc_decode_timestamp(const ISC_TIMESTAMP* a, void* b) {
    PLAIN(isc_decode_timestamp, a, b);
}

ISC_STATUS TIBClientLibrary::isc_detach_database(ISC_STATUS* a, isc_db_handle* b) {
    PLAIN(isc_detach_database, a, b);
}

ISC_STATUS TIBClientLibrary::isc_drop_database(ISC_STATUS* a, isc_db_handle* b) {
    PLAIN(isc_drop_database, a, b);
}

ISC_STATUS TIBClientLibrary::isc_dsql_alloc_statement2(ISC_STATUS* a, isc_db_handle* b,
                                                       isc_stmt_handle* c) {
    PLAIN(isc_dsql_alloc_statement2, a, b, c);
}

ISC_STATUS TIBClientLibrary::isc_dsql_describe(ISC_STATUS* a, isc_stmt_handle* b, unsigned short c,
                                               XSQLDA* d) {
    PLAIN(isc_dsql_describe, a, b, c, d);
}

ISC_STATUS TIBClientLibrary::isc_dsql_describe_bind(ISC_STATUS* a, isc_stmt_handle* b,
                                                    unsigned short c, XSQLDA* d) {
    PLAIN(isc_dsql_describe_bind, a, b, c, d);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute(ISC_STATUS* a, isc_tr_handle* b, isc_stmt_handle* c,
                                              unsigned short d, const XSQLDA* e) {
    PLAIN(isc_dsql_execute, a, b, c, d, e);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute2(ISC_STATUS* a, isc_tr_handle* b, isc_stmt_handle* c,
                                               unsigned short d, const XSQLDA* e, const XSQLDA* f) {
    PLAIN(isc_dsql_execute2, a, b, c, d, e, f);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute_immediate(ISC_STATUS* a, isc_db_handle* b,
                                                        isc_tr_handle* c, unsigned short d,
                                                        const ISC_SCHAR* e, unsigned short f,
                                                        const XSQLDA* g) {
    PLAIN(isc_dsql_execute_immediate, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_dsql_exec_immed2(ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c,
                                                  unsigned short d, const ISC_SCHAR* e,
                                                  unsigned short f, const XSQLDA* g,
                                                  const XSQLDA* h) {
    PLAIN(isc_dsql_exec_immed2, a, b, c, d, e, f, g, h);
}

ISC_STATUS TIBClientLibrary::isc_dsql_fetch(ISC_STATUS* a, isc_stmt_handle* b, unsigned short c,
                                            const XSQLDA* d) {
    PLAIN(isc_dsql_fetch, a, b, c, d);
}

ISC_STATUS TIBClientLibrary::isc_dsql_free_statement(ISC_STATUS* a, isc_stmt_handle* b,
                                                     unsigned short c) {
    PLAIN(isc_dsql_free_statement, a, b, c);
}

ISC_STATUS TIBClientLibrary::isc_dsql_prepare(ISC_STATUS* a, isc_tr_handle* b, isc_stmt_handle* c,
                                              unsigned short d, const ISC_SCHAR* e,
                                              unsigned short f, XSQLDA* g) {
    PLAIN(isc_dsql_prepare, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_dsql_set_cursor_name(ISC_STATUS* a, isc_stmt_handle* b,
                                                      const ISC_SCHAR* c, unsigned short d) {
    PLAIN(isc_dsql_set_cursor_name, a, b, c, d);
}

ISC_STATUS TIBClientLibrary::isc_dsql_sql_info(ISC_STATUS* a, isc_stmt_handle* b, short c,
                                               const ISC_SCHAR* d, short e, ISC_SCHAR* f) {
    PLAIN(isc_dsql_sql_info, a, b, c, d, e, f);
}

void TIBClientLibrary::isc_encode_date(const void* a, ISC_QUAD* b) {
    PLAIN(isc_encode_date, a, b);
}

void TIBClientLibrary::isc_encode_sql_date(const void* a, ISC_DATE* b) {
    PLAIN(isc_encode_sql_date, a, b);
}

void TIBClientLibrary::isc_encode_sql_time(const void* a, ISC_TIME* b) {
    PLAIN(isc_encode_sql_time, a, b);
}

void TIBClientLibrary::isc_encode_timestamp(const void* a, ISC_TIMESTAMP* b) {
    PLAIN(isc_encode_timestamp, a, b);
}

ISC_LONG TIBClientLibrary::isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer,
                                           ISC_USHORT count, ...) {
    // A variable argument list cannot be handed on as such; the client reads exactly `count`
    // names, so pass them as fixed arguments, at most the 15 its interface allows.
    constexpr int MaxEvents = 15;
    if (count > MaxEvents) count = MaxEvents;
    char* names[MaxEvents] = {};
    va_list list;
    va_start(list, count);
    for (int i = 0; i < count; ++i)
        names[i] = va_arg(list, char*);
    va_end(list);
    PLAIN(isc_event_block, eventBuffer, resultBuffer, count, names[0], names[1], names[2], names[3],
          names[4], names[5], names[6], names[7], names[8], names[9], names[10], names[11],
          names[12], names[13], names[14]);
}

void TIBClientLibrary::isc_event_counts(ISC_ULONG* a, short b, ISC_UCHAR* c, const ISC_UCHAR* d) {
    PLAIN(isc_event_counts, a, b, c, d);
}

ISC_LONG TIBClientLibrary::isc_free(ISC_SCHAR* a) {
    PLAIN(isc_free, a);
}

ISC_STATUS TIBClientLibrary::isc_get_segment(ISC_STATUS* a, isc_blob_handle* b, unsigned short* c,
                                             unsigned short d, ISC_SCHAR* e) {
    PLAIN(isc_get_segment, a, b, c, d, e);
}

ISC_STATUS TIBClientLibrary::isc_put_segment(ISC_STATUS* a, isc_blob_handle* b, unsigned short c,
                                             const ISC_SCHAR* d) {
    PLAIN(isc_put_segment, a, b, c, d);
}

ISC_LONG TIBClientLibrary::isc_interprete(ISC_SCHAR* a, ISC_STATUS** b) {
    PLAIN(isc_interprete, a, b);
}

ISC_LONG TIBClientLibrary::fb_interpret(ISC_SCHAR* buffer, unsigned int size,
                                        const ISC_STATUS** status) {
    // Older clients only know the unbounded form; error reporting gives a buffer large enough
    // for either.
    if (!Ffb_interpret) PLAIN(isc_interprete, buffer, const_cast<ISC_STATUS**>(status));
    PLAIN(fb_interpret, buffer, size, status);
}

ISC_STATUS TIBClientLibrary::isc_open_blob2(ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c,
                                            isc_blob_handle* d, ISC_QUAD* e, ISC_USHORT f,
                                            const ISC_UCHAR* g) {
    PLAIN(isc_open_blob2, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_prepare_transaction2(ISC_STATUS* a, isc_tr_handle* b, ISC_USHORT c,
                                                      const ISC_UCHAR* d) {
    PLAIN(isc_prepare_transaction2, a, b, c, d);
}

ISC_STATUS TIBClientLibrary::isc_rollback_retaining(ISC_STATUS* a, isc_tr_handle* b) {
    PLAIN(isc_rollback_retaining, a, b);
}

ISC_STATUS TIBClientLibrary::isc_rollback_transaction(ISC_STATUS* a, isc_tr_handle* b) {
    PLAIN(isc_rollback_transaction, a, b);
}

ISC_STATUS TIBClientLibrary::isc_start_multiple(ISC_STATUS* a, isc_tr_handle* b, short c, void* d) {
    PLAIN(isc_start_multiple, a, b, c, d);
}

ISC_LONG TIBClientLibrary::isc_sqlcode(const ISC_STATUS* a) {
    PLAIN(isc_sqlcode, a);
}

void TIBClientLibrary::isc_sql_interprete(short a, ISC_SCHAR* b, short c) {
    PLAIN(isc_sql_interprete, a, b, c);
}

ISC_LONG TIBClientLibrary::isc_vax_integer(const ISC_SCHAR* a, short b) {
    PLAIN(isc_vax_integer, a, b);
}

ISC_STATUS TIBClientLibrary::isc_add_user(ISC_STATUS* a, const USER_SEC_DATA* b) {
    PLAIN(isc_add_user, a, b);
}

ISC_STATUS TIBClientLibrary::isc_delete_user(ISC_STATUS* a, const USER_SEC_DATA* b) {
    PLAIN(isc_delete_user, a, b);
}

ISC_STATUS TIBClientLibrary::isc_modify_user(ISC_STATUS* a, const USER_SEC_DATA* b) {
    PLAIN(isc_modify_user, a, b);
}

ISC_STATUS TIBClientLibrary::isc_prepare_transaction(ISC_STATUS* a, isc_tr_handle* b) {
    PLAIN(isc_prepare_transaction, a, b);
}

int TIBClientLibrary::BLOB_put(ISC_SCHAR a, FB_BLOB_STREAM b) {
    NOBUSY(BLOB_put, a, b);
}

int TIBClientLibrary::BLOB_get(FB_BLOB_STREAM a) {
    NOBUSY(BLOB_get, a);
}

ISC_STATUS TIBClientLibrary::isc_dsql_batch_execute_immed(ISC_STATUS* a, isc_db_handle* b,
                                                          isc_tr_handle* c, unsigned short d,
                                                          ISC_ULONG e, char** f, ISC_ULONG* g) {
    PLAIN(isc_dsql_batch_execute_immed, a, b, c, d, e, f, g);
}

ISC_STATUS TIBClientLibrary::isc_dsql_batch_execute(ISC_STATUS* a, isc_tr_handle* b,
                                                    isc_stmt_handle* c, unsigned short d, XSQLDA* e,
                                                    unsigned short f, XSQLVAR** g, ISC_ULONG* h) {
    PLAIN(isc_dsql_batch_execute, a, b, c, d, e, f, g, h);
}

ISC_STATUS TIBClientLibrary::fb_cancel_operation(ISC_STATUS* a, isc_db_handle* b, ISC_USHORT c) {
    NOBUSY(fb_cancel_operation, a, b, c);
}

ISC_STATUS TIBClientLibrary::isc_service_attach(ISC_STATUS* a, unsigned short b, const ISC_SCHAR* c,
                                                isc_svc_handle* d, unsigned short e,
                                                const ISC_SCHAR* f) {
    PLAIN(isc_service_attach, a, b, c, d, e, f);
}

ISC_STATUS TIBClientLibrary::isc_service_detach(ISC_STATUS* a, isc_svc_handle* b) {
    PLAIN(isc_service_detach, a, b);
}

ISC_STATUS TIBClientLibrary::isc_service_query(ISC_STATUS* a, isc_svc_handle* b, isc_resv_handle* c,
                                               unsigned short d, const ISC_SCHAR* e,
                                               unsigned short f, const ISC_SCHAR* g,
                                               unsigned short h, ISC_SCHAR* i) {
    PLAIN(isc_service_query, a, b, c, d, e, f, g, h, i);
}

ISC_STATUS TIBClientLibrary::isc_service_start(ISC_STATUS* a, isc_svc_handle* b, isc_resv_handle* c,
                                               unsigned short d, const ISC_SCHAR* e) {
    PLAIN(isc_service_start, a, b, c, d, e);
}

void TIBClientLibrary::isc_get_client_version(ISC_SCHAR* a) {
    PLAIN(isc_get_client_version, a);
}

int TIBClientLibrary::isc_get_client_major_version() {
    if (!Fisc_get_client_major_version) RaiseMissingProcedure("isc_get_client_major_version");
    TBusyScope busy(FBusy);
    return Fisc_get_client_major_version();
}

int TIBClientLibrary::isc_get_client_minor_version() {
    if (!Fisc_get_client_minor_version) RaiseMissingProcedure("isc_get_client_minor_version");
    TBusyScope busy(FBusy);
    return Fisc_get_client_minor_version();
}

ISC_INT64 TIBClientLibrary::isc_portable_integer(const ISC_UCHAR* a, short b) {
    PLAIN(isc_portable_integer, a, b);
}

#undef PLAIN
#undef NOBUSY
