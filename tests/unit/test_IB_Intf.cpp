// The client library binding, against the machine's Firebird client and against stand-in
// libraries that leave out chosen entry points.
#include "ForwardingClientLibrary.h"
#include "IB_Intf.h"
#include "SysUtils.h"
#include "hook.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <stdexcept>
#include <thread>

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif

namespace {

const QString V5 = QStringLiteral(TESTLIB_V5);
const QString V6 = QStringLiteral(TESTLIB_V6);
const QString V6NoService = QStringLiteral(TESTLIB_V6_NOSERVICE);
const QString V42 = QStringLiteral(TESTLIB_V42);
const QString NoPrepare = QStringLiteral(TESTLIB_NOPREPARE);
const QString NoFbInterpret = QStringLiteral(TESTLIB_NOFBINTERPRET);

// Whether the process has the file mapped: the loader's own view of what is loaded.
bool IsMapped(const QString& file) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly)) return false;
    return QString::fromLocal8Bit(maps.readAll()).contains(file);
}

QString MissingProcedureMessage(const QString& entry, const QString& file) {
    return QStringLiteral("Can't find procedure ") + entry + QStringLiteral(" in ") + file;
}

template <typename F> QString ExceptionMessage(F&& f) {
    try {
        f();
    } catch (const EOSError&) {
        return QStringLiteral("<EOSError>");
    } catch (const Exception& e) {
        return e.Message();
    }
    return QStringLiteral("<nothing raised>");
}

template <typename F> EOSError ExpectOSError(F&& f) {
    try {
        f();
    } catch (const EOSError& e) {
        return e;
    }
    ADD_FAILURE() << "no EOSError raised";
    return EOSError(QString(), -1);
}

} // namespace

TEST(IBClientLibrary, MapsTheProgramsFileNamesToTheFirebirdClient) {
    EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("fbClient.dll")), "libfbclient.so.2");
    EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("GDS32.DLL")), "libfbclient.so.2");
    EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("gds32.dll")), "libfbclient.so.2");
    EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("fbembed.dll")), "fbembed.dll");
    EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("myfbclient.dll")), "myfbclient.dll");
    EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("fbclient.dll.bak")), "fbclient.dll.bak");
    EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("/opt/fb/fbclient.dll")),
              "/opt/fb/fbclient.dll");
}

TEST(IBClientLibrary, RealClientIsSharedPerExactNameAndReportsItsVersion) {
    IIBClientLibraryPtr first = GetClientLibrary(QStringLiteral("fbClient.dll"));
    ASSERT_TRUE(first->LibraryLoaded());
    EXPECT_EQ(first->GetLibraryName(), "fbClient.dll");
    // Firebird 3.0 numbers its client the InterBase way, 6.3, and says so in its version text
    // ("LI-V6.3.11.33637 Firebird 3.0"); the detected numbers must be the ones it reports.
    EXPECT_EQ(first->GetIBClientVersion(), 6);
    EXPECT_EQ(first->GetIBClientMinorVersion(), 3);
    char version[128] = {};
    first->isc_get_client_version(version);
    EXPECT_NE(QByteArray(version).indexOf("-V6.3."), -1) << version;
    EXPECT_NE(QByteArray(version).indexOf("Firebird 3.0"), -1) << version;
    EXPECT_TRUE(IsMapped(QStringLiteral("libfbclient.so")));

    EXPECT_EQ(GetClientLibrary(QStringLiteral("fbClient.dll")).get(), first.get());
    IIBClientLibraryPtr other = GetClientLibrary(QStringLiteral("fbclient.dll"));
    EXPECT_NE(other.get(), first.get());
    EXPECT_EQ(other->GetLibraryName(), "fbclient.dll");

    // Entry points that need no server answer through the binding.
    const char bytes[] = {0x01, 0x02};
    EXPECT_EQ(first->isc_vax_integer(bytes, 2), 0x0201);
    ISC_STATUS status[StatusVectorLength] = {isc_arg_gds, isc_login, isc_arg_end};
    EXPECT_EQ(first->isc_sqlcode(status), -902);
    EXPECT_FALSE(first->GetBusy());
}

TEST(IBClientLibrary, FreedLibraryIsReloadedIntoTheSameObject) {
    IIBClientLibraryPtr library = GetClientLibrary(V6);
    ASSERT_TRUE(IsMapped(V6));
    library->FreeIBLibrary();
    EXPECT_FALSE(library->LibraryLoaded());
    EXPECT_FALSE(IsMapped(V6));
    // The version stays known while unloaded, and a call raises rather than jumping nowhere.
    EXPECT_EQ(library->GetIBClientVersion(), 6);
    EXPECT_EQ(ExceptionMessage([&] { library->isc_commit_retaining(StatusVector(), nullptr); }),
              MissingProcedureMessage(QStringLiteral("isc_commit_retaining"), V6));

    EXPECT_EQ(GetClientLibrary(V6).get(), library.get());
    EXPECT_TRUE(library->LibraryLoaded());
    EXPECT_TRUE(IsMapped(V6));
    EXPECT_EQ(library->isc_rollback_retaining(StatusVector(), nullptr), 6);

    IIBClientLibraryPtr real = GetClientLibrary(QStringLiteral("fbClient.dll"));
    real->FreeIBLibrary();
    EXPECT_FALSE(real->LibraryLoaded());
    EXPECT_EQ(GetClientLibrary(QStringLiteral("fbClient.dll")).get(), real.get());
    EXPECT_TRUE(real->LibraryLoaded());
    EXPECT_EQ(real->GetIBClientVersion(), 6);
    EXPECT_EQ(real->GetIBClientMinorVersion(), 3);
}

TEST(IBClientLibrary, LoaderFailuresRaiseOSErrorsAndRegisterNothing) {
    EOSError missing = ExpectOSError([] { GetClientLibrary("/nonexistent/libnothing.so"); });
    EXPECT_EQ(missing.ErrorCode(), 126);
    EXPECT_TRUE(missing.Message().startsWith(QStringLiteral("Erreur système.  Code : 126.\r\n")))
        << missing.Message().toStdString();
    // The loader's own reason, so the user sees which file and why.
    EXPECT_TRUE(missing.Message().contains(QStringLiteral("/nonexistent/libnothing.so")));
    EXPECT_TRUE(missing.Message().contains(QStringLiteral("No such file")));

    EOSError noPrepare = ExpectOSError([] { GetClientLibrary(NoPrepare); });
    EXPECT_EQ(noPrepare.ErrorCode(), 127);
    EXPECT_TRUE(noPrepare.Message().startsWith(QStringLiteral("Erreur système.  Code : 127.\r\n")));
    EXPECT_TRUE(noPrepare.Message().contains(QStringLiteral("isc_dsql_prepare")));
    EXPECT_FALSE(IsMapped(NoPrepare));

    // Version 6 makes the services and SQL date entry points required.
    EOSError noService = ExpectOSError([] { GetClientLibrary(V6NoService); });
    EXPECT_TRUE(noService.Message().contains(QStringLiteral("isc_service_start")));
    EXPECT_FALSE(IsMapped(V6NoService));

    // Each failed attempt leaves the name free: the next one loads the file afresh, whatever
    // now lies there.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString swapped = dir.filePath(QStringLiteral("libswapped.so"));
    EXPECT_TRUE(ExpectOSError([&] { GetClientLibrary(swapped); })
                    .Message()
                    .contains(QStringLiteral("libswapped.so")));
    ASSERT_TRUE(QFile::copy(NoPrepare, swapped));
    EXPECT_TRUE(ExpectOSError([&] { GetClientLibrary(swapped); })
                    .Message()
                    .contains(QStringLiteral("isc_dsql_prepare")));
    ASSERT_TRUE(QFile::remove(swapped));
    ASSERT_TRUE(QFile::copy(V42, swapped));
    IIBClientLibraryPtr loaded = GetClientLibrary(swapped);
    EXPECT_EQ(loaded->GetIBClientVersion(), 4);
    loaded->FreeIBLibrary();
}

TEST(IBClientLibrary, VersionComesFromRetainingRollbackOrTheClientItself) {
    IIBClientLibraryPtr v5 = GetClientLibrary(V5);
    EXPECT_EQ(v5->GetIBClientVersion(), 5);
    EXPECT_EQ(v5->GetIBClientMinorVersion(), 0);
    EXPECT_EQ(ExceptionMessage([&] { v5->isc_rollback_retaining(StatusVector(), nullptr); }),
              MissingProcedureMessage(QStringLiteral("isc_rollback_retaining"), V5));
    // The stand-in exports the version 6 entry points, but a version 5 client must not use them.
    ISC_DATE date = 0;
    EXPECT_EQ(ExceptionMessage([&] { v5->isc_decode_sql_date(&date, &date); }),
              MissingProcedureMessage(QStringLiteral("isc_decode_sql_date"), V5));
    EXPECT_EQ(ExceptionMessage([&] { v5->isc_service_detach(StatusVector(), nullptr); }),
              MissingProcedureMessage(QStringLiteral("isc_service_detach"), V5));
    EXPECT_EQ(ExceptionMessage([&] { v5->isc_get_client_major_version(); }),
              MissingProcedureMessage(QStringLiteral("isc_get_client_major_version"), V5));

    IIBClientLibraryPtr v6 = GetClientLibrary(V6);
    EXPECT_EQ(v6->GetIBClientVersion(), 6);
    EXPECT_EQ(v6->GetIBClientMinorVersion(), 0);
    EXPECT_EQ(v6->isc_rollback_retaining(StatusVector(), nullptr), 6);
    ISC_DATE decoded = 0;
    date = 41;
    v6->isc_decode_sql_date(&date, &decoded);
    EXPECT_EQ(decoded, 42);
    // Batch execution comes only with a client that reports its version.
    ISC_ULONG rows = 0;
    EXPECT_EQ(ExceptionMessage([&] {
                  v6->isc_dsql_batch_execute_immed(StatusVector(), nullptr, nullptr, 3, 5, nullptr,
                                                   &rows);
              }),
              MissingProcedureMessage(QStringLiteral("isc_dsql_batch_execute_immed"), V6));

    IIBClientLibraryPtr v42 = GetClientLibrary(V42);
    EXPECT_EQ(v42->GetIBClientVersion(), 4);
    EXPECT_EQ(v42->GetIBClientMinorVersion(), 2);
    EXPECT_EQ(
        v42->isc_dsql_batch_execute_immed(StatusVector(), nullptr, nullptr, 3, 5, nullptr, &rows),
        0);
    EXPECT_EQ(rows, 5u);
    EXPECT_EQ(v42->isc_dsql_batch_execute(StatusVector(), nullptr, nullptr, 3, nullptr, 7, nullptr,
                                          &rows),
              0);
    EXPECT_EQ(rows, 7u);
    char version[64] = {};
    v42->isc_get_client_version(version);
    EXPECT_STREQ(version, "stand-in");
}

TEST(IBClientLibrary, NeverResolvedEntryPointsRaiseTheMissingProcedureError) {
    // The stand-in exports these two; the binding still leaves them alone.
    IIBClientLibraryPtr library = GetClientLibrary(V42);
    EXPECT_EQ(ExceptionMessage([&] { library->isc_cancel_blob(StatusVector(), nullptr); }),
              MissingProcedureMessage(QStringLiteral("isc_cancel_blob"), V42));
    EXPECT_EQ(ExceptionMessage([&] {
                  library->isc_blob_lookup_desc(StatusVector(), nullptr, nullptr, nullptr, nullptr,
                                                nullptr, nullptr);
              }),
              MissingProcedureMessage(QStringLiteral("isc_blob_lookup_desc"), V42));
    EXPECT_EQ(ExceptionMessage([&] {
                  library->isc_array_lookup_desc(StatusVector(), nullptr, nullptr, nullptr, nullptr,
                                                 nullptr);
              }),
              MissingProcedureMessage(QStringLiteral("isc_array_lookup_desc"), V42));
    EXPECT_FALSE(library->GetBusy());
}

TEST(IBClientLibrary, InterpretFallsBackToIscInterprete) {
    ISC_STATUS status[StatusVectorLength] = {isc_arg_gds, 1, isc_arg_gds, 2, isc_arg_end};
    char buffer[128];

    IIBClientLibraryPtr without = GetClientLibrary(NoFbInterpret);
    const ISC_STATUS* cursor = status;
    ASSERT_EQ(without->fb_interpret(buffer, sizeof buffer, &cursor),
              ISC_LONG(strlen(TESTLIB_INTERPRETE_MESSAGE)));
    EXPECT_STREQ(buffer, TESTLIB_INTERPRETE_MESSAGE);
    EXPECT_EQ(cursor, status + 2);
    EXPECT_GT(without->fb_interpret(buffer, sizeof buffer, &cursor), 0);
    EXPECT_EQ(without->fb_interpret(buffer, sizeof buffer, &cursor), 0);

    // A client that has fb_interpret gets it, with the buffer size.
    IIBClientLibraryPtr with = GetClientLibrary(V6);
    cursor = status;
    char small[8];
    EXPECT_EQ(with->fb_interpret(small, sizeof small, &cursor), 7);
    EXPECT_STREQ(small, "message");
    EXPECT_EQ(cursor, status + 2);
}

namespace {

struct TBusyProbe {
    IIBClientLibrary* Library = nullptr;
    int Calls = 0;
    bool BusyInside = false;
};

void ProbeEvent(void* arg, ISC_USHORT, const ISC_UCHAR*) {
    auto* probe = static_cast<TBusyProbe*>(arg);
    ++probe->Calls;
    probe->BusyInside = probe->Library->GetBusy();
}

void ProbeHook(void* arg) {
    ProbeEvent(arg, 0, nullptr);
}

} // namespace

TEST(IBClientLibrary, BusyFlagCoversPlainCallsEvenWhenTheyRaise) {
    IIBClientLibraryPtr library = GetClientLibrary(V6);
    TBusyProbe probe{library.get()};
    ISC_LONG id = 0;

    EXPECT_FALSE(library->GetBusy());
    library->isc_que_events(StatusVector(), nullptr, &id, 0, nullptr, ProbeEvent, &probe);
    EXPECT_EQ(probe.Calls, 1);
    EXPECT_TRUE(probe.BusyInside);
    EXPECT_FALSE(library->GetBusy());

    probe.BusyInside = false;
    EXPECT_THROW(library->isc_que_events(StatusVector(), nullptr, &id, TestLibThrowLength, nullptr,
                                         ProbeEvent, &probe),
                 std::runtime_error);
    EXPECT_EQ(probe.Calls, 2);
    EXPECT_TRUE(probe.BusyInside);
    EXPECT_FALSE(library->GetBusy());

    // Array slices are called without raising the flag.
    TTestLibHook hook{ProbeHook, &probe};
    probe.BusyInside = true;
    library->isc_array_get_slice(StatusVector(), nullptr, nullptr, nullptr, nullptr, &hook,
                                 nullptr);
    EXPECT_EQ(probe.Calls, 3);
    EXPECT_FALSE(probe.BusyInside);
}

TEST(IBClientLibrary, EventBlockHandsOnEveryName) {
    IIBClientLibraryPtr library = GetClientLibrary(V6);
    ISC_UCHAR* events = nullptr;
    ISC_UCHAR* results = nullptr;
    EXPECT_EQ(library->isc_event_block(&events, &results, 3, "A", "BB", "CCC"), 6);
    EXPECT_EQ(library->isc_event_block(&events, &results, 0), 0);
}

TEST(IBClientLibrary, EachThreadHasItsOwnStatusVector) {
    ISC_STATUS* mine = StatusVector();
    EXPECT_EQ(StatusVector(), mine);
    mine[1] = 111;

    ISC_STATUS* theirs = nullptr;
    ISC_STATUS seenThere = -1;
    std::thread other([&] {
        theirs = StatusVector();
        seenThere = theirs[1];
        theirs[1] = 222;
    });
    other.join();

    EXPECT_NE(theirs, mine);
    EXPECT_EQ(seenThere, 0);
    EXPECT_EQ(mine[1], 111);
}

#if defined(__i386__) || defined(__x86_64__)
TEST(IBClientLibrary, LoadingSetsExtendedPrecisionAndRestoringGoesBackToTheDefault) {
    fpu_control_t word = (__fpu_control & ~_FPU_EXTENDED) | _FPU_SINGLE;
    _FPU_SETCW(word);
    GetClientLibrary(V5)->FreeIBLibrary();
    GetClientLibrary(V5);
    fpu_control_t after;
    _FPU_GETCW(after);
    EXPECT_EQ(after, fpu_control_t(word | _FPU_EXTENDED));

    // A word the client library might leave behind: double precision, exceptions unmasked.
    word = fpu_control_t((__fpu_control & ~_FPU_EXTENDED & ~_FPU_MASK_ZM) | _FPU_DOUBLE);
    _FPU_SETCW(word);
    RestoreFPUControlWord();
    _FPU_GETCW(after);
    EXPECT_EQ(after, __fpu_control);
}
#endif

TEST(IBClientLibrary, DecoratorHandsOnEveryKindOfCall) {
    IIBClientLibraryPtr library = GetClientLibrary(V42);
    TForwardingClientLibrary decorator(library.get());
    EXPECT_EQ(decorator.GetIBClientVersion(), 4);

    // The hand-written ones: the event names must reach the client one by one.
    ISC_UCHAR* events = nullptr;
    ISC_UCHAR* results = nullptr;
    EXPECT_EQ(decorator.isc_event_block(&events, &results, 3, "A", "BB", "CCC"), 6);
    ISC_STATUS status[StatusVectorLength] = {isc_arg_gds, 1, isc_arg_end};
    const ISC_STATUS* cursor = status;
    char small[8];
    EXPECT_EQ(decorator.fb_interpret(small, sizeof small, &cursor), 7);
    EXPECT_EQ(cursor, status + 2);

    // Generated ones, a busy call and a quiet one, and the never-bound ones still raise.
    ISC_ULONG rows = 0;
    EXPECT_EQ(decorator.isc_dsql_batch_execute_immed(StatusVector(), nullptr, nullptr, 3, 5,
                                                     nullptr, &rows),
              0);
    EXPECT_EQ(rows, 5u);
    TBusyProbe probe{&decorator};
    TTestLibHook hook{ProbeHook, &probe};
    probe.BusyInside = true;
    decorator.isc_array_get_slice(StatusVector(), nullptr, nullptr, nullptr, nullptr, &hook,
                                  nullptr);
    EXPECT_EQ(probe.Calls, 1);
    EXPECT_FALSE(probe.BusyInside);
    EXPECT_EQ(ExceptionMessage([&] { decorator.isc_add_user(StatusVector(), nullptr); }),
              MissingProcedureMessage(QStringLiteral("isc_add_user"), V42));
}
