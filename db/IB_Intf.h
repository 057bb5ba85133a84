// The binding to the Firebird client library: one object per loaded library file, shared by
// every connection that names that file, with one operation per entry point of the published C
// interface. The library is loaded at run time by file name; ibase.h only lends its types.
#pragma once

#include <ibase.h>

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

// Batch execution exists in InterBase's client but not in Firebird's ibase.h; these are the
// prototypes InterBase publishes, so a library that exports them can be driven the same way.
using Tisc_dsql_batch_execute_immed = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                     unsigned short dialect, ISC_ULONG count,
                                                     char** statements, ISC_ULONG* rows_affected);
using Tisc_dsql_batch_execute = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                               unsigned short dialect, XSQLDA*, unsigned short rows,
                                               XSQLVAR** batch_vars, ISC_ULONG* rows_affected);

class IIBClientLibrary {
public:
    virtual ~IIBClientLibrary() = default;

    virtual QString GetLibraryName() = 0;
    virtual qint32 GetIBClientVersion() = 0;
    virtual qint32 GetIBClientMinorVersion() = 0;
    virtual bool GetBusy() = 0;

    virtual ISC_STATUS isc_attach_database(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*,
                                           short, const ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_array_get_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                           const ISC_ARRAY_DESC*, void*, ISC_LONG*) = 0;
    virtual ISC_STATUS isc_array_lookup_bounds(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                               const ISC_SCHAR*, const ISC_SCHAR*,
                                               ISC_ARRAY_DESC*) = 0;
    virtual ISC_STATUS isc_array_lookup_desc(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                             const ISC_SCHAR*, const ISC_SCHAR*,
                                             ISC_ARRAY_DESC*) = 0;
    virtual ISC_STATUS isc_array_set_desc(ISC_STATUS*, const ISC_SCHAR*, const ISC_SCHAR*,
                                          const short*, const short*, const short*,
                                          ISC_ARRAY_DESC*) = 0;
    virtual ISC_STATUS isc_array_put_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                           const ISC_ARRAY_DESC*, void*, ISC_LONG*) = 0;
    virtual ISC_STATUS isc_blob_info(ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short,
                                     ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_blob_lookup_desc(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                            const ISC_UCHAR*, const ISC_UCHAR*, ISC_BLOB_DESC*,
                                            ISC_UCHAR*) = 0;
    virtual ISC_STATUS isc_blob_set_desc(ISC_STATUS*, const ISC_UCHAR*, const ISC_UCHAR*, short,
                                         short, short, ISC_BLOB_DESC*) = 0;
    virtual ISC_STATUS isc_cancel_blob(ISC_STATUS*, isc_blob_handle*) = 0;
    virtual ISC_STATUS isc_cancel_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*) = 0;
    virtual ISC_STATUS isc_que_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*, short,
                                      const ISC_UCHAR*, ISC_EVENT_CALLBACK, void*) = 0;
    virtual ISC_STATUS isc_wait_for_event(ISC_STATUS*, isc_db_handle*, short, const ISC_UCHAR*,
                                          ISC_UCHAR*) = 0;
    virtual ISC_STATUS isc_close_blob(ISC_STATUS*, isc_blob_handle*) = 0;
    virtual ISC_STATUS isc_create_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                        isc_blob_handle*, ISC_QUAD*, short, const ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_commit_retaining(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_commit_transaction(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_transaction_info(ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*,
                                            short, ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_database_info(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*,
                                         short, ISC_SCHAR*) = 0;
    virtual void isc_decode_date(const ISC_QUAD*, void*) = 0;
    virtual void isc_decode_sql_date(const ISC_DATE*, void*) = 0;
    virtual void isc_decode_sql_time(const ISC_TIME*, void*) = 0;
    virtual void isc_decode_timestamp(const ISC_TIMESTAMP*, void*) = 0;
    virtual ISC_STATUS isc_detach_database(ISC_STATUS*, isc_db_handle*) = 0;
    virtual ISC_STATUS isc_drop_database(ISC_STATUS*, isc_db_handle*) = 0;
    virtual ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*) = 0;
    virtual ISC_STATUS isc_dsql_describe(ISC_STATUS*, isc_stmt_handle*, unsigned short,
                                         XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_describe_bind(ISC_STATUS*, isc_stmt_handle*, unsigned short,
                                              XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                        unsigned short, const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_execute2(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                         unsigned short, const XSQLDA*, const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                  unsigned short, const ISC_SCHAR*, unsigned short,
                                                  const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                            unsigned short, const ISC_SCHAR*, unsigned short,
                                            const XSQLDA*, const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_fetch(ISC_STATUS*, isc_stmt_handle*, unsigned short,
                                      const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_free_statement(ISC_STATUS*, isc_stmt_handle*, unsigned short) = 0;
    virtual ISC_STATUS isc_dsql_prepare(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                        unsigned short, const ISC_SCHAR*, unsigned short,
                                        XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*,
                                                unsigned short) = 0;
    virtual ISC_STATUS isc_dsql_sql_info(ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*,
                                         short, ISC_SCHAR*) = 0;
    virtual void isc_encode_date(const void*, ISC_QUAD*) = 0;
    virtual void isc_encode_sql_date(const void*, ISC_DATE*) = 0;
    virtual void isc_encode_sql_time(const void*, ISC_TIME*) = 0;
    virtual void isc_encode_timestamp(const void*, ISC_TIMESTAMP*) = 0;
    // The names follow the count; the client reads at most 15 of them, as its interface allows.
    virtual ISC_LONG isc_event_block(ISC_UCHAR**, ISC_UCHAR**, ISC_USHORT, ...) = 0;
    virtual void isc_event_counts(ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*) = 0;
    virtual ISC_LONG isc_free(ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_get_segment(ISC_STATUS*, isc_blob_handle*, unsigned short*,
                                       unsigned short, ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_put_segment(ISC_STATUS*, isc_blob_handle*, unsigned short,
                                       const ISC_SCHAR*) = 0;
    virtual ISC_LONG isc_interprete(ISC_SCHAR*, ISC_STATUS**) = 0;
    // The status cursor is only read through; callers holding a const cursor use this one.
    ISC_LONG isc_interprete(ISC_SCHAR* buffer, const ISC_STATUS** status) {
        return isc_interprete(buffer, const_cast<ISC_STATUS**>(status));
    }
    virtual ISC_LONG fb_interpret(ISC_SCHAR*, unsigned int, const ISC_STATUS**) = 0;
    virtual ISC_STATUS isc_open_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*,
                                      ISC_QUAD*, ISC_USHORT, const ISC_UCHAR*) = 0;
    virtual ISC_STATUS isc_prepare_transaction2(ISC_STATUS*, isc_tr_handle*, ISC_USHORT,
                                                const ISC_UCHAR*) = 0;
    virtual ISC_STATUS isc_rollback_retaining(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_rollback_transaction(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_start_multiple(ISC_STATUS*, isc_tr_handle*, short, void*) = 0;
    virtual ISC_LONG isc_sqlcode(const ISC_STATUS*) = 0;
    virtual void isc_sql_interprete(short, ISC_SCHAR*, short) = 0;
    virtual ISC_LONG isc_vax_integer(const ISC_SCHAR*, short) = 0;
    virtual ISC_STATUS isc_add_user(ISC_STATUS*, const USER_SEC_DATA*) = 0;
    virtual ISC_STATUS isc_delete_user(ISC_STATUS*, const USER_SEC_DATA*) = 0;
    virtual ISC_STATUS isc_modify_user(ISC_STATUS*, const USER_SEC_DATA*) = 0;
    virtual ISC_STATUS isc_prepare_transaction(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual int BLOB_put(ISC_SCHAR, FB_BLOB_STREAM) = 0;
    virtual int BLOB_get(FB_BLOB_STREAM) = 0;
    virtual ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                    unsigned short dialect, ISC_ULONG count,
                                                    char** statements,
                                                    ISC_ULONG* rows_affected) = 0;
    virtual ISC_STATUS isc_dsql_batch_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                              unsigned short dialect, XSQLDA*, unsigned short rows,
                                              XSQLVAR** batch_vars, ISC_ULONG* rows_affected) = 0;
    virtual ISC_STATUS fb_cancel_operation(ISC_STATUS*, isc_db_handle*, ISC_USHORT) = 0;
    virtual ISC_STATUS isc_service_attach(ISC_STATUS*, unsigned short, const ISC_SCHAR*,
                                          isc_svc_handle*, unsigned short, const ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_service_detach(ISC_STATUS*, isc_svc_handle*) = 0;
    virtual ISC_STATUS isc_service_query(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*,
                                         unsigned short, const ISC_SCHAR*, unsigned short,
                                         const ISC_SCHAR*, unsigned short, ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_service_start(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*,
                                         unsigned short, const ISC_SCHAR*) = 0;
    virtual void isc_get_client_version(ISC_SCHAR*) = 0;
    virtual int isc_get_client_major_version() = 0;
    virtual int isc_get_client_minor_version() = 0;
    virtual ISC_INT64 isc_portable_integer(const ISC_UCHAR*, short) = 0;

    virtual void FreeIBLibrary() = 0;
    virtual void LoadIBLibrary() = 0;
    virtual bool LibraryLoaded() = 0;
};

// Holders share the object; the last one to let go frees it, which unloads the library.
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

    ISC_STATUS isc_attach_database(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short,
                                   const ISC_SCHAR*) override;
    ISC_STATUS isc_array_get_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                   const ISC_ARRAY_DESC*, void*, ISC_LONG*) override;
    ISC_STATUS isc_array_lookup_bounds(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                       const ISC_SCHAR*, const ISC_SCHAR*,
                                       ISC_ARRAY_DESC*) override;
    ISC_STATUS isc_array_lookup_desc(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*,
                                     const ISC_SCHAR*, ISC_ARRAY_DESC*) override;
    ISC_STATUS isc_array_set_desc(ISC_STATUS*, const ISC_SCHAR*, const ISC_SCHAR*, const short*,
                                  const short*, const short*, ISC_ARRAY_DESC*) override;
    ISC_STATUS isc_array_put_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                   const ISC_ARRAY_DESC*, void*, ISC_LONG*) override;
    ISC_STATUS isc_blob_info(ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short,
                             ISC_SCHAR*) override;
    ISC_STATUS isc_blob_lookup_desc(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_UCHAR*,
                                    const ISC_UCHAR*, ISC_BLOB_DESC*, ISC_UCHAR*) override;
    ISC_STATUS isc_blob_set_desc(ISC_STATUS*, const ISC_UCHAR*, const ISC_UCHAR*, short, short,
                                 short, ISC_BLOB_DESC*) override;
    ISC_STATUS isc_cancel_blob(ISC_STATUS*, isc_blob_handle*) override;
    ISC_STATUS isc_cancel_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*) override;
    ISC_STATUS isc_que_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*, short, const ISC_UCHAR*,
                              ISC_EVENT_CALLBACK, void*) override;
    ISC_STATUS isc_wait_for_event(ISC_STATUS*, isc_db_handle*, short, const ISC_UCHAR*,
                                  ISC_UCHAR*) override;
    ISC_STATUS isc_close_blob(ISC_STATUS*, isc_blob_handle*) override;
    ISC_STATUS isc_create_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*,
                                ISC_QUAD*, short, const ISC_SCHAR*) override;
    ISC_STATUS isc_commit_retaining(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_commit_transaction(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_transaction_info(ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*, short,
                                    ISC_SCHAR*) override;
    ISC_STATUS isc_database_info(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short,
                                 ISC_SCHAR*) override;
    void isc_decode_date(const ISC_QUAD*, void*) override;
    void isc_decode_sql_date(const ISC_DATE*, void*) override;
    void isc_decode_sql_time(const ISC_TIME*, void*) override;
    void isc_decode_timestamp(const ISC_TIMESTAMP*, void*) override;
    ISC_STATUS isc_detach_database(ISC_STATUS*, isc_db_handle*) override;
    ISC_STATUS isc_drop_database(ISC_STATUS*, isc_db_handle*) override;
    ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*) override;
    ISC_STATUS isc_dsql_describe(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) override;
    ISC_STATUS isc_dsql_describe_bind(ISC_STATUS*, isc_stmt_handle*, unsigned short,
                                      XSQLDA*) override;
    ISC_STATUS isc_dsql_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                const XSQLDA*) override;
    ISC_STATUS isc_dsql_execute2(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                 const XSQLDA*, const XSQLDA*) override;
    ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                          unsigned short, const ISC_SCHAR*, unsigned short,
                                          const XSQLDA*) override;
    ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                    const ISC_SCHAR*, unsigned short, const XSQLDA*,
                                    const XSQLDA*) override;
    ISC_STATUS isc_dsql_fetch(ISC_STATUS*, isc_stmt_handle*, unsigned short,
                              const XSQLDA*) override;
    ISC_STATUS isc_dsql_free_statement(ISC_STATUS*, isc_stmt_handle*, unsigned short) override;
    ISC_STATUS isc_dsql_prepare(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                const ISC_SCHAR*, unsigned short, XSQLDA*) override;
    ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*,
                                        unsigned short) override;
    ISC_STATUS isc_dsql_sql_info(ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*, short,
                                 ISC_SCHAR*) override;
    void isc_encode_date(const void*, ISC_QUAD*) override;
    void isc_encode_sql_date(const void*, ISC_DATE*) override;
    void isc_encode_sql_time(const void*, ISC_TIME*) override;
    void isc_encode_timestamp(const void*, ISC_TIMESTAMP*) override;
    ISC_LONG isc_event_block(ISC_UCHAR**, ISC_UCHAR**, ISC_USHORT, ...) override;
    void isc_event_counts(ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*) override;
    ISC_LONG isc_free(ISC_SCHAR*) override;
    ISC_STATUS isc_get_segment(ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short,
                               ISC_SCHAR*) override;
    ISC_STATUS isc_put_segment(ISC_STATUS*, isc_blob_handle*, unsigned short,
                               const ISC_SCHAR*) override;
    using IIBClientLibrary::isc_interprete;
    ISC_LONG isc_interprete(ISC_SCHAR*, ISC_STATUS**) override;
    ISC_LONG fb_interpret(ISC_SCHAR*, unsigned int, const ISC_STATUS**) override;
    ISC_STATUS isc_open_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*,
                              ISC_QUAD*, ISC_USHORT, const ISC_UCHAR*) override;
    ISC_STATUS isc_prepare_transaction2(ISC_STATUS*, isc_tr_handle*, ISC_USHORT,
                                        const ISC_UCHAR*) override;
    ISC_STATUS isc_rollback_retaining(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_rollback_transaction(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_start_multiple(ISC_STATUS*, isc_tr_handle*, short, void*) override;
    ISC_LONG isc_sqlcode(const ISC_STATUS*) override;
    void isc_sql_interprete(short, ISC_SCHAR*, short) override;
    ISC_LONG isc_vax_integer(const ISC_SCHAR*, short) override;
    ISC_STATUS isc_add_user(ISC_STATUS*, const USER_SEC_DATA*) override;
    ISC_STATUS isc_delete_user(ISC_STATUS*, const USER_SEC_DATA*) override;
    ISC_STATUS isc_modify_user(ISC_STATUS*, const USER_SEC_DATA*) override;
    ISC_STATUS isc_prepare_transaction(ISC_STATUS*, isc_tr_handle*) override;
    int BLOB_put(ISC_SCHAR, FB_BLOB_STREAM) override;
    int BLOB_get(FB_BLOB_STREAM) override;
    ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                            unsigned short dialect, ISC_ULONG count,
                                            char** statements, ISC_ULONG* rows_affected) override;
    ISC_STATUS isc_dsql_batch_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                      unsigned short dialect, XSQLDA*, unsigned short rows,
                                      XSQLVAR** batch_vars, ISC_ULONG* rows_affected) override;
    ISC_STATUS fb_cancel_operation(ISC_STATUS*, isc_db_handle*, ISC_USHORT) override;
    ISC_STATUS isc_service_attach(ISC_STATUS*, unsigned short, const ISC_SCHAR*, isc_svc_handle*,
                                  unsigned short, const ISC_SCHAR*) override;
    ISC_STATUS isc_service_detach(ISC_STATUS*, isc_svc_handle*) override;
    ISC_STATUS isc_service_query(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                                 const ISC_SCHAR*, unsigned short, const ISC_SCHAR*, unsigned short,
                                 ISC_SCHAR*) override;
    ISC_STATUS isc_service_start(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                                 const ISC_SCHAR*) override;
    void isc_get_client_version(ISC_SCHAR*) override;
    int isc_get_client_major_version() override;
    int isc_get_client_minor_version() override;
    ISC_INT64 isc_portable_integer(const ISC_UCHAR*, short) override;

    void FreeIBLibrary() override;
    void LoadIBLibrary() override;
    bool LibraryLoaded() override;

private:
    // The entry points' own types, taken from the published prototypes.
    using Tisc_interprete = ISC_LONG (*)(ISC_SCHAR*, ISC_STATUS**);
    using Tisc_get_client_version = void (*)(ISC_SCHAR*);
    using Tisc_get_client_major_version = int (*)();
    using Tisc_get_client_minor_version = int (*)();
#define RAVELIN_IB_ENTRY(name) decltype(&::name) F##name = nullptr

    std::uintptr_t FLibraryHandle = 0;
    QString FLibraryName;
    qint32 FIBClientVersion = 0;
    qint32 FIBClientMinorVersion = 0;
    RAVELIN_IB_ENTRY(BLOB_get);
    RAVELIN_IB_ENTRY(BLOB_put);
    RAVELIN_IB_ENTRY(isc_sqlcode);
    RAVELIN_IB_ENTRY(isc_sql_interprete);
    Tisc_interprete Fisc_interprete = nullptr;
    RAVELIN_IB_ENTRY(fb_interpret);
    RAVELIN_IB_ENTRY(isc_vax_integer);
    RAVELIN_IB_ENTRY(isc_blob_info);
    RAVELIN_IB_ENTRY(isc_open_blob2);
    RAVELIN_IB_ENTRY(isc_close_blob);
    RAVELIN_IB_ENTRY(isc_get_segment);
    RAVELIN_IB_ENTRY(isc_put_segment);
    RAVELIN_IB_ENTRY(isc_create_blob2);
    RAVELIN_IB_ENTRY(isc_blob_lookup_desc);
    RAVELIN_IB_ENTRY(isc_blob_set_desc);
    RAVELIN_IB_ENTRY(isc_cancel_blob);
    RAVELIN_IB_ENTRY(isc_service_attach);
    RAVELIN_IB_ENTRY(isc_service_detach);
    RAVELIN_IB_ENTRY(isc_service_query);
    RAVELIN_IB_ENTRY(isc_service_start);
    RAVELIN_IB_ENTRY(isc_decode_date);
    RAVELIN_IB_ENTRY(isc_decode_sql_date);
    RAVELIN_IB_ENTRY(isc_decode_sql_time);
    RAVELIN_IB_ENTRY(isc_decode_timestamp);
    RAVELIN_IB_ENTRY(isc_encode_date);
    RAVELIN_IB_ENTRY(isc_encode_sql_date);
    RAVELIN_IB_ENTRY(isc_encode_sql_time);
    RAVELIN_IB_ENTRY(isc_encode_timestamp);
    RAVELIN_IB_ENTRY(isc_dsql_free_statement);
    RAVELIN_IB_ENTRY(isc_dsql_execute2);
    RAVELIN_IB_ENTRY(isc_dsql_execute);
    RAVELIN_IB_ENTRY(isc_dsql_set_cursor_name);
    RAVELIN_IB_ENTRY(isc_dsql_fetch);
    RAVELIN_IB_ENTRY(isc_dsql_sql_info);
    RAVELIN_IB_ENTRY(isc_dsql_alloc_statement2);
    RAVELIN_IB_ENTRY(isc_dsql_prepare);
    RAVELIN_IB_ENTRY(isc_dsql_describe_bind);
    RAVELIN_IB_ENTRY(isc_dsql_describe);
    RAVELIN_IB_ENTRY(isc_dsql_execute_immediate);
    RAVELIN_IB_ENTRY(isc_dsql_exec_immed2);
    RAVELIN_IB_ENTRY(isc_drop_database);
    RAVELIN_IB_ENTRY(isc_detach_database);
    RAVELIN_IB_ENTRY(isc_attach_database);
    RAVELIN_IB_ENTRY(isc_database_info);
    RAVELIN_IB_ENTRY(isc_start_multiple);
    RAVELIN_IB_ENTRY(isc_commit_transaction);
    RAVELIN_IB_ENTRY(isc_commit_retaining);
    RAVELIN_IB_ENTRY(isc_rollback_transaction);
    RAVELIN_IB_ENTRY(isc_rollback_retaining);
    RAVELIN_IB_ENTRY(isc_cancel_events);
    RAVELIN_IB_ENTRY(isc_que_events);
    RAVELIN_IB_ENTRY(isc_event_counts);
    RAVELIN_IB_ENTRY(isc_event_block);
    RAVELIN_IB_ENTRY(isc_free);
    RAVELIN_IB_ENTRY(isc_wait_for_event);
    RAVELIN_IB_ENTRY(isc_transaction_info);
    RAVELIN_IB_ENTRY(isc_prepare_transaction);
    RAVELIN_IB_ENTRY(isc_prepare_transaction2);
    RAVELIN_IB_ENTRY(isc_array_lookup_bounds);
    RAVELIN_IB_ENTRY(isc_array_get_slice);
    RAVELIN_IB_ENTRY(isc_array_put_slice);
    RAVELIN_IB_ENTRY(isc_array_set_desc);
    RAVELIN_IB_ENTRY(isc_array_lookup_desc);
    RAVELIN_IB_ENTRY(isc_portable_integer);
    RAVELIN_IB_ENTRY(isc_add_user);
    RAVELIN_IB_ENTRY(isc_delete_user);
    RAVELIN_IB_ENTRY(isc_modify_user);
    Tisc_get_client_version Fisc_get_client_version = nullptr;
    Tisc_get_client_major_version Fisc_get_client_major_version = nullptr;
    Tisc_get_client_minor_version Fisc_get_client_minor_version = nullptr;
    Tisc_dsql_batch_execute_immed Fisc_dsql_batch_execute_immed = nullptr;
    Tisc_dsql_batch_execute Fisc_dsql_batch_execute = nullptr;
    RAVELIN_IB_ENTRY(fb_cancel_operation);
    // Written by the calling thread around each call and read by anyone: atomic only so that
    // such a read is not a data race, no ordering is implied.
    std::atomic<bool> FBusy = false;
#undef RAVELIN_IB_ENTRY

    void* Resolve(const char* name, bool required);
    void ClearEntryPoints();
    [[noreturn]] void RaiseMissingProcedure(const char* name) const;
    template <typename F, typename... Args> auto CallPlain(F entry, const char* name, Args... args);
    template <typename F, typename... Args>
    auto CallWithoutBusy(F entry, const char* name, Args... args);
};

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
