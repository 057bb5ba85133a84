// The binding to the Firebird client library: one object per loaded library file, shared by
// every connection that names that file, with one operation per entry point of the published C
// interface. The library is loaded at run time by file name; ibase.h only lends its types.
#pragma once

#include <ibase.h>

#include <QString>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>

// Every entry point of the client library the binding knows, written once; the interface, the
// loaded library and the test decorators are generated from this list. Columns:
//   return type, name, parameters, the same parameters as call arguments,
//   group:    Base      looked up on every load,
//             Version6  looked up only when the client has retaining rollback (version 6 on),
//             Versioned looked up only when the client reports its own version,
//             Unbound   never looked up: calling one raises the missing-procedure error,
//   required: a missing one fails the load; an optional one stays empty and raises when called,
//   kind:     Busy      sets the busy flag around the call,
//             Quiet     does not (array, blob stream and cancel calls may overlap a busy one),
//             Own       written by hand.
// The batch entry points exist in InterBase's client, not in Firebird's ibase.h; their parameters
// are the prototypes InterBase publishes.
// clang-format off
#define RAVELIN_IB_ENTRY_POINTS(X) \
    X(ISC_STATUS, isc_attach_database, (ISC_STATUS* a, short b, const ISC_SCHAR* c, isc_db_handle* d, short e, const ISC_SCHAR* f), (a, b, c, d, e, f), Base, true, Busy) \
    X(ISC_STATUS, isc_array_get_slice, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, ISC_QUAD* d, const ISC_ARRAY_DESC* e, void* f, ISC_LONG* g), (a, b, c, d, e, f, g), Base, true, Quiet) \
    X(ISC_STATUS, isc_array_lookup_bounds, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, const ISC_SCHAR* d, const ISC_SCHAR* e, ISC_ARRAY_DESC* f), (a, b, c, d, e, f), Base, true, Quiet) \
    X(ISC_STATUS, isc_array_lookup_desc, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, const ISC_SCHAR* d, const ISC_SCHAR* e, ISC_ARRAY_DESC* f), (a, b, c, d, e, f), Unbound, false, Quiet) \
    X(ISC_STATUS, isc_array_set_desc, (ISC_STATUS* a, const ISC_SCHAR* b, const ISC_SCHAR* c, const short* d, const short* e, const short* f, ISC_ARRAY_DESC* g), (a, b, c, d, e, f, g), Unbound, false, Quiet) \
    X(ISC_STATUS, isc_array_put_slice, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, ISC_QUAD* d, const ISC_ARRAY_DESC* e, void* f, ISC_LONG* g), (a, b, c, d, e, f, g), Base, true, Quiet) \
    X(ISC_STATUS, isc_blob_info, (ISC_STATUS* a, isc_blob_handle* b, short c, const ISC_SCHAR* d, short e, ISC_SCHAR* f), (a, b, c, d, e, f), Base, true, Busy) \
    X(ISC_STATUS, isc_blob_lookup_desc, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, const ISC_UCHAR* d, const ISC_UCHAR* e, ISC_BLOB_DESC* f, ISC_UCHAR* g), (a, b, c, d, e, f, g), Unbound, false, Busy) \
    X(ISC_STATUS, isc_blob_set_desc, (ISC_STATUS* a, const ISC_UCHAR* b, const ISC_UCHAR* c, short d, short e, short f, ISC_BLOB_DESC* g), (a, b, c, d, e, f, g), Unbound, false, Busy) \
    X(ISC_STATUS, isc_cancel_blob, (ISC_STATUS* a, isc_blob_handle* b), (a, b), Unbound, false, Busy) \
    X(ISC_STATUS, isc_cancel_events, (ISC_STATUS* a, isc_db_handle* b, ISC_LONG* c), (a, b, c), Base, true, Busy) \
    X(ISC_STATUS, isc_que_events, (ISC_STATUS* a, isc_db_handle* b, ISC_LONG* c, short d, const ISC_UCHAR* e, ISC_EVENT_CALLBACK f, void* g), (a, b, c, d, e, f, g), Base, true, Busy) \
    X(ISC_STATUS, isc_wait_for_event, (ISC_STATUS* a, isc_db_handle* b, short c, const ISC_UCHAR* d, ISC_UCHAR* e), (a, b, c, d, e), Base, true, Busy) \
    X(ISC_STATUS, isc_close_blob, (ISC_STATUS* a, isc_blob_handle* b), (a, b), Base, true, Busy) \
    X(ISC_STATUS, isc_create_blob2, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, isc_blob_handle* d, ISC_QUAD* e, short f, const ISC_SCHAR* g), (a, b, c, d, e, f, g), Base, true, Busy) \
    X(ISC_STATUS, isc_commit_retaining, (ISC_STATUS* a, isc_tr_handle* b), (a, b), Base, true, Busy) \
    X(ISC_STATUS, isc_commit_transaction, (ISC_STATUS* a, isc_tr_handle* b), (a, b), Base, true, Busy) \
    X(ISC_STATUS, isc_transaction_info, (ISC_STATUS* a, isc_tr_handle* b, short c, const ISC_SCHAR* d, short e, ISC_SCHAR* f), (a, b, c, d, e, f), Base, true, Busy) \
    X(ISC_STATUS, isc_database_info, (ISC_STATUS* a, isc_db_handle* b, short c, const ISC_SCHAR* d, short e, ISC_SCHAR* f), (a, b, c, d, e, f), Base, true, Busy) \
    X(void, isc_decode_date, (const ISC_QUAD* a, void* b), (a, b), Base, true, Busy) \
    X(void, isc_decode_sql_date, (const ISC_DATE* a, void* b), (a, b), Version6, true, Busy) \
    X(void, isc_decode_sql_time, (const ISC_TIME* a, void* b), (a, b), Version6, true, Busy) \
    X(void, isc_decode_timestamp, (const ISC_TIMESTAMP* a, void* b), (a, b), Version6, true, Busy) \
    X(ISC_STATUS, isc_detach_database, (ISC_STATUS* a, isc_db_handle* b), (a, b), Base, true, Busy) \
    X(ISC_STATUS, isc_drop_database, (ISC_STATUS* a, isc_db_handle* b), (a, b), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_alloc_statement2, (ISC_STATUS* a, isc_db_handle* b, isc_stmt_handle* c), (a, b, c), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_describe, (ISC_STATUS* a, isc_stmt_handle* b, unsigned short c, XSQLDA* d), (a, b, c, d), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_describe_bind, (ISC_STATUS* a, isc_stmt_handle* b, unsigned short c, XSQLDA* d), (a, b, c, d), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_execute, (ISC_STATUS* a, isc_tr_handle* b, isc_stmt_handle* c, unsigned short d, const XSQLDA* e), (a, b, c, d, e), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_execute2, (ISC_STATUS* a, isc_tr_handle* b, isc_stmt_handle* c, unsigned short d, const XSQLDA* e, const XSQLDA* f), (a, b, c, d, e, f), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_execute_immediate, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, unsigned short d, const ISC_SCHAR* e, unsigned short f, const XSQLDA* g), (a, b, c, d, e, f, g), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_exec_immed2, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, unsigned short d, const ISC_SCHAR* e, unsigned short f, const XSQLDA* g, const XSQLDA* h), (a, b, c, d, e, f, g, h), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_fetch, (ISC_STATUS* a, isc_stmt_handle* b, unsigned short c, const XSQLDA* d), (a, b, c, d), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_free_statement, (ISC_STATUS* a, isc_stmt_handle* b, unsigned short c), (a, b, c), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_prepare, (ISC_STATUS* a, isc_tr_handle* b, isc_stmt_handle* c, unsigned short d, const ISC_SCHAR* e, unsigned short f, XSQLDA* g), (a, b, c, d, e, f, g), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_set_cursor_name, (ISC_STATUS* a, isc_stmt_handle* b, const ISC_SCHAR* c, unsigned short d), (a, b, c, d), Base, true, Busy) \
    X(ISC_STATUS, isc_dsql_sql_info, (ISC_STATUS* a, isc_stmt_handle* b, short c, const ISC_SCHAR* d, short e, ISC_SCHAR* f), (a, b, c, d, e, f), Base, true, Busy) \
    X(void, isc_encode_date, (const void* a, ISC_QUAD* b), (a, b), Base, true, Busy) \
    X(void, isc_encode_sql_date, (const void* a, ISC_DATE* b), (a, b), Version6, true, Busy) \
    X(void, isc_encode_sql_time, (const void* a, ISC_TIME* b), (a, b), Version6, true, Busy) \
    X(void, isc_encode_timestamp, (const void* a, ISC_TIMESTAMP* b), (a, b), Version6, true, Busy) \
    X(ISC_LONG, isc_event_block, (ISC_UCHAR** a, ISC_UCHAR** b, ISC_USHORT c, ...), (a, b, c), Base, true, Own) \
    X(void, isc_event_counts, (ISC_ULONG* a, short b, ISC_UCHAR* c, const ISC_UCHAR* d), (a, b, c, d), Base, true, Busy) \
    X(ISC_LONG, isc_free, (ISC_SCHAR* a), (a), Base, true, Busy) \
    X(ISC_STATUS, isc_get_segment, (ISC_STATUS* a, isc_blob_handle* b, unsigned short* c, unsigned short d, ISC_SCHAR* e), (a, b, c, d, e), Base, true, Busy) \
    X(ISC_STATUS, isc_put_segment, (ISC_STATUS* a, isc_blob_handle* b, unsigned short c, const ISC_SCHAR* d), (a, b, c, d), Base, true, Busy) \
    X(ISC_LONG, isc_interprete, (ISC_SCHAR* a, ISC_STATUS** b), (a, b), Base, true, Busy) \
    X(ISC_LONG, fb_interpret, (ISC_SCHAR* a, unsigned int b, const ISC_STATUS** c), (a, b, c), Base, false, Own) \
    X(ISC_STATUS, isc_open_blob2, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, isc_blob_handle* d, ISC_QUAD* e, ISC_USHORT f, const ISC_UCHAR* g), (a, b, c, d, e, f, g), Base, true, Busy) \
    X(ISC_STATUS, isc_prepare_transaction2, (ISC_STATUS* a, isc_tr_handle* b, ISC_USHORT c, const ISC_UCHAR* d), (a, b, c, d), Base, true, Busy) \
    X(ISC_STATUS, isc_rollback_retaining, (ISC_STATUS* a, isc_tr_handle* b), (a, b), Base, false, Busy) \
    X(ISC_STATUS, isc_rollback_transaction, (ISC_STATUS* a, isc_tr_handle* b), (a, b), Base, true, Busy) \
    X(ISC_STATUS, isc_start_multiple, (ISC_STATUS* a, isc_tr_handle* b, short c, void* d), (a, b, c, d), Base, true, Busy) \
    X(ISC_LONG, isc_sqlcode, (const ISC_STATUS* a), (a), Base, true, Busy) \
    X(void, isc_sql_interprete, (short a, ISC_SCHAR* b, short c), (a, b, c), Base, true, Busy) \
    X(ISC_LONG, isc_vax_integer, (const ISC_SCHAR* a, short b), (a, b), Base, true, Busy) \
    X(ISC_STATUS, isc_add_user, (ISC_STATUS* a, const USER_SEC_DATA* b), (a, b), Unbound, false, Busy) \
    X(ISC_STATUS, isc_delete_user, (ISC_STATUS* a, const USER_SEC_DATA* b), (a, b), Unbound, false, Busy) \
    X(ISC_STATUS, isc_modify_user, (ISC_STATUS* a, const USER_SEC_DATA* b), (a, b), Unbound, false, Busy) \
    X(ISC_STATUS, isc_prepare_transaction, (ISC_STATUS* a, isc_tr_handle* b), (a, b), Base, true, Busy) \
    X(int, BLOB_put, (ISC_SCHAR a, FB_BLOB_STREAM b), (a, b), Base, true, Quiet) \
    X(int, BLOB_get, (FB_BLOB_STREAM a), (a), Base, true, Quiet) \
    X(ISC_STATUS, isc_dsql_batch_execute_immed, (ISC_STATUS* a, isc_db_handle* b, isc_tr_handle* c, unsigned short dialect, ISC_ULONG count, char** statements, ISC_ULONG* rows_affected), (a, b, c, dialect, count, statements, rows_affected), Versioned, false, Busy) \
    X(ISC_STATUS, isc_dsql_batch_execute, (ISC_STATUS* a, isc_tr_handle* b, isc_stmt_handle* c, unsigned short dialect, XSQLDA* d, unsigned short rows, XSQLVAR** batch_vars, ISC_ULONG* rows_affected), (a, b, c, dialect, d, rows, batch_vars, rows_affected), Versioned, false, Busy) \
    X(ISC_STATUS, fb_cancel_operation, (ISC_STATUS* a, isc_db_handle* b, ISC_USHORT c), (a, b, c), Versioned, false, Quiet) \
    X(ISC_STATUS, isc_service_attach, (ISC_STATUS* a, unsigned short b, const ISC_SCHAR* c, isc_svc_handle* d, unsigned short e, const ISC_SCHAR* f), (a, b, c, d, e, f), Version6, true, Busy) \
    X(ISC_STATUS, isc_service_detach, (ISC_STATUS* a, isc_svc_handle* b), (a, b), Version6, true, Busy) \
    X(ISC_STATUS, isc_service_query, (ISC_STATUS* a, isc_svc_handle* b, isc_resv_handle* c, unsigned short d, const ISC_SCHAR* e, unsigned short f, const ISC_SCHAR* g, unsigned short h, ISC_SCHAR* i), (a, b, c, d, e, f, g, h, i), Version6, true, Busy) \
    X(ISC_STATUS, isc_service_start, (ISC_STATUS* a, isc_svc_handle* b, isc_resv_handle* c, unsigned short d, const ISC_SCHAR* e), (a, b, c, d, e), Version6, true, Busy) \
    X(void, isc_get_client_version, (ISC_SCHAR* a), (a), Base, false, Busy) \
    X(int, isc_get_client_major_version, (), (), Versioned, true, Busy) \
    X(int, isc_get_client_minor_version, (), (), Versioned, true, Busy) \
    X(ISC_INT64, isc_portable_integer, (const ISC_UCHAR* a, short b), (a, b), Version6, true, Busy)
// clang-format on

// Generates a forwarding body per entry point through RAVELIN_IB_FORWARD_Busy or
// RAVELIN_IB_FORWARD_Quiet, which the user defines; the hand-written ones get nothing.
#define RAVELIN_IB_FORWARD_BY_KIND(ret, name, params, args, group, required, kind)                 \
    RAVELIN_IB_FORWARD_##kind(ret, name, params, args)
#define RAVELIN_IB_FORWARD_Own(ret, name, params, args)

class IIBClientLibrary {
public:
    virtual ~IIBClientLibrary() = default;

    virtual QString GetLibraryName() = 0;
    virtual qint32 GetIBClientVersion() = 0;
    virtual qint32 GetIBClientMinorVersion() = 0;
    virtual bool GetBusy() = 0;

    // isc_event_block: the names follow the count; the client reads at most 15 of them, as its
    // interface allows.
#define RAVELIN_IB_PURE(ret, name, params, args, group, required, kind) virtual ret name params = 0;
    RAVELIN_IB_ENTRY_POINTS(RAVELIN_IB_PURE)
#undef RAVELIN_IB_PURE

    // The status cursor is only read through; callers holding a const cursor use this one.
    ISC_LONG isc_interprete(ISC_SCHAR* buffer, const ISC_STATUS** status) {
        return isc_interprete(buffer, const_cast<ISC_STATUS**>(status));
    }

    virtual void FreeIBLibrary() = 0;
    virtual void LoadIBLibrary() = 0;
    virtual bool LibraryLoaded() = 0;
};

// Holders share the object, but the registry of GetClientLibrary holds one reference too, so a
// library stays loaded until the process ends (or FreeIBLibrary unloads it in place).
using IIBClientLibraryPtr = std::shared_ptr<IIBClientLibrary>;

class TIBClientLibrary : public IIBClientLibrary {
public:
    // Loads the library at once; a failed load raises EOSError and leaves nothing loaded.
    explicit TIBClientLibrary(const QString& libraryName);
    ~TIBClientLibrary() override;
    TIBClientLibrary(const TIBClientLibrary&) = delete;
    TIBClientLibrary& operator=(const TIBClientLibrary&) = delete;

    QString GetLibraryName() override;
    qint32 GetIBClientVersion() override;
    qint32 GetIBClientMinorVersion() override;
    bool GetBusy() override;

#define RAVELIN_IB_OVERRIDE(ret, name, params, args, group, required, kind)                        \
    ret name params override;
    RAVELIN_IB_ENTRY_POINTS(RAVELIN_IB_OVERRIDE)
#undef RAVELIN_IB_OVERRIDE
    using IIBClientLibrary::isc_interprete;

    void FreeIBLibrary() override;
    void LoadIBLibrary() override;
    bool LibraryLoaded() override;

private:
    enum class TEntryGroup { Base, Version6, Versioned, Unbound };

    std::uintptr_t FLibraryHandle = 0;
    QString FLibraryName;
    qint32 FIBClientVersion = 0;
    qint32 FIBClientMinorVersion = 0;
    // The entry points' addresses, typed by the list's parameters.
#define RAVELIN_IB_MEMBER(ret, name, params, args, group, required, kind)                          \
    ret(*F##name) params = nullptr;
    RAVELIN_IB_ENTRY_POINTS(RAVELIN_IB_MEMBER)
#undef RAVELIN_IB_MEMBER
    // Written by the calling thread around each call and read by anyone: atomic only so that
    // such a read is not a data race, no ordering is implied.
    std::atomic<bool> FBusy = false;

    void* Resolve(const char* name, bool required);
    void ResolveGroup(TEntryGroup group);
    void ClearEntryPoints();
    [[noreturn]] void RaiseMissingProcedure(const char* name) const;
};

// The event names of isc_event_block. A variable argument list cannot be handed on as such; the
// client reads exactly `count` names, so they travel as fixed arguments, at most the 15 its
// interface allows.
struct TEventNames {
    static constexpr int MaxEvents = 15;
    ISC_USHORT Count = 0;
    char* Names[MaxEvents] = {};
};
TEventNames ReadEventNames(ISC_USHORT count, va_list list);

template <typename F>
ISC_LONG PassEventNames(F&& eventBlock, ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer,
                        const TEventNames& n) {
    return eventBlock(eventBuffer, resultBuffer, n.Count, n.Names[0], n.Names[1], n.Names[2],
                      n.Names[3], n.Names[4], n.Names[5], n.Names[6], n.Names[7], n.Names[8],
                      n.Names[9], n.Names[10], n.Names[11], n.Names[12], n.Names[13], n.Names[14]);
}

// The library object of the file `name`, loaded on first use and shared afterwards by every
// caller naming the file exactly so (letter case included). Raises EOSError when the library
// cannot be loaded or lacks a required entry point; nothing is registered then.
IIBClientLibraryPtr GetClientLibrary(const QString& name);

// The file the platform's loader is asked for when the program names `name`: the Windows names
// of the Firebird client ("fbclient.dll", "gds32.dll", any letter case) become the client
// package's shared object; anything else is used as given.
QString PlatformLibraryFileName(const QString& name);

// The calling thread's status vector: 20 words that every entry point taking a status vector
// is given and that error reporting reads after a failed call.
ISC_STATUS* StatusVector();
constexpr int StatusVectorLength = 20;

// Puts the calling thread's x87 control word back to the value the process started with; the
// client library may leave it changed. Nothing happens on processors without an x87 unit.
void RestoreFPUControlWord();

// Sets the x87 precision control to extended precision, leaving the other bits as they are.
void SetFPUExtendedPrecision();
