// A stand-in client library: every published entry point with a trivial body. The test build
// compiles it several times, each time leaving out chosen entry points (NO_<name>), so the
// binding's handling of required, optional and version-dependent entry points can be watched
// without a server. Including ibase.h makes the compiler hold each body to its prototype.
#include <ibase.h>

#include "hook.h"

#include <cstdarg>
#include <cstring>
#include <stdexcept>

#ifndef CLIENT_MAJOR
#define CLIENT_MAJOR 4
#endif
#ifndef CLIENT_MINOR
#define CLIENT_MINOR 2
#endif

#define STUB_STATUS(name, ...)                                                                     \
    extern "C" ISC_STATUS name(__VA_ARGS__) {                                                      \
        return 0;                                                                                  \
    }

STUB_STATUS(isc_attach_database, ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short,
            const ISC_SCHAR*)
STUB_STATUS(isc_array_lookup_bounds, ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*,
            const ISC_SCHAR*, ISC_ARRAY_DESC*)
STUB_STATUS(isc_array_put_slice, ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
            const ISC_ARRAY_DESC*, void*, ISC_LONG*)
STUB_STATUS(isc_blob_info, ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short,
            ISC_SCHAR*)
STUB_STATUS(isc_cancel_events, ISC_STATUS*, isc_db_handle*, ISC_LONG*)
STUB_STATUS(isc_wait_for_event, ISC_STATUS*, isc_db_handle*, short, const ISC_UCHAR*, ISC_UCHAR*)
STUB_STATUS(isc_close_blob, ISC_STATUS*, isc_blob_handle*)
STUB_STATUS(isc_create_blob2, ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*,
            ISC_QUAD*, short, const ISC_SCHAR*)
STUB_STATUS(isc_commit_retaining, ISC_STATUS*, isc_tr_handle*)
STUB_STATUS(isc_commit_transaction, ISC_STATUS*, isc_tr_handle*)
STUB_STATUS(isc_transaction_info, ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*, short,
            ISC_SCHAR*)
STUB_STATUS(isc_database_info, ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short,
            ISC_SCHAR*)
STUB_STATUS(isc_detach_database, ISC_STATUS*, isc_db_handle*)
STUB_STATUS(isc_drop_database, ISC_STATUS*, isc_db_handle*)
STUB_STATUS(isc_dsql_alloc_statement2, ISC_STATUS*, isc_db_handle*, isc_stmt_handle*)
STUB_STATUS(isc_dsql_describe, ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*)
STUB_STATUS(isc_dsql_describe_bind, ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*)
STUB_STATUS(isc_dsql_execute, ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
            const XSQLDA*)
STUB_STATUS(isc_dsql_execute2, ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
            const XSQLDA*, const XSQLDA*)
STUB_STATUS(isc_dsql_execute_immediate, ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
            const ISC_SCHAR*, unsigned short, const XSQLDA*)
STUB_STATUS(isc_dsql_exec_immed2, ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
            const ISC_SCHAR*, unsigned short, const XSQLDA*, const XSQLDA*)
STUB_STATUS(isc_dsql_fetch, ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*)
STUB_STATUS(isc_dsql_free_statement, ISC_STATUS*, isc_stmt_handle*, unsigned short)
#ifndef NO_isc_dsql_prepare
STUB_STATUS(isc_dsql_prepare, ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
            const ISC_SCHAR*, unsigned short, XSQLDA*)
#endif
STUB_STATUS(isc_dsql_set_cursor_name, ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*,
            unsigned short)
STUB_STATUS(isc_dsql_sql_info, ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*, short,
            ISC_SCHAR*)
STUB_STATUS(isc_get_segment, ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short,
            ISC_SCHAR*)
STUB_STATUS(isc_put_segment, ISC_STATUS*, isc_blob_handle*, unsigned short, const ISC_SCHAR*)
STUB_STATUS(isc_open_blob2, ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*,
            ISC_QUAD*, ISC_USHORT, const ISC_UCHAR*)
STUB_STATUS(isc_prepare_transaction2, ISC_STATUS*, isc_tr_handle*, ISC_USHORT, const ISC_UCHAR*)
STUB_STATUS(isc_rollback_transaction, ISC_STATUS*, isc_tr_handle*)
STUB_STATUS(isc_start_multiple, ISC_STATUS*, isc_tr_handle*, short, void*)
STUB_STATUS(isc_prepare_transaction, ISC_STATUS*, isc_tr_handle*)

// The entry points the binding never resolves: a library may well export them.
STUB_STATUS(isc_blob_lookup_desc, ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_UCHAR*,
            const ISC_UCHAR*, ISC_BLOB_DESC*, ISC_UCHAR*)
STUB_STATUS(isc_cancel_blob, ISC_STATUS*, isc_blob_handle*)

// Retaining rollback marks a version 6 client; its value tells the test it got here.
#ifndef NO_isc_rollback_retaining
extern "C" ISC_STATUS isc_rollback_retaining(ISC_STATUS*, isc_tr_handle*) {
    return 6;
}
#endif

// The services and SQL date types of version 6; a version 5 stand-in exports them too, so a
// binding that resolved them regardless would show.
STUB_STATUS(isc_service_attach, ISC_STATUS*, unsigned short, const ISC_SCHAR*, isc_svc_handle*,
            unsigned short, const ISC_SCHAR*)
STUB_STATUS(isc_service_detach, ISC_STATUS*, isc_svc_handle*)
STUB_STATUS(isc_service_query, ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
            const ISC_SCHAR*, unsigned short, const ISC_SCHAR*, unsigned short, ISC_SCHAR*)
#ifndef NO_isc_service_start
STUB_STATUS(isc_service_start, ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
            const ISC_SCHAR*)
#endif
extern "C" void isc_decode_date(const ISC_QUAD*, void*) {}
extern "C" void isc_encode_date(const void*, ISC_QUAD*) {}
extern "C" void isc_decode_sql_date(const ISC_DATE* date, void* out) {
    *static_cast<ISC_DATE*>(out) = *date + 1;
}
extern "C" void isc_decode_sql_time(const ISC_TIME*, void*) {}
extern "C" void isc_decode_timestamp(const ISC_TIMESTAMP*, void*) {}
extern "C" void isc_encode_sql_date(const void*, ISC_DATE*) {}
extern "C" void isc_encode_sql_time(const void*, ISC_TIME*) {}
extern "C" void isc_encode_timestamp(const void*, ISC_TIMESTAMP*) {}
extern "C" ISC_INT64 isc_portable_integer(const ISC_UCHAR*, short) {
    return 0;
}

extern "C" int BLOB_get(FB_BLOB_STREAM) {
    return 0;
}
extern "C" int BLOB_put(ISC_SCHAR, FB_BLOB_STREAM) {
    return 0;
}
extern "C" ISC_LONG isc_sqlcode(const ISC_STATUS*) {
    return -901;
}
extern "C" void isc_sql_interprete(short, ISC_SCHAR* buffer, short) {
    buffer[0] = 0;
}
extern "C" ISC_LONG isc_vax_integer(const ISC_SCHAR*, short) {
    return 0;
}
extern "C" ISC_LONG isc_free(ISC_SCHAR*) {
    return 0;
}
extern "C" void isc_event_counts(ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*) {}

// The names arrive as a variable argument list: the result adds up their lengths so the test
// sees that every one of them got through.
extern "C" ISC_LONG isc_event_block(ISC_UCHAR**, ISC_UCHAR**, ISC_USHORT count, ...) {
    va_list list;
    va_start(list, count);
    ISC_LONG total = 0;
    for (int i = 0; i < count; ++i)
        total += ISC_LONG(std::strlen(va_arg(list, const char*)));
    va_end(list);
    return total;
}

extern "C" ISC_STATUS isc_que_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*, short length,
                                     const ISC_UCHAR* names, ISC_EVENT_CALLBACK callback,
                                     void* arg) {
    callback(arg, ISC_USHORT(length), names);
    if (length == TestLibThrowLength) throw std::runtime_error("thrown by the client library");
    return 0;
}

extern "C" ISC_STATUS isc_array_get_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                          const ISC_ARRAY_DESC*, void* buffer, ISC_LONG*) {
    auto* hook = static_cast<TTestLibHook*>(buffer);
    hook->Callback(hook->Arg);
    return 0;
}

// Both interpreters walk a vector of (isc_arg_gds, code) pairs: one message per pair.
extern "C" ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** cursor) {
    if ((*cursor)[0] != isc_arg_gds) return 0;
    *cursor += 2;
    std::strcpy(buffer, TESTLIB_INTERPRETE_MESSAGE);
    return ISC_LONG(std::strlen(buffer));
}

#ifndef NO_fb_interpret
extern "C" ISC_LONG fb_interpret(ISC_SCHAR* buffer, unsigned int size, const ISC_STATUS** cursor) {
    if ((*cursor)[0] != isc_arg_gds) return 0;
    *cursor += 2;
    std::strncpy(buffer, TESTLIB_FB_INTERPRET_MESSAGE, size);
    buffer[size - 1] = 0;
    return ISC_LONG(std::strlen(buffer));
}
#endif

#ifndef NO_isc_get_client_version
extern "C" void isc_get_client_version(ISC_SCHAR* buffer) {
    std::strcpy(buffer, "stand-in");
}
extern "C" int isc_get_client_major_version() {
    return CLIENT_MAJOR;
}
extern "C" int isc_get_client_minor_version() {
    return CLIENT_MINOR;
}

// InterBase's batch execution, absent from Firebird's ibase.h: the result hands back the count
// so the test sees the call went through.
extern "C" ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                   unsigned short, ISC_ULONG count, char**,
                                                   ISC_ULONG* rows) {
    *rows = count;
    return 0;
}
extern "C" ISC_STATUS isc_dsql_batch_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                             unsigned short, XSQLDA*, unsigned short rows,
                                             XSQLVAR**, ISC_ULONG* affected) {
    *affected = rows;
    return 0;
}
STUB_STATUS(fb_cancel_operation, ISC_STATUS*, isc_db_handle*, ISC_USHORT)
#endif
