// A client library that hands every call to the real one and notes what the statements ask of
// the server: the texts sent to isc_dsql_prepare, the executions and the input types of the last.
#pragma once

#include "IB_Intf.h"

#include <QByteArray>
#include <QList>

#include <vector>

class TCountingClientLibrary : public IIBClientLibrary {
public:
    explicit TCountingClientLibrary(IIBClientLibrary* inner) : FInner(inner) {}

    QList<QByteArray> PreparedTexts;
    int Executes = 0;
    std::vector<short> LastInput;

    // clang-format off
    QString GetLibraryName() override { return FInner->GetLibraryName(); }
    qint32 GetIBClientVersion() override { return FInner->GetIBClientVersion(); }
    qint32 GetIBClientMinorVersion() override { return FInner->GetIBClientMinorVersion(); }
    bool GetBusy() override { return FInner->GetBusy(); }
    ISC_STATUS isc_attach_database(ISC_STATUS* a0, short a1, const ISC_SCHAR* a2, isc_db_handle* a3, short a4, const ISC_SCHAR* a5) override { return FInner->isc_attach_database(a0, a1, a2, a3, a4, a5); }
    ISC_STATUS isc_array_get_slice(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, ISC_QUAD* a3, const ISC_ARRAY_DESC* a4, void* a5, ISC_LONG* a6) override { return FInner->isc_array_get_slice(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_array_lookup_bounds(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, const ISC_SCHAR* a3, const ISC_SCHAR* a4, ISC_ARRAY_DESC* a5) override { return FInner->isc_array_lookup_bounds(a0, a1, a2, a3, a4, a5); }
    ISC_STATUS isc_array_lookup_desc(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, const ISC_SCHAR* a3, const ISC_SCHAR* a4, ISC_ARRAY_DESC* a5) override { return FInner->isc_array_lookup_desc(a0, a1, a2, a3, a4, a5); }
    ISC_STATUS isc_array_set_desc(ISC_STATUS* a0, const ISC_SCHAR* a1, const ISC_SCHAR* a2, const short* a3, const short* a4, const short* a5, ISC_ARRAY_DESC* a6) override { return FInner->isc_array_set_desc(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_array_put_slice(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, ISC_QUAD* a3, const ISC_ARRAY_DESC* a4, void* a5, ISC_LONG* a6) override { return FInner->isc_array_put_slice(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_blob_info(ISC_STATUS* a0, isc_blob_handle* a1, short a2, const ISC_SCHAR* a3, short a4, ISC_SCHAR* a5) override { return FInner->isc_blob_info(a0, a1, a2, a3, a4, a5); }
    ISC_STATUS isc_blob_lookup_desc(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, const ISC_UCHAR* a3, const ISC_UCHAR* a4, ISC_BLOB_DESC* a5, ISC_UCHAR* a6) override { return FInner->isc_blob_lookup_desc(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_blob_set_desc(ISC_STATUS* a0, const ISC_UCHAR* a1, const ISC_UCHAR* a2, short a3, short a4, short a5, ISC_BLOB_DESC* a6) override { return FInner->isc_blob_set_desc(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_cancel_blob(ISC_STATUS* a0, isc_blob_handle* a1) override { return FInner->isc_cancel_blob(a0, a1); }
    ISC_STATUS isc_cancel_events(ISC_STATUS* a0, isc_db_handle* a1, ISC_LONG* a2) override { return FInner->isc_cancel_events(a0, a1, a2); }
    ISC_STATUS isc_que_events(ISC_STATUS* a0, isc_db_handle* a1, ISC_LONG* a2, short a3, const ISC_UCHAR* a4, ISC_EVENT_CALLBACK a5, void* a6) override { return FInner->isc_que_events(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_wait_for_event(ISC_STATUS* a0, isc_db_handle* a1, short a2, const ISC_UCHAR* a3, ISC_UCHAR* a4) override { return FInner->isc_wait_for_event(a0, a1, a2, a3, a4); }
    ISC_STATUS isc_close_blob(ISC_STATUS* a0, isc_blob_handle* a1) override { return FInner->isc_close_blob(a0, a1); }
    ISC_STATUS isc_create_blob2(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, isc_blob_handle* a3, ISC_QUAD* a4, short a5, const ISC_SCHAR* a6) override { return FInner->isc_create_blob2(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_commit_retaining(ISC_STATUS* a0, isc_tr_handle* a1) override { return FInner->isc_commit_retaining(a0, a1); }
    ISC_STATUS isc_commit_transaction(ISC_STATUS* a0, isc_tr_handle* a1) override { return FInner->isc_commit_transaction(a0, a1); }
    ISC_STATUS isc_transaction_info(ISC_STATUS* a0, isc_tr_handle* a1, short a2, const ISC_SCHAR* a3, short a4, ISC_SCHAR* a5) override { return FInner->isc_transaction_info(a0, a1, a2, a3, a4, a5); }
    ISC_STATUS isc_database_info(ISC_STATUS* a0, isc_db_handle* a1, short a2, const ISC_SCHAR* a3, short a4, ISC_SCHAR* a5) override { return FInner->isc_database_info(a0, a1, a2, a3, a4, a5); }
    void isc_decode_date(const ISC_QUAD* a0, void* a1) override { FInner->isc_decode_date(a0, a1); }
    void isc_decode_sql_date(const ISC_DATE* a0, void* a1) override { FInner->isc_decode_sql_date(a0, a1); }
    void isc_decode_sql_time(const ISC_TIME* a0, void* a1) override { FInner->isc_decode_sql_time(a0, a1); }
    void isc_decode_timestamp(const ISC_TIMESTAMP* a0, void* a1) override { FInner->isc_decode_timestamp(a0, a1); }
    ISC_STATUS isc_detach_database(ISC_STATUS* a0, isc_db_handle* a1) override { return FInner->isc_detach_database(a0, a1); }
    ISC_STATUS isc_drop_database(ISC_STATUS* a0, isc_db_handle* a1) override { return FInner->isc_drop_database(a0, a1); }
    ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* a0, isc_db_handle* a1, isc_stmt_handle* a2) override { return FInner->isc_dsql_alloc_statement2(a0, a1, a2); }
    ISC_STATUS isc_dsql_describe(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2, XSQLDA* a3) override { return FInner->isc_dsql_describe(a0, a1, a2, a3); }
    ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2, XSQLDA* a3) override { return FInner->isc_dsql_describe_bind(a0, a1, a2, a3); }
    ISC_STATUS isc_dsql_execute(ISC_STATUS* a0, isc_tr_handle* a1, isc_stmt_handle* a2, unsigned short a3, const XSQLDA* a4) override {
        ++Executes;
        LastInput.clear();
        for (int i = 0; a4 && i < a4->sqld; ++i) LastInput.push_back(a4->sqlvar[i].sqltype & ~1);
        return FInner->isc_dsql_execute(a0, a1, a2, a3, a4);
    }
    ISC_STATUS isc_dsql_execute2(ISC_STATUS* a0, isc_tr_handle* a1, isc_stmt_handle* a2, unsigned short a3, const XSQLDA* a4, const XSQLDA* a5) override { return FInner->isc_dsql_execute2(a0, a1, a2, a3, a4, a5); }
    ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, unsigned short a3, const ISC_SCHAR* a4, unsigned short a5, const XSQLDA* a6) override { return FInner->isc_dsql_execute_immediate(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, unsigned short a3, const ISC_SCHAR* a4, unsigned short a5, const XSQLDA* a6, const XSQLDA* a7) override { return FInner->isc_dsql_exec_immed2(a0, a1, a2, a3, a4, a5, a6, a7); }
    ISC_STATUS isc_dsql_fetch(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2, const XSQLDA* a3) override { return FInner->isc_dsql_fetch(a0, a1, a2, a3); }
    ISC_STATUS isc_dsql_free_statement(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2) override { return FInner->isc_dsql_free_statement(a0, a1, a2); }
    ISC_STATUS isc_dsql_prepare(ISC_STATUS* a0, isc_tr_handle* a1, isc_stmt_handle* a2, unsigned short a3, const ISC_SCHAR* a4, unsigned short a5, XSQLDA* a6) override {
        PreparedTexts.append(QByteArray(a4));
        return FInner->isc_dsql_prepare(a0, a1, a2, a3, a4, a5, a6);
    }
    ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS* a0, isc_stmt_handle* a1, const ISC_SCHAR* a2, unsigned short a3) override { return FInner->isc_dsql_set_cursor_name(a0, a1, a2, a3); }
    ISC_STATUS isc_dsql_sql_info(ISC_STATUS* a0, isc_stmt_handle* a1, short a2, const ISC_SCHAR* a3, short a4, ISC_SCHAR* a5) override { return FInner->isc_dsql_sql_info(a0, a1, a2, a3, a4, a5); }
    void isc_encode_date(const void* a0, ISC_QUAD* a1) override { FInner->isc_encode_date(a0, a1); }
    void isc_encode_sql_date(const void* a0, ISC_DATE* a1) override { FInner->isc_encode_sql_date(a0, a1); }
    void isc_encode_sql_time(const void* a0, ISC_TIME* a1) override { FInner->isc_encode_sql_time(a0, a1); }
    void isc_encode_timestamp(const void* a0, ISC_TIMESTAMP* a1) override { FInner->isc_encode_timestamp(a0, a1); }
    ISC_LONG isc_event_block(ISC_UCHAR** a, ISC_UCHAR** b, ISC_USHORT n, ...) override { (void)a; (void)b; (void)n; return 0; }
    void isc_event_counts(ISC_ULONG* a0, short a1, ISC_UCHAR* a2, const ISC_UCHAR* a3) override { FInner->isc_event_counts(a0, a1, a2, a3); }
    ISC_LONG isc_free(ISC_SCHAR* a0) override { return FInner->isc_free(a0); }
    ISC_STATUS isc_get_segment(ISC_STATUS* a0, isc_blob_handle* a1, unsigned short* a2, unsigned short a3, ISC_SCHAR* a4) override { return FInner->isc_get_segment(a0, a1, a2, a3, a4); }
    ISC_STATUS isc_put_segment(ISC_STATUS* a0, isc_blob_handle* a1, unsigned short a2, const ISC_SCHAR* a3) override { return FInner->isc_put_segment(a0, a1, a2, a3); }
    ISC_LONG isc_interprete(ISC_SCHAR* a0, ISC_STATUS** a1) override { return FInner->isc_interprete(a0, a1); }
    ISC_LONG fb_interpret(ISC_SCHAR* a0, unsigned int a1, const ISC_STATUS** a2) override { return FInner->fb_interpret(a0, a1, a2); }
    ISC_STATUS isc_open_blob2(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, isc_blob_handle* a3, ISC_QUAD* a4, ISC_USHORT a5, const ISC_UCHAR* a6) override { return FInner->isc_open_blob2(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_prepare_transaction2(ISC_STATUS* a0, isc_tr_handle* a1, ISC_USHORT a2, const ISC_UCHAR* a3) override { return FInner->isc_prepare_transaction2(a0, a1, a2, a3); }
    ISC_STATUS isc_rollback_retaining(ISC_STATUS* a0, isc_tr_handle* a1) override { return FInner->isc_rollback_retaining(a0, a1); }
    ISC_STATUS isc_rollback_transaction(ISC_STATUS* a0, isc_tr_handle* a1) override { return FInner->isc_rollback_transaction(a0, a1); }
    ISC_STATUS isc_start_multiple(ISC_STATUS* a0, isc_tr_handle* a1, short a2, void* a3) override { return FInner->isc_start_multiple(a0, a1, a2, a3); }
    ISC_LONG isc_sqlcode(const ISC_STATUS* a0) override { return FInner->isc_sqlcode(a0); }
    void isc_sql_interprete(short a0, ISC_SCHAR* a1, short a2) override { FInner->isc_sql_interprete(a0, a1, a2); }
    ISC_LONG isc_vax_integer(const ISC_SCHAR* a0, short a1) override { return FInner->isc_vax_integer(a0, a1); }
    ISC_STATUS isc_add_user(ISC_STATUS* a0, const USER_SEC_DATA* a1) override { return FInner->isc_add_user(a0, a1); }
    ISC_STATUS isc_delete_user(ISC_STATUS* a0, const USER_SEC_DATA* a1) override { return FInner->isc_delete_user(a0, a1); }
    ISC_STATUS isc_modify_user(ISC_STATUS* a0, const USER_SEC_DATA* a1) override { return FInner->isc_modify_user(a0, a1); }
    ISC_STATUS isc_prepare_transaction(ISC_STATUS* a0, isc_tr_handle* a1) override { return FInner->isc_prepare_transaction(a0, a1); }
    int BLOB_put(ISC_SCHAR a0, FB_BLOB_STREAM a1) override { return FInner->BLOB_put(a0, a1); }
    int BLOB_get(FB_BLOB_STREAM a0) override { return FInner->BLOB_get(a0); }
    ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2, unsigned short a3, ISC_ULONG a4, char** a5, ISC_ULONG* a6) override { return FInner->isc_dsql_batch_execute_immed(a0, a1, a2, a3, a4, a5, a6); }
    ISC_STATUS isc_dsql_batch_execute(ISC_STATUS* a0, isc_tr_handle* a1, isc_stmt_handle* a2, unsigned short a3, XSQLDA* a4, unsigned short a5, XSQLVAR** a6, ISC_ULONG* a7) override { return FInner->isc_dsql_batch_execute(a0, a1, a2, a3, a4, a5, a6, a7); }
    ISC_STATUS fb_cancel_operation(ISC_STATUS* a0, isc_db_handle* a1, ISC_USHORT a2) override { return FInner->fb_cancel_operation(a0, a1, a2); }
    ISC_STATUS isc_service_attach(ISC_STATUS* a0, unsigned short a1, const ISC_SCHAR* a2, isc_svc_handle* a3, unsigned short a4, const ISC_SCHAR* a5) override { return FInner->isc_service_attach(a0, a1, a2, a3, a4, a5); }
    ISC_STATUS isc_service_detach(ISC_STATUS* a0, isc_svc_handle* a1) override { return FInner->isc_service_detach(a0, a1); }
    ISC_STATUS isc_service_query(ISC_STATUS* a0, isc_svc_handle* a1, isc_resv_handle* a2, unsigned short a3, const ISC_SCHAR* a4, unsigned short a5, const ISC_SCHAR* a6, unsigned short a7, ISC_SCHAR* a8) override { return FInner->isc_service_query(a0, a1, a2, a3, a4, a5, a6, a7, a8); }
    ISC_STATUS isc_service_start(ISC_STATUS* a0, isc_svc_handle* a1, isc_resv_handle* a2, unsigned short a3, const ISC_SCHAR* a4) override { return FInner->isc_service_start(a0, a1, a2, a3, a4); }
    void isc_get_client_version(ISC_SCHAR* a0) override { FInner->isc_get_client_version(a0); }
    int isc_get_client_major_version() override { return FInner->isc_get_client_major_version(); }
    int isc_get_client_minor_version() override { return FInner->isc_get_client_minor_version(); }
    ISC_INT64 isc_portable_integer(const ISC_UCHAR* a0, short a1) override { return FInner->isc_portable_integer(a0, a1); }
    void FreeIBLibrary() override { FInner->FreeIBLibrary(); }
    void LoadIBLibrary() override { FInner->LoadIBLibrary(); }
    bool LibraryLoaded() override { return FInner->LibraryLoaded(); }
    // clang-format on

private:
    IIBClientLibrary* FInner;
};
