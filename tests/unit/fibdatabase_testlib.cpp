// Attach and detach for a stand-in client library whose detach always fails, built together
// with the shared stand-in source (whose own two stubs are renamed away by the build), so the
// connection's handling of a refused detach can be watched without a server.
#include <ibase.h>

#undef isc_attach_database
#undef isc_detach_database

namespace {
constexpr ISC_STATUS DetachRefused = 335544856; // isc_att_shutdown
}

extern "C" ISC_STATUS isc_attach_database(ISC_STATUS* status, short, const ISC_SCHAR*,
                                          isc_db_handle* handle, short, const ISC_SCHAR*) {
    status[0] = isc_arg_gds;
    status[1] = 0;
    status[2] = isc_arg_end;
    *handle = 1;
    return 0;
}

extern "C" ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle*) {
    status[0] = isc_arg_gds;
    status[1] = DetachRefused;
    status[2] = isc_arg_end;
    return DetachRefused;
}
